#include "support/cataloguefixture.h"
#include "support/testfiles.h"

#include "catalogue/catalogue.h"
#include "catalogue/cataloguesearch.h"
#include "catalogue/cataloguetransfer.h"
#include "platform/rowlist.h"
#include "serving/cataloguechange.h"
#include "serving/linkserver.h"
#include "serving/servingtexts.h"
#include "serving/valdrinbas.h"

#include <QDir>
#include <QLockFile>
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
    void olderEncodingsAreToldOnceAndSavedAsUtf8();
    void interruptedSavesAreFinishedOrUndone_data();
    void interruptedSavesAreFinishedOrUndone();
    void serverMessageComesBackAsSaved_data();
    void serverMessageComesBackAsSaved();
    void listPagesStartAsOneEmptyPage();

    // Every change is on disk at once.
    void addIgnoresAnEmptyBox();
    void addAppendsAndSaves();
    void removeTakesBothRowsAndSaves();
    void catalogueLongerThanTheLimitLoadsAndSavesWhole();
    void addPastTheLimitIsRefused();
    void addRefusesWhatARowCannotHold_data();
    void addRefusesWhatARowCannotHold();
    void reloadWaitsForFilesInStep();
    void changesApplyToTheFilesAsAnotherProgramLeftThem();
    void serverMessageLongerThanAReplyIsRefused();

    // Failures reach the operator; nothing is overwritten that could not be read.
    void unreadableFileIsNeverOverwritten();
    void failedSaveNamesTheFileAndKeepsTheOtherInStep();
    void failedSaveAfterAnAddIsReported();
    void searchFindsItemsWithEveryWord_data();
    void searchFindsItemsWithEveryWord();
    void searchBoundsWhatAMemberTypes();
    void exportReadsBackToTheSameBytes();
    void hostileFilesAreReadSafely();
    void importIsAllOrNothing();

private:
    DataFolder folder() const { return DataFolder(m_dir->path()); }
    // Writes the two files and loads the catalogue from them; nothing when a
    // file could not be written or the load had something to tell.
    [[nodiscard]] std::unique_ptr<CatalogueFixture> loadedCatalogue(const QByteArray &descriptions,
                                                                    const QByteArray &urls) const;

    std::unique_ptr<testfiles::DataFolder> m_dir;
};

void TestCatalogue::init()
{
    m_dir = std::make_unique<testfiles::DataFolder>();
    QVERIFY(m_dir->isValid());
}

std::unique_ptr<CatalogueFixture> TestCatalogue::loadedCatalogue(const QByteArray &descriptions,
                                                                 const QByteArray &urls) const
{
    if (!writeBytes(m_dir->filePath(u"descriptions.dat"_s), descriptions) ||
        !writeBytes(m_dir->filePath(u"urls.dat"_s), urls))
        return nullptr;
    auto fixture = std::make_unique<CatalogueFixture>(folder());
    return fixture->catalogue.load().isEmpty() ? std::move(fixture) : nullptr;
}

void TestCatalogue::firstStartWithoutFiles()
{
    StringRowList descriptions;
    StringRowList addresses;
    LinkServer server(descriptions, addresses, folder());
    QVERIFY(server.load().isEmpty());
    Catalogue &catalogue = server.catalogue();
    QCOMPARE(catalogue.itemCount(), 0);
    QVERIFY(server.values().ServerMessage.isEmpty());

    QVERIFY(catalogue.save().ok());
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray());
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray());
    QVERIFY(!QFile::exists(m_dir->filePath(u"message.txt"_s)));
}

void TestCatalogue::filesOfUnequalLengthLoadAsTheyAre()
{
    const std::unique_ptr<CatalogueFixture> loaded = loadedCatalogue("A\r\nB\r\nC\r\n", "a.htm\r\nb.htm\r\n");
    QVERIFY(loaded);
    auto &[descriptions, addresses, catalogue] = *loaded;
    QCOMPARE(descriptions.ListCount(), 3);
    QCOMPARE(addresses.ListCount(), 2);
    QCOMPARE(catalogue.itemCount(), 3);

    // No add pairs a new address with the left-over description "C".
    const CatalogueEdit refused = catalogue.add(u"D"_s, u"d.htm"_s);
    QVERIFY(!refused.done);
    QVERIFY2(refused.message.contains(u"row 3: C"_s), qPrintable(refused.message));
    QVERIFY(catalogue.removeUnmatchedRows().done);
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray("A\r\nB\r\n"));
    QVERIFY(catalogue.add(u"D"_s, u"d.htm"_s).done);
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray("a.htm\r\nb.htm\r\nd.htm\r\n"));
}

void TestCatalogue::olderEncodingsAreToldOnceAndSavedAsUtf8()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "\xEF\xBB\xBF"
                                                               "Caf\xC3\xA9\r\n\x93Old\x94\r\n"));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "a.htm\r\nb.htm\r\n"));
    StringRowList descriptions;
    StringRowList addresses;
    Catalogue catalogue(descriptions, addresses, folder());
    const QStringList told = catalogue.load();
    QCOMPARE(told.size(), 1);
    QVERIFY2(told.first().contains(u"descriptions.dat: 1 row was not UTF-8 text"_s), qPrintable(told.first()));
    QVERIFY(catalogue.save().ok());
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)),
             QByteArray("\xEF\xBB\xBF"
                        "Caf\xC3\xA9\r\n\xE2\x80\x9COld\xE2\x80\x9D\r\n"));
    StringRowList again;
    StringRowList againAddresses;
    QVERIFY(Catalogue(again, againAddresses, folder()).load().isEmpty());
    QCOMPARE(again.allRows(), descriptions.allRows());
}

void TestCatalogue::interruptedSavesAreFinishedOrUndone_data()
{
    // The files a save leaves when the program is killed at each of its steps.
    QTest::addColumn<QByteArrayList>("newFiles"); // descriptions.dat.valdrin-new, urls.dat.valdrin-new ("" = none)
    QTest::addColumn<bool>("journal");
    QTest::addColumn<bool>("descriptionsReplaced");
    QTest::addColumn<bool>("urlsReplaced");
    QTest::addColumn<bool>("expectNew");
    QTest::newRow("while writing the first new file")
        << QByteArrayList{"New\r\nhalf", ""} << false << false << false << false;
    QTest::newRow("while writing the second")
        << QByteArrayList{"New\r\nRows\r\n", "new"} << false << false << false << false;
    QTest::newRow("before the journal") << QByteArrayList{"New\r\nRows\r\n", "new.htm\r\nrows.htm\r\n"} << false
                                        << false << false << false;
    QTest::newRow("after the journal") << QByteArrayList{"New\r\nRows\r\n", "new.htm\r\nrows.htm\r\n"} << true << false
                                       << false << true;
    QTest::newRow("between the two renames")
        << QByteArrayList{"", "new.htm\r\nrows.htm\r\n"} << true << true << false << true;
    QTest::newRow("before the journal goes") << QByteArrayList{"", ""} << true << true << true << true;
}

void TestCatalogue::interruptedSavesAreFinishedOrUndone()
{
    QFETCH(QByteArrayList, newFiles);
    QFETCH(bool, journal);
    QFETCH(bool, descriptionsReplaced);
    QFETCH(bool, urlsReplaced);
    QFETCH(bool, expectNew);
    const QByteArray oldDescriptions("Old\r\n"), oldUrls("old.htm\r\n");
    const QByteArray newDescriptions("New\r\nRows\r\n"), newUrls("new.htm\r\nrows.htm\r\n");
    QVERIFY(
        writeBytes(m_dir->filePath(u"descriptions.dat"_s), descriptionsReplaced ? newDescriptions : oldDescriptions));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), urlsReplaced ? newUrls : oldUrls));
    if (!newFiles[0].isEmpty())
        QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat.valdrin-new"_s), newFiles[0]));
    if (!newFiles[1].isEmpty())
        QVERIFY(writeBytes(m_dir->filePath(u"urls.dat.valdrin-new"_s), newFiles[1]));
    if (journal)
        QVERIFY(writeBytes(m_dir->filePath(u"catalogue.journal"_s), "Replacing\n"));

    StringRowList descriptions;
    StringRowList addresses;
    const QStringList told = Catalogue(descriptions, addresses, folder()).load();
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), expectNew ? newDescriptions : oldDescriptions);
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), expectNew ? newUrls : oldUrls);
    QCOMPARE(descriptions.ListCount(), addresses.ListCount());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), (QStringList{u"descriptions.dat"_s, u"urls.dat"_s}));
    // A finished save needs no word; a lost one is told.
    QCOMPARE(told.isEmpty(), expectNew);
    if (!expectNew)
        QVERIFY2(told.first().contains(u"did not finish"_s), qPrintable(told.first()));
}

void TestCatalogue::loadThenSaveRewritesEveryLineWithCrLf()
{
    const std::unique_ptr<CatalogueFixture> loaded =
        loadedCatalogue("Alpha\r\n\r\nwith\nfeeds\nLast", "a.htm\rb.htm\r\nc.htm\r\nd.htm");
    QVERIFY(loaded);
    auto &[descriptions, addresses, catalogue] = *loaded;
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
    LinkServer server(descriptions, addresses, folder());
    QVERIFY(server.load().isEmpty());
    QCOMPARE(server.values().ServerMessage, message);
}

void TestCatalogue::listPagesStartAsOneEmptyPage()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "A\r\n"));
    StringRowList descriptions;
    StringRowList addresses;
    LinkServer server(descriptions, addresses, folder());
    server.values().ListPages = ListPageSet(StringRowList({u"stale"_s}));
    QVERIFY(server.load().isEmpty());
    QCOMPARE(server.values().ListPages, ListPageSet());
}

void TestCatalogue::addIgnoresAnEmptyBox()
{
    CatalogueFixture fixture(folder());
    auto &[descriptions, addresses, catalogue] = fixture;
    QVERIFY(catalogue.load().isEmpty());
    for (const auto &[description, address] : {std::pair{u"Page"_s, QString()}, std::pair{QString(), u"a.htm"_s}}) {
        const CatalogueEdit edit = catalogue.add(description, address);
        QVERIFY(!edit.done);
        QVERIFY(edit.message.isEmpty());
    }
    QCOMPARE(catalogue.itemCount(), 0);
    QVERIFY(!QFile::exists(m_dir->filePath(u"descriptions.dat"_s)));
}

void TestCatalogue::addRefusesWhatARowCannotHold_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("address");
    QTest::newRow("CR in the description") << u"cr\rinside"_s << u"a.htm"_s;
    QTest::newRow("LF in the description") << u"lf\ninside"_s << u"a.htm"_s;
    QTest::newRow("NUL in the description") << u"nul\u0000inside"_s << u"a.htm"_s;
    QTest::newRow("tab in the description") << u"tab\tinside"_s << u"a.htm"_s;
    QTest::newRow("CR LF in the address") << u"Page"_s << u"a.htm\r\nb.htm"_s;
    QTest::newRow("DEL in the address") << u"Page"_s << u"a\u007F.htm"_s;
    QTest::newRow("blank address") << u"Page"_s << u"   "_s;
    // Line breaks outside ASCII: members would get the row in pieces.
    QTest::newRow("NEL in the description") << u"nel\u0085inside"_s << u"a.htm"_s;
    QTest::newRow("line separator in the address") << u"Page"_s << u"a\u2028.htm"_s;
    QTest::newRow("paragraph separator in the description") << u"par\u2029inside"_s << u"a.htm"_s;
}

void TestCatalogue::addRefusesWhatARowCannotHold()
{
    QFETCH(QString, description);
    QFETCH(QString, address);
    const std::unique_ptr<CatalogueFixture> loaded = loadedCatalogue("Alpha\r\n", "a.htm\r\n");
    QVERIFY(loaded);
    auto &[descriptions, addresses, catalogue] = *loaded;
    const CatalogueEdit edit = catalogue.add(description, address);
    QVERIFY(!edit.done);
    QVERIFY2(edit.message.startsWith(u"The item was not added: "_s), qPrintable(edit.message));
    QCOMPARE(catalogue.itemCount(), 1);
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray("Alpha\r\n"));
    QVERIFY(catalogue.add(u"Beta"_s, u"b.htm"_s).done); // the next add is not held up
}

void TestCatalogue::reloadWaitsForFilesInStep()
{
    const std::unique_ptr<CatalogueFixture> loaded = loadedCatalogue("Alpha\r\nBeta\r\n", "a.htm\r\nb.htm\r\n");
    QVERIFY(loaded);
    auto &[descriptions, addresses, catalogue] = *loaded;

    // One file written, the other not yet; one file removed: the catalogue in use stays.
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "Alpha\r\n"));
    FileResult reloaded = catalogue.reload();
    QVERIFY2(reloaded.error.contains(u"out of step"_s), qPrintable(reloaded.error));
    QCOMPARE(descriptions.ListCount(), 2);
    QVERIFY(QFile::remove(m_dir->filePath(u"descriptions.dat"_s)));
    QVERIFY(!catalogue.reload().ok());
    QCOMPARE(addresses.List(1), u"b.htm"_s);

    // In step again: taken; both gone is an empty catalogue.
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "Gamma\r\n"));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "c.htm\r\n"));
    QVERIFY(catalogue.reload().ok());
    QCOMPARE(descriptions.List(0), u"Gamma"_s);
    QVERIFY(QFile::remove(m_dir->filePath(u"descriptions.dat"_s)));
    QVERIFY(QFile::remove(m_dir->filePath(u"urls.dat"_s)));
    QVERIFY(catalogue.reload().ok());
    QCOMPARE(catalogue.itemCount(), 0);
}

void TestCatalogue::changesApplyToTheFilesAsAnotherProgramLeftThem()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "Alpha\r\nBeta\r\n"));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "a.htm\r\nb.htm\r\n"));
    StringRowList descriptions;
    StringRowList addresses;
    LinkServer server(descriptions, addresses, folder());
    QVERIFY(server.load().isEmpty());
    using namespace CatalogueChange;

    // Another program removed Alpha and added Gamma: an add keeps both of its changes.
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "Beta\r\nGamma\r\n"));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "b.htm\r\nc.htm\r\n"));
    Outcome outcome = apply({server.catalogue(), server.serverMessageFile()}, AddItem{u"Delta"_s, u"d.htm"_s}, 0);
    QVERIFY2(outcome.changed(), qPrintable(outcome.told));
    QCOMPARE(outcome.told, u"Added item 2: Delta"_s);
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray("Beta\r\nGamma\r\nDelta\r\n"));

    // Item 0 as a page loaded before showed it is gone: nothing is removed.
    outcome = apply({server.catalogue(), server.serverMessageFile()},
                    RemoveItem{SeenItem::numbered(0, u"Alpha"_s, u"a.htm"_s)}, 0);
    QCOMPARE(outcome.result, Outcome::Result::Refused);
    QCOMPARE(outcome.told, u"The catalogue changed since this page was loaded; nothing was changed."_s);
    outcome = apply({server.catalogue(), server.serverMessageFile()},
                    EditItem{SeenItem::numbered(0, u"Alpha"_s, u"a.htm"_s), u"New"_s, u"n.htm"_s}, 0);
    QCOMPARE(outcome.result, Outcome::Result::Refused);
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray("b.htm\r\nc.htm\r\nd.htm\r\n"));
    QCOMPARE(apply({server.catalogue(), server.serverMessageFile()}, RemoveItem{SeenItem::numbered(3)}, 0).told,
             u"There is no item 3."_s);
    outcome = apply({server.catalogue(), server.serverMessageFile()},
                    RemoveItem{SeenItem::numbered(0, u"Beta"_s, u"b.htm"_s)}, 0);
    QCOMPARE(outcome.told, u"Removed item 0: Beta"_s);

    // Another change holds the lock: nothing is changed, and the text says what to do.
    QLockFile other(folder().lockPath());
    QVERIFY(other.tryLock(0));
    outcome = apply({server.catalogue(), server.serverMessageFile()}, AddItem{u"Epsilon"_s, u"e.htm"_s}, 0);
    QCOMPARE(outcome.result, Outcome::Result::FilesFailed);
    QVERIFY2(outcome.told.contains(u"Try again in a moment"_s), qPrintable(outcome.told));
    QCOMPARE(descriptions.ListCount(), 2);
}

void TestCatalogue::serverMessageLongerThanAReplyIsRefused()
{
    StringRowList descriptions;
    StringRowList addresses;
    LinkServer server(descriptions, addresses, folder());
    QVERIFY(server.load().isEmpty());
    // The largest message an item reply carries whole is taken; one byte more, or
    // 16 KiB of message (which a reply cannot carry with its own text), is not.
    const qsizetype frame = ServingTexts::utf8Size(ServingTexts::itemReply({}, {}, {}));
    const QString largest(ServingTexts::LongestMessageBytes - frame, u'm');
    QVERIFY(server.saveServerMessage(largest).ok());
    const QByteArray stored = readBytes(folder().messagePath());
    for (const qsizetype size :
         {largest.size() + 1, ServingTexts::LongestMessageBytes - 1, ServingTexts::LongestMessageBytes}) {
        const CatalogueChange::Outcome outcome = CatalogueChange::apply(
            {server.catalogue(), server.serverMessageFile()}, CatalogueChange::SetMessage{QString(size, u'm')}, 0);
        QCOMPARE(outcome.result, CatalogueChange::Outcome::Result::Refused);
        QVERIFY2(outcome.told.startsWith(u"The server message was not set: "_s), qPrintable(outcome.told));
        QVERIFY2(outcome.told.contains(u"Shorten it by at least %1 bytes"_s.arg(size - largest.size())),
                 qPrintable(outcome.told));
    }
    // A control character other than a line break (a NUL from a file of the wrong kind) is never stored.
    const CatalogueChange::Outcome nul = CatalogueChange::apply({server.catalogue(), server.serverMessageFile()},
                                                                CatalogueChange::SetMessage{u"a\r\nb"_s + QChar(0)}, 0);
    QCOMPARE(nul.result, CatalogueChange::Outcome::Result::Unstorable);
    QCOMPARE(server.values().ServerMessage, largest);
    QCOMPARE(readBytes(folder().messagePath()), stored);
}

void TestCatalogue::addAppendsAndSaves()
{
    const std::unique_ptr<CatalogueFixture> loaded = loadedCatalogue("Alpha\r\nBeta\r\n", "a.htm\r\nb.htm\r\n");
    QVERIFY(loaded);
    auto &[descriptions, addresses, catalogue] = *loaded;

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
    const std::unique_ptr<CatalogueFixture> loaded = loadedCatalogue("A\r\nB\r\nC\r\n", "a\r\nb\r\nc\r\n");
    QVERIFY(loaded);
    auto &[descriptions, addresses, catalogue] = *loaded;

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
        // Room for the new descriptions file, not for the addresses.
        testfiles::FileSizeLimit diskFull(20);
        edit = catalogue.add(u"Kept in memory"_s, u"a-long-address-that-does-not-fit.htm"_s);
    }
    QVERIFY(edit.done);
    QVERIFY2(edit.message.contains(u"urls.dat: the file would grow past"_s) &&
                 edit.message.contains(u"descriptions.dat and urls.dat were not changed"_s),
             qPrintable(edit.message));
    QVERIFY(QDir(m_dir->path()).entryList(QDir::Files).isEmpty()); // no new file left behind
    QCOMPARE(catalogue.itemCount(), 1);
    QVERIFY(catalogue.save().ok());
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray("Kept in memory\r\n"));
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray("a-long-address-that-does-not-fit.htm\r\n"));
}

void TestCatalogue::searchFindsItemsWithEveryWord_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QList<int>>("items");
    QTest::newRow("one word, any case") << u"DEBIAN"_s << QList<int>{0, 1};
    QTest::newRow("every word, in either field") << u"debian iso.example"_s << QList<int>{1};
    QTest::newRow("accents do not count") << u"cafe"_s << QList<int>{2};
    QTest::newRow("nor on the query's side") << u"CAFÉ"_s << QList<int>{2};
    QTest::newRow("letters that fold to two") << u"STRASSE"_s << QList<int>{3};
    QTest::newRow("ligatures and full-width letters") << u"ｆｉｌｅ"_s << QList<int>{4};
    QTest::newRow("plain text, not a pattern") << u"d.b"_s << QList<int>{};
    QTest::newRow("no word matches across the two fields") << u"installerhttps"_s << QList<int>{};
    QTest::newRow("nothing") << u"nowhere"_s << QList<int>{};
    QTest::newRow("no words") << u" \t "_s << QList<int>{};
}

void TestCatalogue::searchFindsItemsWithEveryWord()
{
    QFETCH(QString, query);
    QFETCH(QList<int>, items);
    const StringRowList descriptions(
        {u"Debian installer"_s, u"debian netinst"_s, u"Café menu"_s, u"Straße map"_s, u"ﬁle list"_s});
    const StringRowList addresses({u"https://debian.example/installer"_s, u"https://iso.example/"_s,
                                   u"https://cafe.example/"_s, u"https://map.example/"_s, u"https://list.example/"_s});
    const CatalogueSearch search(descriptions, addresses);
    const CatalogueSearch::Found found = search.find(CatalogueSearch::wordsOf(query), 10);
    QCOMPARE(found.items, items);
    QCOMPARE(found.total, items.size());
}

void TestCatalogue::searchBoundsWhatAMemberTypes()
{
    StringRowList descriptions;
    for (int item = 0; item < 30; ++item)
        descriptions.AddItem(u"item %1 abc"_s.arg(item));
    const CatalogueSearch search(descriptions, StringRowList());
    // A word that matches everything: the first ten, and how many in all.
    const CatalogueSearch::Found all = search.find(CatalogueSearch::wordsOf(u"a"_s), 10);
    QCOMPARE(all.items.size(), 10);
    QCOMPARE(all.items.constLast(), 9);
    QCOMPARE(all.total, 30);
    // A thousand words keep their first eight; a 10 KB word its first 64 letters.
    QCOMPARE(CatalogueSearch::wordsOf(QString(u"w "_s).repeated(1000)).size(), CatalogueSearch::WordsAtMost);
    const QList<QByteArray> long_ = CatalogueSearch::wordsOf(QString(10000, u'x'));
    QCOMPARE(long_.size(), 1);
    QCOMPARE(long_.constFirst().size(), CatalogueSearch::WordLengthAtMost);
    // Control characters split words and are never part of one.
    QCOMPARE(CatalogueSearch::wordsOf(u"\x01item\x07\x1b"
                                      u"5\n"_s),
             (QList<QByteArray>{"item", "5"}));
    QCOMPARE(search
                 .find(CatalogueSearch::wordsOf(u"\x01item\x07\x1b"
                                                u"5\n"_s),
                       10)
                 .items,
             (QList<int>{5, 15, 25}));
}

void TestCatalogue::exportReadsBackToTheSameBytes()
{
    using namespace CatalogueTransfer;
    // Commas, quotes, blanks at the ends, what a spreadsheet runs as a formula
    // (and text that only looks like this program's guard against one), letters
    // beyond ASCII.
    const StringRowList descriptions(QStringList{u"Plain"_s, u"Alpha, \"the\" first"_s, u"=HYPERLINK(\"x\")"_s,
                                                 u"'=not a formula"_s, u"-5 degrees"_s, u" padded "_s,
                                                 u"Café guide to the Straße"_s, u"@home"_s});
    const StringRowList addresses(QStringList(descriptions.ListCount(), u"https://a.example/?q=1,2"_s));
    for (const Format format : {Format::Csv, Format::Json}) {
        const QByteArray bytes = write(descriptions, addresses, format);
        const Read read = CatalogueTransfer::read(bytes, format);
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        QCOMPARE(read.items.size(), descriptions.ListCount());
        StringRowList readDescriptions;
        StringRowList readAddresses;
        for (const Item &item : read.items) {
            readDescriptions.AddItem(item.description);
            readAddresses.AddItem(item.address);
        }
        QCOMPARE(readDescriptions.allRows(), descriptions.allRows());
        QCOMPARE(readAddresses.allRows(), addresses.allRows());
        QCOMPARE(write(readDescriptions, readAddresses, format), bytes);
    }
    // A spreadsheet shows the formula-looking cells as text.
    const QByteArray csv = write(descriptions, addresses, Format::Csv);
    QVERIFY2(csv.contains("\"'=HYPERLINK(\"\"x\"\")\"") && csv.contains("\n'-5 degrees,") &&
                 csv.contains("\n'@home,") && csv.contains("\n''=not a formula,"),
             csv.constData());
    // What the web page serves is the same JSON.
    QVERIFY(write(descriptions, addresses, Format::Json).startsWith("[{\"number\":0,\"description\":\"Plain\""));
}

void TestCatalogue::hostileFilesAreReadSafely()
{
    using namespace CatalogueTransfer;
    // Any column order, a byte-order mark, blank lines, Windows-1252.
    const Read windows = read("\xEF\xBB\xBF URL ,x,Description\r\n\r\nhttps://a.example/;1,2,Caf\xE9\r\n", Format::Csv);
    QVERIFY2(windows.error.isEmpty(), qPrintable(windows.error));
    QCOMPARE(windows.items.size(), 1);
    QCOMPARE(windows.items[0].description, u"Café"_s);
    QCOMPARE(windows.items[0].address, u"https://a.example/;1"_s);
    // Unbalanced quotes and a missing header say what is wrong; nothing is guessed.
    for (const QByteArray &broken : {QByteArray("description,url\n\"open,https://a.example/\n"),
                                     QByteArray("name,link\nA,https://a.example/\n"), QByteArray()}) {
        QVERIFY(!read(broken, Format::Csv).error.isEmpty());
    }
    QVERIFY(!read("{\"description\":1}", Format::Json).error.isEmpty());
    // NUL bytes are read as they are, for the check to refuse; a million empty rows are nothing.
    const Read nul = read(QByteArray("description,url\na\0b,https://a.example/\n", 38), Format::Csv);
    QCOMPARE(nul.items.size(), 1);
    QVERIFY(nul.items[0].description.contains(QChar(0)));
    QCOMPARE(read("description,url\n" + QByteArray(1000000, '\n'), Format::Csv).items.size(), 0);
    // A plain list: an address a line, described by itself.
    const Read plain = read("https://a.example/\r\n\r\n  https://b.example/  \n", Format::Plain);
    QCOMPARE(plain.items.size(), 2);
    QCOMPARE(plain.items[1].description, u"https://b.example/"_s);
    QCOMPARE(plain.items[1].row, 3);
}

void TestCatalogue::importIsAllOrNothing()
{
    const std::unique_ptr<CatalogueFixture> loaded = loadedCatalogue("Kept\r\n", "kept.htm\r\n");
    QVERIFY(loaded);
    auto &[descriptions, addresses, catalogue] = *loaded;
    const ServerMessageFile message(folder(), std::make_shared<ValdrinBas>());
    using CatalogueChange::ImportItems;
    const auto import = [&loaded, &message](ImportItems change) {
        return CatalogueChange::apply({loaded->catalogue, message}, change, 1000);
    };

    // Every bad row is named, up to twenty, and nothing is taken.
    QList<CatalogueTransfer::Item> items{{u"Good"_s, u"https://a.example/"_s, 1}};
    for (int row = 2; row <= 30; ++row)
        items.append({u"Bad\u0007"_s, u"https://b.example/"_s, row});
    items.append({u"Long"_s, QString(20000, u'x'), 31});
    // JSON can spell half a surrogate pair; the files could not keep it.
    items.append({u"Half "_s + QChar(0xD800), u"https://c.example/"_s, 32});
    const CatalogueChange::Outcome bad = import({items, false, false});
    QCOMPARE(bad.result, CatalogueChange::Outcome::Result::Unstorable);
    QVERIFY2(bad.told.contains(u"31 of the 32 rows"_s) && bad.told.contains(u"row 2: "_s) &&
                 bad.told.contains(u"row 21: "_s) && !bad.told.contains(u"row 22: "_s) &&
                 bad.told.contains(u"and 11 more"_s),
             qPrintable(bad.told));
    QCOMPARE(descriptions.allRows(), QStringList{u"Kept"_s});

    // Past the largest catalogue: refused whole.
    const QList<CatalogueTransfer::Item> many(Catalogue::MaximumItems, {u"D"_s, u"https://d.example/"_s, 1});
    QCOMPARE(import({many, false, false}).result, CatalogueChange::Outcome::Result::Refused);
    QCOMPARE(catalogue.itemCount(), 1);

    // A check changes nothing; an append and a replacement are one save each.
    QVERIFY(import({items.mid(0, 1), false, true}).told.contains(u"would hold 2 items"_s));
    QCOMPARE(catalogue.itemCount(), 1);
    QVERIFY(import({items.mid(0, 1), false, false}).changed());
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray("kept.htm\r\nhttps://a.example/\r\n"));
    QVERIFY(import({many, true, false}).changed());
    QCOMPARE(catalogue.itemCount(), Catalogue::MaximumItems);
    QCOMPARE(descriptions.List(0), u"D"_s);
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
