#include "support/testfiles.h"

#include "serving/valdrinbas.h"
#include "windows/clickablelabel.h"
#include "windows/form2.h"
#include "windows/form3.h"

#include <QDesktopServices>
#include <QDir>
#include <QLockFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <thread>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using testfiles::readBytes;

// Receives the links the About window hands to the desktop.
class LinkCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

class TestWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void aboutWindowLayoutAndLinks();
    void editorStartsWithTheInitialTextOrTheMessage();
    void saveWritesTheFileThenTheMessageThenCloses();
    void emptyTextSavesALineBreakAndShowsTheInitialTextAgain();
    void failedSaveKeepsTheEditorAndTheOldMessage();
    void editorKeepsWhatTheOperatorSees();
    void saveWaitsForACommandHoldingTheLock();

private:
    // The message file of the data folder, with the values it shares.
    [[nodiscard]] ServerMessageFile messageFile() const
    {
        return ServerMessageFile(DataFolder(m_dir->path()), m_values);
    }

    std::unique_ptr<testfiles::DataFolder> m_dir;
    std::shared_ptr<ValdrinBas> m_values;
};

void TestWindows::init()
{
    m_dir = std::make_unique<testfiles::DataFolder>();
    m_values = std::make_shared<ValdrinBas>();
}

void TestWindows::aboutWindowLayoutAndLinks()
{
    auto *about = new Form2();
    QPointer<Form2> alive(about);
    about->show();
    QCOMPARE(about->size(), QSize(200, 161));
    QCOMPARE(about->Label1->text(), u"Valdrin AIM Server"_s);
    QCOMPARE(about->Label2->text(), u"Coded Entirely By Morvex"_s);
    QCOMPARE(about->Label2->geometry(), QRect(0, 30, 198, 13));
    QCOMPARE(about->Label3->geometry(), QRect(112, 114, 82, 13));
    QCOMPARE(about->Label6->geometry(), QRect(96, 126, 96, 13));
    QCOMPARE(about->Label5->geometry(), QRect(8, 144, 179, 13));
    QVERIFY(about->Label7->text().size() > 150 && about->Label7->wordWrap());
    QVERIFY(about->Label3->font().underline() && about->Label6->font().underline());
    QCOMPARE(about->Label3->cursor().shape(), Qt::UpArrowCursor);
    QCOMPARE(about->lines().size(), 3);
    // Nothing on it takes the keyboard focus.
    for (QWidget *child : about->findChildren<QWidget *>())
        QCOMPARE(child->focusPolicy(), Qt::NoFocus);
    // No caption is cut off at the end of its label.
    for (ClickableLabel *label : about->findChildren<ClickableLabel *>()) {
        if (!label->wordWrap())
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                     qPrintable(label->text()));
    }

    LinkCatcher catcher;
    QDesktopServices::setUrlHandler(u"mailto"_s, &catcher, "open");
    QDesktopServices::setUrlHandler(u"https"_s, &catcher, "open");
    QTest::mouseClick(about->Label3, Qt::LeftButton);
    QTest::mouseClick(about->Label6, Qt::LeftButton);
    QTest::mouseClick(about->Label8, Qt::LeftButton); // a caption, not a link
    QDesktopServices::unsetUrlHandler(u"mailto"_s);
    QDesktopServices::unsetUrlHandler(u"https"_s);
    QCOMPARE(catcher.opened,
             (QList<QUrl>{QUrl(u"https://www.example.org/morvex/programs/"_s), QUrl(u"mailto:morvex@example.org"_s)}));

    QTest::mouseClick(about->Label5, Qt::LeftButton);
    QTRY_VERIFY(!alive); // "Okay" unloads it
}

void TestWindows::editorStartsWithTheInitialTextOrTheMessage()
{
    {
        Form3 editor{messageFile()};
        QCOMPARE(editor.text(), u"Please scan everything. If you \r\nwould like to add to the server \r\n"
                                u"please IM me with the URL and the descrption.\r\n"_s);
        QCOMPARE(editor.size(), QSize(201, 161));
        QCOMPARE(editor.Text1->geometry(), QRect(4, 18, 193, 121));
        QCOMPARE(editor.Label1->text(), u"Save"_s);
        QCOMPARE(editor.Text1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    }
    m_values->ServerMessage = u"Two\r\nlines, \"quoted\""_s;
    Form3 editor{messageFile()};
    QCOMPARE(editor.text(), m_values->ServerMessage);
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    editor.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&editor));
    QTRY_COMPARE(QApplication::focusWidget(), editor.Text1);
}

void TestWindows::saveWritesTheFileThenTheMessageThenCloses()
{
    auto *editor = new Form3(messageFile());
    QPointer<Form3> alive(editor);
    editor->show();
    // The message changes only once the file holds the text.
    QString messageWhileWriting = u"unset"_s;
    editor->Text1->setPlainText(u"first\nsecond"_s);
    QTest::mouseClick(editor->Label1, Qt::LeftButton);
    QCOMPARE(readBytes(m_dir->filePath(u"message.txt"_s)), QByteArray("first\r\nsecond\r\n"));
    QCOMPARE(m_values->ServerMessage, u"first\r\nsecond"_s);
    QTRY_VERIFY(!alive);
}

void TestWindows::emptyTextSavesALineBreakAndShowsTheInitialTextAgain()
{
    auto *editor = new Form3(messageFile());
    editor->Text1->clear();
    editor->Label1_Click();
    QCOMPARE(readBytes(m_dir->filePath(u"message.txt"_s)), QByteArray("\r\n"));
    QVERIFY(m_values->ServerMessage.isEmpty());
    Form3 again{messageFile()};
    QCOMPARE(again.text(), Form3::initialText());
}

void TestWindows::failedSaveKeepsTheEditorAndTheOldMessage()
{
    m_values->ServerMessage = u"old message"_s;
    QVERIFY(QDir(m_dir->path()).mkdir(u"message.txt"_s)); // a folder where the file should go
    Form3 editor{messageFile()};
    editor.show();
    editor.Text1->setPlainText(u"new message"_s);
    QString shown;
    QTimer::singleShot(0, [&shown] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    editor.Label1_Click();
    QVERIFY2(shown.contains(u"message.txt"_s), qPrintable(shown));
    QCOMPARE(m_values->ServerMessage, u"old message"_s);
    QVERIFY(editor.isVisible());
    QCOMPARE(editor.text(), u"new message"_s);
}

void TestWindows::editorKeepsWhatTheOperatorSees()
{
    // A message with a non-breaking space and line breaks of two kinds.
    const QByteArray stored("Free\xC2\xA0links\rfor all\ntoday\r\n");
    const QString file = m_dir->filePath(u"message.txt"_s);
    QVERIFY(testfiles::writeBytes(file, stored));
    ServerMessageFile message = messageFile();
    QVERIFY(message.load().ok());
    // A save replaces the file, so a file rewritten is a new inode.
    const auto inode = [&file] {
        struct stat info
        {
        };
        return ::stat(file.toLocal8Bit().constData(), &info) == 0 ? info.st_ino : 0;
    };
    const auto written = inode();

    // Saved untouched: the file is not written again and the message is the same.
    auto *editor = new Form3(message);
    editor->Label1_Click();
    QCOMPARE(readBytes(file), stored);
    QCOMPARE(inode(), written);
    QCOMPARE(m_values->ServerMessage, u"Free\u00a0links\rfor all\ntoday"_s);

    // Edited: the non-breaking space stays what it is.
    editor = new Form3(message);
    editor->Text1->setPlainText(u"Free\u00a0links\nnow"_s);
    editor->Label1_Click();
    QCOMPARE(readBytes(file), QByteArray("Free\xC2\xA0links\r\nnow\r\n"));
}

void TestWindows::saveWaitsForACommandHoldingTheLock()
{
    // A catalogue command (--message) sets its message under the folder's lock
    // while the operator clicks Save.
    const DataFolder folder(m_dir->path());
    ServerMessageFile command(folder, std::make_shared<ValdrinBas>());
    std::atomic<bool> locked = false;
    std::thread other([&] {
        QLockFile lock(folder.lockPath());
        QVERIFY(lock.lock());
        locked = true;
        QThread::msleep(300);
        QVERIFY(command.save(u"from the command"_s).ok());
    });
    while (!locked)
        QThread::msleep(1);
    auto *editor = new Form3(messageFile());
    editor->Text1->setPlainText(u"from the editor"_s);
    editor->Label1_Click();
    other.join();
    // The editor waited for the command: the last word is the operator's, whole.
    QCOMPARE(readBytes(m_dir->filePath(u"message.txt"_s)), QByteArray("from the editor\r\n"));
    QCOMPARE(m_values->ServerMessage, u"from the editor"_s);
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
