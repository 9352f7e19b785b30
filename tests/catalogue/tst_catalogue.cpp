#include "support/testfiles.h"

#include "catalogue/catalogue.h"
#include "serving/valdrinbas.h"
#include "platform/rowlist.h"
#include "serving/linkserver.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;
using testfiles::readBytes;
using testfiles::writeBytes;

class TestCatalogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    // Start-up load and the save at close.
    void firstStartWithoutFiles();
    void filesOfUnequalLengthLoadAsTheyAre();
    void loadThenSaveRewritesEveryLineWithCrLf();
    void serverMessageComesBackAsSaved_data();
    void serverMessageComesBackAsSaved();
    void listPagesStartAsOneEmptyPage();

    // Every change is on disk at once.
    void addIgnoresAnEmptyBox();
    void addAppendsAndSaves();
    void removeTakesBothRowsAndSaves();
    void catalogueLongerThanTheLimitLoadsAndSavesWhole();
    void addPastTheLimitIsRefused();

    // Failures reach the operator; nothing is overwritten that could not be read.
    void unreadableFileIsNeverOverwritten();
    void failedSaveNamesTheFileAndKeepsTheOtherInStep();
    void failedSaveAfterAnAddIsReported();

private:
    DataFolder folder() const { return DataFolder(m_dir->path()); }

    std::unique_ptr<testfiles::DataFolder> m_dir;
};

void TestCatalogue::init()
{
    m_dir = std::make_unique<testfiles::DataFolder>();
    QVERIFY(m_dir->isValid());
    ValdrinBas::ListPages = ListPageSet(StringRowList({u"stale"_s}));
    ValdrinBas::ServerMessage = u"stale message"_s;
}

void TestCatalogue::firstStartWithoutFiles()
{
    StringRowList descriptions;
    StringRowList addresses;
    LinkServer server(nullptr, descriptions, addresses, folder());
    QVERIFY(server.load().isEmpty());
    Catalogue &catalogue = server.catalogue();
    QCOMPARE(catalogue.itemCount(), 0);
    QCOMPARE(Catalogue::countCaption(catalogue.itemCount()), u"Server Items: 0"_s);
    QVERIFY(ValdrinBas::ServerMessage.isEmpty());

    QVERIFY(catalogue.save().ok());
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray());
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray());
    QVERIFY(!QFile::exists(m_dir->filePath(u"message.txt"_s)));
}

void TestCatalogue::filesOfUnequalLengthLoadAsTheyAre()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "A\r\nB\r\nC\r\n"));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "a.htm\r\nb.htm\r\n"));
    StringRowList descriptions;
    StringRowList addresses;
    Catalogue catalogue(descriptions, addresses, folder());
    QVERIFY(catalogue.load().isEmpty());
    QCOMPARE(descriptions.ListCount(), 3);
    QCOMPARE(addresses.ListCount(), 2);
    QCOMPARE(Catalogue::countCaption(catalogue.itemCount()), u"Server Items: 3"_s);
}

void TestCatalogue::loadThenSaveRewritesEveryLineWithCrLf()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "Alpha\r\n\r\nwith\nfeeds\nLast"));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "a.htm\rb.htm\r\nc.htm\r\nd.htm"));
    StringRowList descriptions;
    StringRowList addresses;
    Catalogue catalogue(descriptions, addresses, folder());
    QVERIFY(catalogue.load().isEmpty());
    QCOMPARE(descriptions.allRows(), (QStringList{u"Alpha"_s, QString(), u"with\nfeeds\nLast"_s}));
    QVERIFY(catalogue.save().ok());
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray("Alpha\r\n\r\nwith\nfeeds\nLast\r\n"));
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray("a.htm\r\nb.htm\r\nc.htm\r\nd.htm\r\n"));
}

void TestCatalogue::serverMessageComesBackAsSaved_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("two lines") << u"first line\r\nsecond line"_s;
    QTest::newRow("ends in a line break") << u"text\r\n"_s;
    QTest::newRow("commas and quotes") << u"say \"hi\", then go"_s;
    QTest::newRow("empty") << QString();
}

void TestCatalogue::serverMessageComesBackAsSaved()
{
    QFETCH(QString, message);
    QVERIFY(addon::WriteTextFile(folder().messagePath(), message).ok());
    StringRowList descriptions;
    StringRowList addresses;
    LinkServer server(nullptr, descriptions, addresses, folder());
    QVERIFY(server.load().isEmpty());
    QCOMPARE(ValdrinBas::ServerMessage, message);
}

void TestCatalogue::listPagesStartAsOneEmptyPage()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "A\r\n"));
    StringRowList descriptions;
    StringRowList addresses;
    LinkServer server(nullptr, descriptions, addresses, folder());
    QVERIFY(server.load().isEmpty());
    QCOMPARE(ValdrinBas::ListPages, ListPageSet());
}

void TestCatalogue::addIgnoresAnEmptyBox()
{
    StringRowList descriptions;
    StringRowList addresses;
    Catalogue catalogue(descriptions, addresses, folder());
    QVERIFY(catalogue.load().isEmpty());
    for (const auto &[description, address] : {std::pair{u"Page"_s, QString()}, std::pair{QString(), u"a.htm"_s}}) {
        const CatalogueEdit edit = catalogue.add(description, address);
        QVERIFY(!edit.done);
        QVERIFY(edit.message.isEmpty());
    }
    QCOMPARE(catalogue.itemCount(), 0);
    QVERIFY(!QFile::exists(m_dir->filePath(u"descriptions.dat"_s)));
}

void TestCatalogue::addAppendsAndSaves()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "Alpha\r\nBeta\r\n"));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "a.htm\r\nb.htm\r\n"));
    StringRowList descriptions;
    StringRowList addresses;
    Catalogue catalogue(descriptions, addresses, folder());
    QVERIFY(catalogue.load().isEmpty());

    const CatalogueEdit edit = catalogue.add(u"   "_s, u"c.htm"_s);
    QVERIFY(edit.done);
    QVERIFY(edit.message.isEmpty());
    QVERIFY(catalogue.add(u"   "_s, u"c.htm"_s).done); // duplicates are not refused
    QCOMPARE(catalogue.itemCount(), 4);
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray("Alpha\r\nBeta\r\n   \r\n   \r\n"));
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray("a.htm\r\nb.htm\r\nc.htm\r\nc.htm\r\n"));
}

void TestCatalogue::removeTakesBothRowsAndSaves()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "A\r\nB\r\nC\r\n"));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "a\r\nb\r\nc\r\n"));
    StringRowList descriptions;
    StringRowList addresses;
    Catalogue catalogue(descriptions, addresses, folder());
    QVERIFY(catalogue.load().isEmpty());

    QVERIFY(catalogue.remove(1, 1).done);
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray("A\r\nC\r\n"));
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray("a\r\nc\r\n"));

    const CatalogueEdit nothingSelected = catalogue.remove(-1, -1);
    QVERIFY(!nothingSelected.done);
    QCOMPARE(catalogue.itemCount(), 2);
}

void TestCatalogue::catalogueLongerThanTheLimitLoadsAndSavesWhole()
{
    const QStringList rows = testfiles::sampleRows(Catalogue::MaximumItems + 100);
    QVERIFY(addon::SaveList(folder().descriptionsPath(), StringRowList(rows)).ok());
    QVERIFY(addon::SaveList(folder().addressesPath(), StringRowList(rows)).ok());
    const QByteArray before = readBytes(folder().descriptionsPath());

    StringRowList descriptions;
    StringRowList addresses;
    Catalogue catalogue(descriptions, addresses, folder());
    QVERIFY(catalogue.load().isEmpty());
    QCOMPARE(catalogue.itemCount(), Catalogue::MaximumItems + 100);
    QVERIFY(catalogue.save().ok());
    QCOMPARE(readBytes(folder().descriptionsPath()), before);
}

void TestCatalogue::addPastTheLimitIsRefused()
{
    StringRowList descriptions(testfiles::sampleRows(Catalogue::MaximumItems - 1));
    StringRowList addresses(testfiles::sampleRows(Catalogue::MaximumItems - 1));
    Catalogue catalogue(descriptions, addresses, folder());

    QVERIFY(catalogue.add(u"the last one"_s, u"last.htm"_s).done);
    QCOMPARE(catalogue.itemCount(), Catalogue::MaximumItems);

    const CatalogueEdit refused = catalogue.add(u"one too many"_s, u"more.htm"_s);
    QVERIFY(!refused.done);
    QVERIFY2(refused.message.contains(u"32767"_s), qPrintable(refused.message));
    QCOMPARE(catalogue.itemCount(), Catalogue::MaximumItems);
    QCOMPARE(addresses.ListCount(), Catalogue::MaximumItems);
}

void TestCatalogue::unreadableFileIsNeverOverwritten()
{
    const QByteArray storedDescriptions("Only copy 1\r\nOnly copy 2\r\n");
    const QByteArray storedAddresses("one.htm\r\ntwo.htm\r\n");
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), storedDescriptions));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), storedAddresses));
    StringRowList descriptions;
    StringRowList addresses;
    Catalogue catalogue(descriptions, addresses, folder());
    QStringList problems;
    {
        testfiles::NoFreeFileDescriptors exhausted;
        problems = catalogue.load();
    }
    QVERIFY(!problems.isEmpty());
    QVERIFY2(problems.join(u' ').contains(u"descriptions.dat"_s), qPrintable(problems.join(u' ')));
    QVERIFY(catalogue.filesHeld());

    // Neither a change nor the close writes over the rows that only the files hold.
    QVERIFY(catalogue.add(u"new"_s, u"new.htm"_s).done);
    const FileResult saved = catalogue.save();
    QVERIFY(!saved.ok());
    QVERIFY2(saved.error.contains(u"descriptions.dat"_s), qPrintable(saved.error));
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), storedDescriptions);
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), storedAddresses);
}

void TestCatalogue::failedSaveNamesTheFileAndKeepsTheOtherInStep()
{
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "a.htm\r\n"));
    StringRowList descriptions(QStringList{u"A"_s, u"B"_s});
    StringRowList addresses(QStringList{u"a.htm"_s, u"b.htm"_s});
    Catalogue catalogue(descriptions, addresses, folder());
    // A folder in the place of the file cannot be replaced.
    QVERIFY(QDir(m_dir->path()).mkdir(u"descriptions.dat"_s));

    const FileResult saved = catalogue.save();
    QVERIFY(!saved.ok());
    QVERIFY2(saved.error.contains(u"descriptions.dat"_s), qPrintable(saved.error));
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray("a.htm\r\n"));

    QVERIFY(QDir(m_dir->filePath(u"descriptions.dat"_s)).removeRecursively());
    QVERIFY(catalogue.save().ok()); // trying again once the cause is gone saves both
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray("A\r\nB\r\n"));
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray("a.htm\r\nb.htm\r\n"));
}

void TestCatalogue::failedSaveAfterAnAddIsReported()
{
    StringRowList descriptions;
    StringRowList addresses;
    Catalogue catalogue(descriptions, addresses, folder());
    QVERIFY(catalogue.load().isEmpty());
    CatalogueEdit edit;
    {
        testfiles::FileSizeLimit diskFull(0);
        edit = catalogue.add(u"Kept in memory"_s, u"kept.htm"_s);
    }
    QVERIFY(edit.done);
    QVERIFY2(edit.message.contains(u"descriptions.dat"_s), qPrintable(edit.message));
    QCOMPARE(catalogue.itemCount(), 1);
    QVERIFY(catalogue.save().ok());
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray("Kept in memory\r\n"));
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
