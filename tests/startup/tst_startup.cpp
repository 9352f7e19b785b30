#include "startup/commandline.h"
#include "startup/exitcodes.h"
#include "support/testfiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

// The command line of both programs, read without starting anything.
class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandLine_data();
    void commandLine();
    void dataFolderOptionCreatesTheFolder();
    void argumentsThatAreNotUtf8AreRefused();

private:
    QTemporaryDir m_dir;
};

void TestStartup::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::newRow("no arguments") << QStringList{u"prog"_s} << true << 0 << QString();
    QTest::newRow("help") << QStringList{u"prog"_s, u"--help"_s} << false << 0 << u"--data-dir"_s;
    QTest::newRow("version") << QStringList{u"prog"_s, u"--version"_s} << false << 0 << u"Valdrin AIM Server v2"_s;
    QTest::newRow("unknown option") << QStringList{u"prog"_s, u"--bogus"_s} << false << ExitCode::UsageError
                                    << u"bogus"_s;
    QTest::newRow("stray argument") << QStringList{u"prog"_s, u"stray"_s} << false << ExitCode::UsageError
                                    << u"stray"_s;
    QTest::newRow("folder missing its value")
        << QStringList{u"prog"_s, u"--data-dir"_s} << false << ExitCode::UsageError << u"data-dir"_s;
}

void TestStartup::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, starts);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    const StartupDecision decision = parseCommandLine(arguments, u"/program/folder"_s);
    QCOMPARE(decision.options.has_value(), starts);
    QCOMPARE(decision.exitCode, exitCode);
    QVERIFY2(decision.output.contains(output), qPrintable(decision.output));
    if (starts)
        QCOMPARE(decision.options->dataFolder, u"/program/folder"_s);
}

void TestStartup::dataFolderOptionCreatesTheFolder()
{
    const QString folder = m_dir.filePath(u"nested/data"_s);
    const StartupDecision decision = parseCommandLine({u"prog"_s, u"--data-dir"_s, folder}, u"/program"_s);
    QVERIFY(decision.options);
    QCOMPARE(decision.options->dataFolder, folder);
    QVERIFY(QFileInfo(folder).isDir());

    QVERIFY(testfiles::writeBytes(m_dir.filePath(u"plain-file"_s), "x"));
    const StartupDecision notAFolder = parseCommandLine({u"prog"_s, u"-d"_s, m_dir.filePath(u"plain-file"_s)}, u"/p"_s);
    QVERIFY(!notAFolder.options);
    QCOMPARE(notAFolder.exitCode, ExitCode::UsageError);
}

void TestStartup::argumentsThatAreNotUtf8AreRefused()
{
    // Qt would read them as U+FFFD, which would be stored and reach members.
    const QString latin1 = undecodableArgument({"prog", "--add", "Caf\xE9", "c.htm"});
    QVERIFY2(latin1.startsWith(u"Argument 2 is not UTF-8 text: after \"Caf\" comes the byte 0xE9"_s),
             qPrintable(latin1));
    QVERIFY(undecodableArgument({"prog", "--add", "Caf\xC3\xA9 \xEF\xBF\xBD", "c.htm"}).isEmpty());
    QVERIFY(undecodableArgument({"prog", "--message", "ok \xEF\xBF\xBD then \xFF"}).contains(u"0xFF"_s));
}

QTEST_APPLESS_MAIN(TestStartup)
#include "tst_startup.moc"
