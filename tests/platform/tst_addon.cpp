#include "support/testfiles.h"

#include "platform/addon.h"
#include "platform/rowlist.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <QRandomGenerator>

#include <sys/resource.h>
#include <sys/stat.h>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;
using testfiles::readBytes;
using testfiles::writeBytes;

namespace {

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The rows of the main window's lists are held as text, not as UTF-8: a row
// list of that kind takes the other path through loading and saving.
class TextRows final : public RowList
{
public:
    void AddItem(const QString &row) override { rows.append(row); }
    [[nodiscard]] int ListCount() const override { return int(rows.size()); }
    [[nodiscard]] QString List(int index) const override { return rows.value(index); }
    void RemoveItem(int index) override { rows.remove(index); }

    QStringList rows;
};

// Bytes an old or careless system may leave in a row file: ASCII, line breaks of
// every kind, UTF-8 sequences whole and broken, Windows-1252's high bytes, NUL.
QByteArray randomFileBytes(QRandomGenerator &random)
{
    static const QByteArrayList pieces = {"a",
                                          "Z",
                                          " ",
                                          "\r\n",
                                          "\r",
                                          "\n",
                                          "\xEF\xBB\xBF",
                                          "\xC3\xA9",
                                          "\xE6\x97\xA5",
                                          "\xF0\x9F\x98\x80",
                                          "\xC3",
                                          "\xE6\x97",
                                          "\x80",
                                          "\x81",
                                          "\x93",
                                          "\x9D",
                                          "\xA0",
                                          "\xE9",
                                          "\xFF",
                                          "\xED\xA0\x80",
                                          "\xC0\xAF",
                                          QByteArray(1, '\0')};
    QByteArray bytes;
    const int count = int(random.bounded(40));
    for (int i = 0; i < count; ++i)
        bytes += pieces[random.bounded(int(pieces.size()))];
    return bytes;
}

} // namespace

class TestAddon : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    // Whole-file text: one value plus CR LF, read back less that CR LF.
    void writeTextFileBytes_data();
    void writeTextFileBytes();
    void readTextFileTakesOffOneLineBreak_data();
    void readTextFileTakesOffOneLineBreak();
    void readTextFileOfMissingOrHiddenFileIsEmpty();

    // Row files: one row per line.
    void loadListRows_data();
    void loadListRows();
    void loadListAppendsAndSkipsMissingFiles();
    void saveListBytes_data();
    void saveListBytes();
    void rowsSurviveSaveAndLoad();
    void rowsPastTheItemLimitAreKept();
    void fileExistsOnlyForVisibleRegularFiles();

    // Text from older systems: each row read as UTF-8 or as Windows-1252.
    void rowsAreReadOneByOne();
    void loadSaveLoadGivesTheFirstText();

    // Failures are reported, and a failed write leaves the old file whole.
    void failedWriteLeavesOldFile();
    void writeIntoMissingFolderSaysWhere();
    void specialFilesAreReportedAndNeverReplaced();
    void fullAndReadOnlyDisksAreNamed();
    void unreadableFileIsReportedAndAddsNothing();

    // Pause waits on a timer and keeps the program's events going.
    void pauseOfZeroOrLessReturnsAtOnce_data();
    void pauseOfZeroOrLessReturnsAtOnce();
    void pauseWaitsAtLeastTheTimeAsked();
    void pauseHandlesEventsMeanwhile();
    void pauseUsesAlmostNoCpu();
    void nestedPausesEachWaitTheirTime();
    void pauseEndsAtOnceWhenTheProgramQuits();

private:
    QString path(const QString &name) const { return QDir(m_dir.path()).filePath(name); }

    QTemporaryDir m_dir;
};

void TestAddon::init()
{
    QVERIFY(m_dir.isValid());
    for (const QString &name :
         QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::System | QDir::NoDotAndDotDot))
        QVERIFY(QFile::remove(path(name)) || QDir(path(name)).removeRecursively());
}

void TestAddon::writeTextFileBytes_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty text is two bytes") << QString() << QByteArray("\r\n");
    QTest::newRow("several lines") << u"one\r\ntwo\r\nthree"_s << QByteArray("one\r\ntwo\r\nthree\r\n");
    QTest::newRow("commas and quotes") << u"a, \"b\", c"_s << QByteArray("a, \"b\", c\r\n");
    QTest::newRow("value ending in a line break") << u"end\r\n"_s << QByteArray("end\r\n\r\n");
    QTest::newRow("non-ASCII as UTF-8") << u"caf\u00e9"_s << QByteArray("caf\xc3\xa9\r\n");
}

void TestAddon::writeTextFileBytes()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, bytes);
    const QString file = path(u"message.txt"_s);
    QVERIFY(writeBytes(file, "an older and much longer message that must be gone afterwards"));
    const FileResult written = addon::WriteTextFile(file, value);
    QVERIFY2(written.ok(), qPrintable(written.error));
    QCOMPARE(readBytes(file), bytes);

    const TextFileContents read = addon::ReadTextFile(file);
    QVERIFY(read.ok());
    QCOMPARE(read.value, value);
}

void TestAddon::readTextFileTakesOffOneLineBreak_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero bytes") << QByteArray() << QString();
    QTest::newRow("no final line break") << QByteArray("plain") << u"plain"_s;
    QTest::newRow("two final line breaks") << QByteArray("x\r\n\r\n") << u"x\r\n"_s;
    QTest::newRow("final lone LF stays") << QByteArray("x\n") << u"x\n"_s;
    QTest::newRow("final lone CR stays") << QByteArray("x\r") << u"x\r"_s;
}

void TestAddon::readTextFileTakesOffOneLineBreak()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QVERIFY(writeBytes(path(u"message.txt"_s), bytes));
    const TextFileContents read = addon::ReadTextFile(path(u"message.txt"_s));
    QVERIFY(read.ok());
    QCOMPARE(read.value, text);
}

void TestAddon::readTextFileOfMissingOrHiddenFileIsEmpty()
{
    const TextFileContents missing = addon::ReadTextFile(path(u"message.txt"_s));
    QVERIFY(missing.ok());
    QVERIFY(missing.value.isEmpty());

    QVERIFY(writeBytes(path(u".message.txt"_s), "hidden\r\n"));
    const TextFileContents hidden = addon::ReadTextFile(path(u".message.txt"_s));
    QVERIFY(hidden.ok());
    QVERIFY(hidden.value.isEmpty());
}

void TestAddon::loadListRows_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("three lines") << QByteArray("a\r\nb\r\nc\r\n") << QStringList{u"a"_s, u"b"_s, u"c"_s};
    QTest::newRow("last line without line end") << QByteArray("a\r\nb") << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("blank line in the middle") << QByteArray("a\r\n\r\nc\r\n") << QStringList{u"a"_s, QString(), u"c"_s};
    QTest::newRow("only a line break") << QByteArray("\r\n") << QStringList{QString()};
    QTest::newRow("lone CR ends a line") << QByteArray("a\rb\r") << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("lone LF stays in the row") << QByteArray("a\nb\nc\n") << QStringList{u"a\nb\nc\n"_s};
    QTest::newRow("CR then CR LF") << QByteArray("a\r\r\nb") << QStringList{u"a"_s, QString(), u"b"_s};
    QTest::newRow("LF CR LF") << QByteArray("a\n\r\nb\r\n") << QStringList{u"a\n"_s, u"b"_s};
    QTest::newRow("blanks are kept") << QByteArray("  a \r\n") << QStringList{u"  a "_s};
    QTest::newRow("markup is kept") << QByteArray("<b>&amp;</b>\r\n") << QStringList{u"<b>&amp;</b>"_s};
    QTest::newRow("UTF-8") << QByteArray("\xc3\xa9t\xc3\xa9\r\n") << QStringList{u"\u00e9t\u00e9"_s};
}

void TestAddon::loadListRows()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, rows);
    QVERIFY(writeBytes(path(u"descriptions.dat"_s), bytes));
    StringRowList list;
    const FileResult loaded = addon::LoadList(path(u"descriptions.dat"_s), list);
    QVERIFY2(loaded.ok(), qPrintable(loaded.error));
    QCOMPARE(list.allRows(), rows);
}

void TestAddon::loadListAppendsAndSkipsMissingFiles()
{
    StringRowList list(QStringList{u"already here"_s});
    QVERIFY(addon::LoadList(path(u"urls.dat"_s), list).ok());
    QCOMPARE(list.allRows(), QStringList{u"already here"_s});

    QVERIFY(writeBytes(path(u"urls.dat"_s), "a\r\nb\r\n"));
    QVERIFY(addon::LoadList(path(u"urls.dat"_s), list).ok());
    QVERIFY(addon::LoadList(path(u"urls.dat"_s), list).ok());
    QCOMPARE(list.allRows(), (QStringList{u"already here"_s, u"a"_s, u"b"_s, u"a"_s, u"b"_s}));

    QVERIFY(writeBytes(path(u".urls.dat"_s), "hidden\r\n"));
    StringRowList hidden;
    QVERIFY(addon::LoadList(path(u".urls.dat"_s), hidden).ok());
    QCOMPARE(hidden.ListCount(), 0);
}

void TestAddon::saveListBytes_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("no rows, no bytes") << QStringList() << QByteArray();
    QTest::newRow("one empty row") << QStringList{QString()} << QByteArray("\r\n");
    QTest::newRow("two rows") << QStringList{u"Alpha"_s, u"Beta"_s} << QByteArray("Alpha\r\nBeta\r\n");
    QTest::newRow("lone LF kept inside") << QStringList{u"a\nb"_s} << QByteArray("a\nb\r\n");
    QTest::newRow("non-ASCII") << QStringList{u"\u00e9\u4e2d"_s} << QByteArray("\xc3\xa9\xe4\xb8\xad\r\n");
}

void TestAddon::saveListBytes()
{
    QFETCH(QStringList, rows);
    QFETCH(QByteArray, bytes);
    const QString file = path(u"descriptions.dat"_s);
    QVERIFY(writeBytes(file, "old row 1\r\nold row 2\r\nold row 3\r\n"));
    const FileResult saved = addon::SaveList(file, StringRowList(rows));
    QVERIFY2(saved.ok(), qPrintable(saved.error));
    QCOMPARE(readBytes(file), bytes);
}

void TestAddon::rowsSurviveSaveAndLoad()
{
    const QStringList rows{u"Alpha"_s, QString(), u"  blanks  "_s, u"a, \"quoted\", <b>bold</b>"_s,
                           u"\u00fcml\u00e4ut"_s};
    QVERIFY(addon::SaveList(path(u"urls.dat"_s), StringRowList(rows)).ok());
    StringRowList loaded;
    QVERIFY(addon::LoadList(path(u"urls.dat"_s), loaded).ok());
    QCOMPARE(loaded.allRows(), rows);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"urls.dat"_s});
}

void TestAddon::rowsPastTheItemLimitAreKept()
{
    const QStringList rows = testfiles::sampleRows(40000);
    QVERIFY(addon::SaveList(path(u"descriptions.dat"_s), StringRowList(rows)).ok());
    StringRowList loaded;
    QVERIFY(addon::LoadList(path(u"descriptions.dat"_s), loaded).ok());
    QCOMPARE(loaded.ListCount(), 40000);
    QCOMPARE(loaded.allRows(), rows);
}

void TestAddon::fileExistsOnlyForVisibleRegularFiles()
{
    QVERIFY(!addon::FileExists(path(u"urls.dat"_s)));
    QVERIFY(writeBytes(path(u"urls.dat"_s), {}));
    QVERIFY(addon::FileExists(path(u"urls.dat"_s)));
    QVERIFY(writeBytes(path(u".hidden.dat"_s), "x"));
    QVERIFY(!addon::FileExists(path(u".hidden.dat"_s)));
    QVERIFY(QDir(m_dir.path()).mkdir(u"folder.dat"_s));
    QVERIFY(!addon::FileExists(path(u"folder.dat"_s)));
}

void TestAddon::rowsAreReadOneByOne()
{
    // One stray byte changes the reading of its own row only; Windows-1252's
    // quotes and euro sign come through, its five undefined bytes as Latin-1.
    const QString file = path(u"descriptions.dat"_s);
    QVERIFY(writeBytes(file, "\xEF\xBB\xBF"
                             "Caf\xC3\xA9 cr\xC3\xA8me\r\n\xE6\x97\xA5\xE6\x9C\xAC\r\n"
                             "stray \xFF\r\n\x93quoted\x94 \x80 5 \x81\r\n"));
    for (const bool text : {false, true}) {
        StringRowList compact;
        TextRows rows;
        RowFileFormat format;
        QVERIFY(addon::LoadList(file, text ? static_cast<RowList &>(rows) : compact, &format).ok());
        QCOMPARE(text ? rows.rows : compact.allRows(),
                 (QStringList{u"Caf\u00e9 cr\u00e8me"_s, u"\u65e5\u672c"_s, u"stray \u00ff"_s,
                              u"\u201cquoted\u201d \u20ac 5 \u0081"_s}));
        QVERIFY(format.byteOrderMark);
        QCOMPARE(format.convertedRows, 2);
    }

    // Saved back as UTF-8, byte-order mark and all; the UTF-8 rows keep their bytes.
    StringRowList rows;
    RowFileFormat format;
    QVERIFY(addon::LoadList(file, rows, &format).ok());
    QVERIFY(addon::SaveList(file, rows, format.byteOrderMark).ok());
    QCOMPARE(readBytes(file),
             QByteArray("\xEF\xBB\xBF"
                        "Caf\xC3\xA9 cr\xC3\xA8me\r\n\xE6\x97\xA5\xE6\x9C\xAC\r\n"
                        "stray \xC3\xBF\r\n\xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x82\xAC 5 \xC2\x81\r\n"));

    // The server message is read the same way, line by line.
    QVERIFY(writeBytes(path(u"message.txt"_s), "Caf\xC3\xA9\r\n\x93Hi\x94\r\n"));
    QCOMPARE(addon::ReadTextFile(path(u"message.txt"_s)).value, u"Caf\u00e9\r\n\u201cHi\u201d"_s);
}

void TestAddon::loadSaveLoadGivesTheFirstText()
{
    // Whatever bytes a file holds, the text the program reads from it is what a
    // save writes: nothing is decoded twice.
    QRandomGenerator random(20261208);
    const QString file = path(u"urls.dat"_s);
    for (int round = 0; round < 400; ++round) {
        QByteArray bytes;
        const int rows = int(random.bounded(6));
        for (int row = 0; row < rows; ++row)
            bytes += randomFileBytes(random) + "\r\n";
        const bool text = round % 2 == 1;
        QVERIFY(writeBytes(file, bytes));
        StringRowList compact;
        TextRows plain;
        RowList &first = text ? static_cast<RowList &>(plain) : compact;
        RowFileFormat format;
        QVERIFY(addon::LoadList(file, first, &format).ok());
        QVERIFY(addon::SaveList(file, first, format.byteOrderMark).ok());
        StringRowList again;
        QVERIFY(addon::LoadList(file, again).ok());
        QVERIFY2(again.allRows() == first.allRows(), bytes.toHex(' ').constData());
    }
}

void TestAddon::failedWriteLeavesOldFile()
{
    const QString file = path(u"descriptions.dat"_s);
    const QByteArray old("kept row 1\r\nkept row 2\r\n");
    QVERIFY(writeBytes(file, old));
    FileResult saved;
    FileResult written;
    {
        testfiles::FileSizeLimit diskFullAfter(64);
        saved = addon::SaveList(file, StringRowList(testfiles::sampleRows(100)));
        written = addon::WriteTextFile(file, QString(1000, u'x'));
    }
    QVERIFY(!saved.ok());
    QVERIFY2(saved.error.contains(u"descriptions.dat: the file would grow past the largest size"_s),
             qPrintable(saved.error));
    QVERIFY(!written.ok());
    QCOMPARE(readBytes(file), old);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"descriptions.dat"_s});
}

void TestAddon::writeIntoMissingFolderSaysWhere()
{
    const QString file = path(u"no such folder/message.txt"_s);
    const FileResult written = addon::WriteTextFile(file, u"text"_s);
    QVERIFY(!written.ok());
    QVERIFY2(written.error.contains(QDir::toNativeSeparators(file) + u": the folder does not exist"_s),
             qPrintable(written.error));
}

void TestAddon::specialFilesAreReportedAndNeverReplaced()
{
    const QString file = path(u"urls.dat"_s);
    const StringRowList rows(QStringList{u"a"_s});
    const auto kind = [&file] {
        struct stat info
        {
        };
        return ::lstat(file.toLocal8Bit().constData(), &info) == 0 ? info.st_mode & S_IFMT : 0;
    };
    const struct
    {
        const char *reason;
        std::function<bool()> make;
    } cases[] = {
        {"it is a folder, not a file", [&] { return QDir(m_dir.path()).mkdir(u"urls.dat"_s); }},
        {"it is not a regular file", [&] { return ::mkfifo(file.toLocal8Bit().constData(), 0600) == 0; }},
        {"which does not exist or loops", [&] { return QFile::link(file, file); }},
        {"which does not exist or loops", [&] { return QFile::link(path(u"gone.dat"_s), file); }},
    };
    for (const auto &special : cases) {
        init();
        QVERIFY(special.make());
        const auto before = kind();
        StringRowList loaded;
        const FileResult read = addon::LoadList(file, loaded);
        QVERIFY2(read.error.contains(QString::fromLatin1(special.reason)), qPrintable(read.error));
        for (const FileResult &written : {addon::SaveList(file, rows), addon::WriteTextFile(file, u"a"_s)})
            QVERIFY2(written.error.contains(u"it was left as it is"_s), qPrintable(written.error));
        QCOMPARE(kind(), before);
    }

    // A link to a regular file is followed: the file it names is replaced, the link stays.
    init();
    QVERIFY(writeBytes(path(u"real.dat"_s), "old\r\n"));
    QVERIFY(QFile::link(path(u"real.dat"_s), file));
    QVERIFY(addon::SaveList(file, rows).ok());
    QVERIFY(QFileInfo(file).isSymLink());
    QCOMPARE(readBytes(path(u"real.dat"_s)), QByteArray("a\r\n"));
}

void TestAddon::fullAndReadOnlyDisksAreNamed()
{
    testfiles::TinyDisk disk(64);
    if (!disk.isMounted())
        QSKIP("Mounting a small disk needs root");
    const QString file = disk.filePath(u"descriptions.dat"_s);
    const QByteArray old("kept\r\n");
    QVERIFY(writeBytes(file, old));
    const StringRowList rows(testfiles::sampleRows(100));

    disk.fill();
    FileResult saved = addon::SaveList(file, rows);
    QVERIFY2(saved.error.endsWith(u"descriptions.dat: the disk is full"_s), qPrintable(saved.error));
    disk.empty();
    QVERIFY(disk.makeReadOnly());
    saved = addon::SaveList(file, rows);
    QVERIFY2(saved.error.endsWith(u"descriptions.dat: the disk or folder is read-only"_s), qPrintable(saved.error));
    QVERIFY(disk.makeWritable());
    QCOMPARE(readBytes(file), old);
    QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"descriptions.dat"_s});
}

void TestAddon::unreadableFileIsReportedAndAddsNothing()
{
    QVERIFY(writeBytes(path(u"descriptions.dat"_s), "a\r\nb\r\n"));
    QVERIFY(writeBytes(path(u"message.txt"_s), "hello\r\n"));
    StringRowList list(QStringList{u"before"_s});
    FileResult loaded;
    TextFileContents message;
    {
        testfiles::NoFreeFileDescriptors exhausted;
        loaded = addon::LoadList(path(u"descriptions.dat"_s), list);
        message = addon::ReadTextFile(path(u"message.txt"_s));
    }
    QVERIFY(!loaded.ok());
    QVERIFY2(loaded.error.contains(u"descriptions.dat"_s), qPrintable(loaded.error));
    QCOMPARE(list.allRows(), QStringList{u"before"_s});
    QVERIFY(!message.ok());
    QVERIFY(message.value.isEmpty());
}

void TestAddon::pauseOfZeroOrLessReturnsAtOnce_data()
{
    QTest::addColumn<double>("seconds");
    QTest::newRow("zero") << 0.0;
    QTest::newRow("negative") << -3.0;
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN();
}

void TestAddon::pauseOfZeroOrLessReturnsAtOnce()
{
    QFETCH(double, seconds);
    bool ran = false;
    QTimer::singleShot(0, this, [&ran] { ran = true; });
    QElapsedTimer clock;
    clock.start();
    addon::Pause(seconds);
    // Normally no time at all; a busy machine may hold the thread up a little,
    // but not for a second, which is a figure taken for a real wait.
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(!ran, "a wait of no time must not handle events");
    QTRY_VERIFY(ran); // the event is still pending, not lost
}

void TestAddon::pauseWaitsAtLeastTheTimeAsked()
{
    for (const double seconds : {0.001, 0.05, 0.3}) {
        QElapsedTimer clock;
        clock.start();
        addon::Pause(seconds);
        const double elapsed = double(clock.nsecsElapsed()) / 1e9;
        QVERIFY2(elapsed >= seconds, qPrintable(u"waited %1 s of %2 s"_s.arg(elapsed).arg(seconds)));
        QVERIFY2(elapsed < seconds + 1.0, qPrintable(u"waited %1 s of %2 s"_s.arg(elapsed).arg(seconds)));
    }
}

void TestAddon::pauseHandlesEventsMeanwhile()
{
    int ticks = 0;
    QTimer timer;
    timer.setInterval(20);
    connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
    timer.start();
    bool queuedCallRan = false;
    QMetaObject::invokeMethod(
        this, [&queuedCallRan] { queuedCallRan = true; }, Qt::QueuedConnection);
    addon::Pause(0.3);
    QVERIFY(queuedCallRan);
    // Fifteen ticks on an idle machine, fewer on a busy one; a wait that sleeps
    // and handles the events once at its end gets a single tick.
    QVERIFY2(ticks >= 2, qPrintable(u"only %1 timer ticks during the wait"_s.arg(ticks)));
}

void TestAddon::pauseUsesAlmostNoCpu()
{
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    addon::Pause(0.5);
    const double wall = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = processCpuSeconds() - cpuBefore;
    // Busy polling would use the whole wait; a sleeping wait uses next to nothing.
    QVERIFY2(cpu < 0.2 * wall, qPrintable(u"%1 s of CPU during a %2 s wait"_s.arg(cpu).arg(wall)));
}

void TestAddon::nestedPausesEachWaitTheirTime()
{
    // A wait that starts inside another one, and outlasts it, still lets the
    // outer one finish with its full time behind it.
    QElapsedTimer outer;
    double innerElapsed = 0;
    QTimer::singleShot(20, this, [&innerElapsed] {
        QElapsedTimer inner;
        inner.start();
        addon::Pause(0.3);
        innerElapsed = double(inner.nsecsElapsed()) / 1e9;
    });
    outer.start();
    addon::Pause(0.1);
    QVERIFY(double(outer.nsecsElapsed()) / 1e9 >= 0.1);
    QVERIFY(innerElapsed >= 0.3);
}

void TestAddon::pauseEndsAtOnceWhenTheProgramQuits()
{
    qint64 firstMs = -1;
    qint64 secondMs = -1;
    double cpu = 1;
    QTimer::singleShot(0, this, [&] {
        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(50, qApp, &QCoreApplication::quit);
        addon::Pause(5);
        firstMs = clock.restart();
        // The program is still quitting: a later wait ends at once, and does not spin.
        const double cpuBefore = processCpuSeconds();
        addon::Pause(2);
        secondMs = clock.elapsed();
        cpu = processCpuSeconds() - cpuBefore;
    });
    QCoreApplication::exec();
    // The first wait ends 50 ms in and the second at once; a busy machine may
    // stretch both, but a wait that ignored the quit runs its whole time (5 s,
    // 2 s), so half of that time is the line.
    QVERIFY2(firstMs >= 0 && firstMs < 2500, qPrintable(QString::number(firstMs)));
    QVERIFY2(secondMs >= 0 && secondMs < 1000, qPrintable(QString::number(secondMs)));
    QVERIFY(cpu < 0.1);
}

QTEST_GUILESS_MAIN(TestAddon)
#include "tst_addon.moc"
