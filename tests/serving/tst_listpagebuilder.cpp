#include "platform/rowlist.h"
#include "serving/listpagebuilder.h"
#include "serving/listpages.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

StringRowList numberedRows(int count)
{
    StringRowList rows;
    for (int i = 0; i < count; ++i)
        rows.AddItem(u"d"_s + QString::number(i));
    return rows;
}

// The row numbers a page shows, read back from its text.
QList<int> rowNumbersOn(const QString &page)
{
    QList<int> numbers;
    const QStringList lines = page.split(u'\r');
    for (const QString &line : lines.mid(1))
        numbers.append(line.section(u')', 0, 0).toInt());
    return numbers;
}

QList<int> range(int first, int last)
{
    QList<int> numbers;
    for (int i = first; i <= last; ++i)
        numbers.append(i);
    return numbers;
}

} // namespace

using PageRanges = QList<QPair<int, int>>;

class TestListPageBuilder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pagesAreCutAfterRow20ThenEveryTwentyRows_data();
    void pagesAreCutAfterRow20ThenEveryTwentyRows();
    void pageTextIsExact_data();
    void pageTextIsExact();
    void buildReplacesEveryPage();
    void buildList2AppendsOneEmptyPage();
};

void TestListPageBuilder::pagesAreCutAfterRow20ThenEveryTwentyRows_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<PageRanges>("pages");
    QTest::newRow("0") << 0 << PageRanges{{0, -1}};
    QTest::newRow("1") << 1 << PageRanges{{0, 0}};
    QTest::newRow("20") << 20 << PageRanges{{0, 19}};
    QTest::newRow("21") << 21 << PageRanges{{0, 20}};
    QTest::newRow("22") << 22 << PageRanges{{0, 20}, {21, 21}};
    QTest::newRow("40") << 40 << PageRanges{{0, 20}, {21, 39}};
    QTest::newRow("41") << 41 << PageRanges{{0, 20}, {21, 40}};
    QTest::newRow("42") << 42 << PageRanges{{0, 20}, {21, 40}, {41, 41}};
    QTest::newRow("61") << 61 << PageRanges{{0, 20}, {21, 40}, {41, 60}};
}

void TestListPageBuilder::pagesAreCutAfterRow20ThenEveryTwentyRows()
{
    QFETCH(int, rows);
    QFETCH(PageRanges, pages);
    ListPageSet built(numberedRows(99));
    ListPageBuilder::BuildList(numberedRows(rows), built);
    QCOMPARE(built.size(), pages.size());
    for (qsizetype page = 0; page < pages.size(); ++page)
        QCOMPARE(rowNumbersOn(built.at(int(page))), range(pages[page].first, pages[page].second));
    QCOMPARE(built.at(int(pages.size())), QString()); // past the last page
}

void TestListPageBuilder::pageTextIsExact_data()
{
    QTest::addColumn<QStringList>("descriptions");
    QTest::addColumn<QStringList>("pages");
    QTest::newRow("empty catalogue") << QStringList() << QStringList{QString()};
    QTest::newRow("one item") << QStringList{u"Alpha"_s} << QStringList{u"\r0) Alpha"_s};
    QTest::newRow("two items") << QStringList{u"Alpha"_s, u"Beta"_s} << QStringList{u"\r0) Alpha\r1) Beta"_s};
    QTest::newRow("markup copied unchanged") << QStringList{u"a < b & c"_s} << QStringList{u"\r0) a < b & c"_s};
    QTest::newRow("empty description") << QStringList{QString(), u"x"_s} << QStringList{u"\r0) \r1) x"_s};
    QTest::newRow("letters beyond ASCII")
        << QStringList{u"Café crème"_s, u"日本"_s} << QStringList{u"\r0) Café crème\r1) 日本"_s};
}

void TestListPageBuilder::pageTextIsExact()
{
    QFETCH(QStringList, descriptions);
    QFETCH(QStringList, pages);
    ListPageSet built;
    ListPageBuilder::BuildList(StringRowList(descriptions), built);
    QCOMPARE(built.texts(), pages);
}

void TestListPageBuilder::buildReplacesEveryPage()
{
    StringRowList rows = numberedRows(32767);
    ListPageSet first;
    ListPageBuilder::BuildList(rows, first);
    QCOMPARE(first.size(), 1 + (32767 - 21 + 19) / 20);
    const QString last = first.at(first.size() - 1);
    QCOMPARE(rowNumbersOn(last), range(32761, 32766));
    QVERIFY(last.endsWith(u"\r32766) d32766"_s));

    ListPageSet second = first;
    ListPageBuilder::BuildList(rows, second);
    QCOMPARE(second.texts(), first.texts()); // two builds of the same rows agree

    // After removals a rebuild holds exactly the pages of the rows left, while
    // the pages built before keep the rows they were built from.
    StringRowList left;
    for (int row = rows.ListCount() - 22; row < rows.ListCount(); ++row)
        left.AddItem(rows.List(row));
    rows = left;
    ListPageBuilder::BuildList(rows, second);
    QCOMPARE(second.size(), 2);
    QCOMPARE(second.at(1), u"\r21) d32766"_s);
    QCOMPARE(first.at(first.size() - 1), last);
}

void TestListPageBuilder::buildList2AppendsOneEmptyPage()
{
    ListPageSet pages(numberedRows(22));
    const QStringList before = pages.texts();
    ListPageBuilder::BuildList2(pages);
    QCOMPARE(pages.texts(), before + QStringList{QString()});
    QCOMPARE(ListPageSet().texts(), QStringList{QString()}); // before any build: one empty page
}

QTEST_APPLESS_MAIN(TestListPageBuilder)
#include "tst_listpagebuilder.moc"
