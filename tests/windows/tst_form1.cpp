#include "support/testfiles.h"
#ifdef VALDRIN_TEST_NETWORKS
#include "support/ircmember.h"
#include "support/ircserver.h"
#include "support/servedroom.h"
#include "support/testprocesses.h"
#endif

#include "catalogue/catalogue.h"
#include "messengers/localroom/localroom.h"
#include "platform/addon.h"
#include "platform/rowlist.h"
#include "serving/linkserver.h"
#include "windows/clickablelabel.h"
#include "windows/form1.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;
using testfiles::readBytes;
using testfiles::writeBytes;

namespace {

// Presses the button with the given text on the next message box that opens,
// after doing what the operator would do first.
void answerNextMessageBox(const QString &buttonText, QString *seenText = nullptr,
                          const std::function<void()> &first = {})
{
    QTimer::singleShot(0, [=] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            answerNextMessageBox(buttonText, seenText, first); // not open yet
            return;
        }
        if (seenText)
            *seenText = box->text();
        if (first)
            first();
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == buttonText) {
                button->click();
                return;
            }
        }
        box->reject();
    });
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void loadFillsListsAndCount();
    void closeSavesBothLists();
    void failedSaveAtCloseOffersRetry();
    void unreadableFileIsReportedAtStart();
    void unmatchedRowsAreShownAndCanBeRemoved();
    void fullAndReadOnlyDisksLoseNothing();
    void buildListFillsPagesFromList1();

    void addThroughBothControls();
    void selectionIsMirroredAndDoubleClickRemoves();
    void switchMessageBoxesAndServingThroughTheLocalRoom();
    void closingDuringAListReplyDoesNotCrash();
    void servesEveryRoomOfTwoNetworksAndTheWebFace();

private:
    std::unique_ptr<testfiles::DataFolder> m_dir;
};

void TestForm1::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestForm1::init()
{
    m_dir = std::make_unique<testfiles::DataFolder>();
    QVERIFY(m_dir->isValid());
}

void TestForm1::loadFillsListsAndCount()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "Alpha\r\nBeta\r\nGamma\r\n"));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "a.htm\r\nb.htm\r\nc.htm\r\n"));
    QVERIFY(writeBytes(m_dir->filePath(u"message.txt"_s), "Enjoy\r\n"));
    Form1 form{DataFolder(m_dir->path()), new LocalRoom()};
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.List1->count(), 3);
    QCOMPARE(form.List2->count(), 3);
    QCOMPARE(form.List2->item(1)->text(), u"b.htm"_s);
    QCOMPARE(form.Label10->text(), u"Server Items: 3"_s);
    QCOMPARE(form.server().values().ServerMessage, u"Enjoy"_s);
    QCOMPARE(form.server().values().ListPages.texts(), QStringList{QString()});
    QCOMPARE(form.windowTitle(), u"Valdrin AIM Server v2"_s);
    QVERIFY(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(QApplication::focusWidget(), form.List1);
}

void TestForm1::closeSavesBothLists()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "Alpha\r\nBeta"));
    Form1 form{DataFolder(m_dir->path()), new LocalRoom()};
    form.show();
    // The list boxes show the catalogue; what they hold of their own is not saved.
    form.List2->addItem(u"extra.htm"_s);
    QVERIFY(form.close());
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray("Alpha\r\nBeta\r\n"));
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray());
    QVERIFY(!QFile::exists(m_dir->filePath(u"message.txt"_s)));
}

void TestForm1::failedSaveAtCloseOffersRetry()
{
    Form1 form{DataFolder(m_dir->path()), new LocalRoom()};
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.catalogue().add(u"Keep me"_s, u"keep.htm"_s).done);
    QVERIFY(QFile::remove(m_dir->filePath(u"descriptions.dat"_s)));
    QVERIFY(QDir(m_dir->path()).mkdir(u"descriptions.dat"_s)); // blocks the save

    QString shown;
    answerNextMessageBox(u"Keep Open"_s, &shown);
    QVERIFY(!form.close());
    QVERIFY(form.isVisible());
    QVERIFY2(shown.contains(u"descriptions.dat"_s), qPrintable(shown));

    // The operator clears the cause and tries again: the edit reaches the file.
    answerNextMessageBox(u"Try Again"_s, nullptr,
                         [this] { QDir(m_dir->filePath(u"descriptions.dat"_s)).removeRecursively(); });
    QVERIFY(form.close());
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray("Keep me\r\n"));
}

void TestForm1::unreadableFileIsReportedAtStart()
{
    const QByteArray stored("Only copy\r\n");
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), stored));
    std::unique_ptr<Form1> form;
    {
        testfiles::NoFreeFileDescriptors exhausted;
        form = std::make_unique<Form1>(DataFolder(m_dir->path()), new LocalRoom());
    }
    form->show();
    QMessageBox *warning = nullptr;
    QTRY_VERIFY((warning = form->findChild<QMessageBox *>()) != nullptr);
    QVERIFY2(warning->text().contains(u"urls.dat"_s), qPrintable(warning->text()));
    warning->close();
    QTRY_VERIFY(!form->findChild<QMessageBox *>());

    // An edit of that run says it is not saved, and closing offers to keep the window open.
    form->Text1->setText(u"Made this run"_s);
    form->Text2->setText(u"run.htm"_s);
    form->Label5_Click();
    QTRY_VERIFY((warning = form->findChild<QMessageBox *>()) != nullptr);
    QVERIFY2(warning->text().contains(u"not saved"_s), qPrintable(warning->text()));
    warning->close();
    QString shown;
    answerNextMessageBox(u"Keep Open"_s, &shown);
    QVERIFY(!form->close());
    QVERIFY2(shown.contains(u"urls.dat"_s), qPrintable(shown));
    answerNextMessageBox(u"Close Without Saving"_s);
    QVERIFY(form->close());
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), stored);
    QVERIFY(!QFile::exists(m_dir->filePath(u"descriptions.dat"_s)));
}

void TestForm1::unmatchedRowsAreShownAndCanBeRemoved()
{
    // Files out of step, as a crash of an older version could leave them.
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "Alpha\r\nBeta\r\nGamma\r\nDelta\r\n"));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "a.htm\r\nb.htm\r\n"));
    Form1 form{DataFolder(m_dir->path()), new LocalRoom()};
    form.show();
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = form.findChild<QMessageBox *>()) != nullptr);
    QVERIFY2(box->text().contains(u"row 3: Gamma"_s) && box->text().contains(u"row 4: Delta"_s),
             qPrintable(box->text()));

    // A new address never pairs with a left-over description.
    form.Text1->setText(u"New"_s);
    form.Text2->setText(u"new.htm"_s);
    QVERIFY(!form.catalogue().add(form.Text1->text(), form.Text2->text()).done);

    // A row without a partner stays selected and a double click removes it alone.
    form.List1->setCurrentRow(3);
    QCOMPARE(form.List1->currentRow(), 3);
    form.List1_DblClick();
    QCOMPARE(form.List1->count(), 3);
    QCOMPARE(form.List2->count(), 2);

    // The box's choice removes the rest.
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == u"Remove Unmatched Rows"_s)
            button->click();
    }
    QCOMPARE(form.List1->count(), 2);
    QCOMPARE(form.Label10->text(), u"Server Items: 2"_s);
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray("Alpha\r\nBeta\r\n"));
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray("a.htm\r\nb.htm\r\n"));
}

void TestForm1::fullAndReadOnlyDisksLoseNothing()
{
    testfiles::TinyDisk disk(64);
    if (!disk.isMounted())
        QSKIP("Mounting a small disk needs root");
    QVERIFY(writeBytes(disk.filePath(u"descriptions.dat"_s), "Alpha\r\n"));
    QVERIFY(writeBytes(disk.filePath(u"urls.dat"_s), "a.htm\r\n"));
    Form1 form{DataFolder(disk.path()), new LocalRoom()};
    form.show();

    // Full: the add is kept in the window, the box names the cause and what the files hold.
    disk.fill();
    form.Text1->setText(u"Beta"_s);
    form.Text2->setText(u"b.htm"_s);
    form.Label5_Click();
    QMessageBox *warning = nullptr;
    QTRY_VERIFY((warning = form.findChild<QMessageBox *>()) != nullptr);
    QVERIFY2(warning->text().contains(u"the disk is full"_s) && warning->text().contains(u"were not changed"_s),
             qPrintable(warning->text()));
    warning->close();
    QCOMPARE(form.List1->count(), 2);
    QCOMPARE(readBytes(disk.filePath(u"descriptions.dat"_s)), QByteArray("Alpha\r\n"));
    disk.empty();

    // Read-only at close: the operator keeps the window open, then saves once it is writable.
    QVERIFY(disk.makeReadOnly());
    QString shown;
    answerNextMessageBox(u"Keep Open"_s, &shown);
    QVERIFY(!form.close());
    QVERIFY2(shown.contains(u"read-only"_s), qPrintable(shown));
    QCOMPARE(readBytes(disk.filePath(u"urls.dat"_s)), QByteArray("a.htm\r\n"));
    answerNextMessageBox(u"Try Again"_s, nullptr, [&disk] { QVERIFY(disk.makeWritable()); });
    QVERIFY(form.close());
    QCOMPARE(readBytes(disk.filePath(u"urls.dat"_s)), QByteArray("a.htm\r\nb.htm\r\n"));
}

void TestForm1::buildListFillsPagesFromList1()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "Alpha\r\nBeta\r\n"));
    Form1 form{DataFolder(m_dir->path()), new LocalRoom()};
    form.BuildList();
    QCOMPARE(form.server().values().ListPages.texts(), QStringList{u"\r0) Alpha\r1) Beta"_s});
    form.BuildList2();
    QCOMPARE(form.server().values().ListPages.size(), 2);
}

void TestForm1::addThroughBothControls()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "Alpha\r\nBeta\r\n"));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "a.htm\r\nb.htm\r\n"));
    Form1 form{DataFolder(m_dir->path()), new LocalRoom()};

    form.Text1->setText(u"Gamma"_s);
    form.Label5_Click(); // an empty address box: nothing happens
    QCOMPARE(form.List1->count(), 2);
    QCOMPARE(form.Text1->text(), u"Gamma"_s);

    form.Text2->setText(u"c.htm"_s);
    QTest::mouseClick(form.Label5, Qt::LeftButton);
    QCOMPARE(form.List1->item(2)->text(), u"Gamma"_s);
    QCOMPARE(form.List2->item(2)->text(), u"c.htm"_s);
    QVERIFY(form.Text1->text().isEmpty() && form.Text2->text().isEmpty());
    QCOMPARE(form.Label10->text(), u"Server Items: 3"_s);
    QCOMPARE(form.server().values().ListPages.texts(), QStringList{u"\r0) Alpha\r1) Beta\r2) Gamma"_s});
    QCOMPARE(readBytes(m_dir->filePath(u"urls.dat"_s)), QByteArray("a.htm\r\nb.htm\r\nc.htm\r\n")); // saved at once

    // The hidden "A" button, reached by the keyboard, adds without the refreshes.
    form.Text1->setText(u"   "_s);
    form.Text2->setText(u"d.htm"_s);
    form.Command1->setFocus();
    QTest::keyClick(form.Command1, Qt::Key_Space);
    QCOMPARE(form.List1->count(), 4);
    QCOMPARE(form.List1->item(3)->text(), u"   "_s);
    QCOMPARE(form.Label10->text(), u"Server Items: 3"_s);
    QCOMPARE(form.server().values().ListPages.at(0).count(u'\r'), 3);

    // Pasted text longer than a line box's usual limit is taken whole.
    const QString pasted(40000, u'x');
    form.Text1->setText(pasted);
    form.Text2->setText(pasted);
    form.Label5_Click();
    QCOMPARE(form.List2->item(4)->text(), pasted);
}

void TestForm1::selectionIsMirroredAndDoubleClickRemoves()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "A\r\nB\r\nC\r\n"));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "a\r\nb\r\nc\r\n"));
    Form1 form{DataFolder(m_dir->path()), new LocalRoom()};
    form.BuildList();
    const QStringList pagesBefore = form.server().values().ListPages.texts();

    int list1Changes = 0;
    connect(form.List1, &QListWidget::currentRowChanged, this, [&] { ++list1Changes; });
    form.List2->setCurrentRow(2);
    QCOMPARE(form.List1->currentRow(), 2);
    QCOMPARE(list1Changes, 1); // no echo back and forth
    form.List1->setCurrentRow(1);
    QCOMPARE(form.List2->currentRow(), 1);

    form.Text1->setText(u"typed"_s);
    form.List2_DblClick();
    QCOMPARE(form.Text1->text(), u"B"_s);
    QCOMPARE(form.Text2->text(), u"b"_s);
    QCOMPARE(form.List1->count(), 2);
    QCOMPARE(form.List1->item(1)->text(), u"C"_s);
    QCOMPARE(form.List2->item(1)->text(), u"c"_s);
    QCOMPARE(form.Label10->text(), u"Server Items: 2"_s);
    QCOMPARE(form.server().values().ListPages.texts(), pagesBefore); // no rebuild on removal
    QCOMPARE(readBytes(m_dir->filePath(u"descriptions.dat"_s)), QByteArray("A\r\nC\r\n"));

    // Put back through "A D D": it returns at the end.
    form.Label5_Click();
    QCOMPARE(form.List1->item(2)->text(), u"B"_s);

    // A double click with nothing selected removes nothing.
    form.List1->setCurrentRow(-1);
    form.List2->setCurrentRow(-1);
    form.Text1->setText(u"kept"_s);
    form.List1_DblClick();
    QCOMPARE(form.List1->count(), 3);
    QCOMPARE(form.Text1->text(), u"kept"_s);
}

void TestForm1::switchMessageBoxesAndServingThroughTheLocalRoom()
{
    QVERIFY(writeBytes(m_dir->filePath(u"descriptions.dat"_s), "Alpha\r\n"));
    QVERIFY(writeBytes(m_dir->filePath(u"urls.dat"_s), "a.htm\r\n"));
    auto *room = new LocalRoom();
    Form1 form{DataFolder(m_dir->path()), room};

    room->setRunning(false);
    QString shown;
    answerNextMessageBox(u"OK"_s, &shown);
    form.Label2_Click();
    QCOMPARE(shown, u"You must be have AOL Instant Messenger running before you can serve."_s);
    room->setRunning(true);
    room->setInRoom(false);
    answerNextMessageBox(u"OK"_s, &shown);
    QTest::mouseClick(form.Label2, Qt::LeftButton);
    QCOMPARE(shown, u"You must be in a chat room before you can serve."_s);
    QCOMPARE(form.Label2->text(), u"On"_s);

    room->setInRoom(true);
    form.Label2_Click();
    QCOMPARE(form.Label2->text(), u"Off"_s);
    QVERIFY(form.Timer1->isActive());
    QCOMPARE(room->roomLines().size(), 4);
    room->post(u"Ann"_s, u"/LinkDesk send 0"_s);
    QTRY_COMPARE(room->messagesTo(u"Ann"_s).size(), 1);
    QVERIFY(room->messagesTo(u"Ann"_s)[0].startsWith(u"<a href=\"a.htm\">Alpha</a>\r"_s));

    // Each switch reads its own caption: the hidden one still says "On" and
    // switches on again; a caption other than exactly "On" switches off.
    form.Command2_Click();
    QCOMPARE(form.Command2->text(), u"Off"_s);
    QCOMPARE(room->roomLines().size(), 8); // with Ann's line
    form.Command2->setText(u"on"_s);
    form.Command2_Click();
    QCOMPARE(form.Command2->text(), u"On"_s);
    QVERIFY(room->roomLines().last().text.endsWith(u"Server Off"_s));
    QVERIFY(!form.Timer1->isActive());
    QCOMPARE(form.Label2->text(), u"Off"_s);
}

void TestForm1::closingDuringAListReplyDoesNotCrash()
{
    QVERIFY(m_dir->writeSampleCatalogue(100));
    auto *room = new LocalRoom();
    auto *form = new Form1(DataFolder(m_dir->path()), room);
    form->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<Form1> alive(form);
    form->show();
    form->Command2_Click();
    form->BuildList();
    QPointer<LocalRoom> roomAlive(room);
    int pagesAtClose = -1;
    // The window closes while the reply waits between two pages.
    QTimer::singleShot(1500, form, [&] {
        pagesAtClose = int(room->messagesTo(u"Ann"_s).size());
        form->close();
    });
    room->post(u"Ann"_s, u"/LinkDesk send list"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!alive, 15000);
    QVERIFY(!roomAlive); // the messenger went with the window
    QVERIFY(pagesAtClose >= 1 && pagesAtClose < 5);
}

void TestForm1::servesEveryRoomOfTwoNetworksAndTheWebFace()
{
#ifndef VALDRIN_TEST_NETWORKS
    QSKIP("this build has no chat networks");
#else
    IrcServer alpha;
    IrcServer beta;
    for (const QString &started : {alpha.start(), beta.start()})
        QVERIFY2(started.isEmpty(), qPrintable(started));
    IrcMember ann(u"ann"_s, alpha.port());
    IrcMember cat(u"cat"_s, beta.port());
    QVERIFY(ann.join(u"#links"_s) && cat.join(u"#more"_s));
    QVERIFY(m_dir->writeSampleCatalogue(5));
    const quint16 web = testprocesses::freeLoopbackPort();
    const QByteArray alphaOnly = u"http-listen = 127.0.0.1:%1\nprotocol = irc\nsend-rate = 0\n"
                                 u"[alpha]\naccount = desk@127.0.0.1\noption.port = %2\nroom = #links\n"_s.arg(web)
                                     .arg(alpha.port())
                                     .toUtf8();
    QVERIFY(writeBytes(
        m_dir->filePath(u"network.conf"_s),
        alphaOnly +
            u"[beta]\naccount = deskb@127.0.0.1\noption.port = %1\nroom = #more\n"_s.arg(beta.port()).toUtf8()));
    const NetworkConfig::Parsed settings = NetworkConfig::load(m_dir->path());
    QVERIFY2(settings.value, qPrintable(settings.error));
    QVERIFY(ServedRoom::startPurple().isEmpty());

    Form1 form{DataFolder(m_dir->path()), nullptr};
    QCOMPARE(form.serve(*settings.value), QString());
    QTRY_VERIFY_WITH_TIMEOUT(form.Label2->toolTip().count(u"joined, not served"_s) == 2, 20000);
    QCOMPARE(ann.channelMessages().size(), 0); // the operator's switch serves, not the join

    // One click serves both rooms, each from its own connection's nick.
    form.Label2_Click();
    QCOMPARE(form.Label2->text(), u"Off"_s);
    QTRY_COMPARE_WITH_TIMEOUT(ann.channelMessages().size(), 4, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(cat.channelMessages().size(), 4, 10000);
    QVERIFY(cat.channelMessages()[2].text.contains(u"/deskb send list"_s));
    QCOMPARE(form.Label2->toolTip(), u"alpha #links: served\nbeta #more: served"_s);
    cat.say(u"/deskb send 1"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!cat.privateMessages().isEmpty(), 10000);
    QVERIFY(cat.privateMessages()[0].text.startsWith(u"Item 1: a page about links"_s));
    QVERIFY(ann.privateMessages().isEmpty());
    // The web face shows both rooms.
    const QByteArray page = testprocesses::fetch(web, "/");
    QVERIFY2(page.contains("alpha #links") && page.contains("beta #more"), page.constData());

    form.Label2_Click();
    QCOMPARE(form.Label2->text(), u"On"_s);
    QTRY_VERIFY_WITH_TIMEOUT(ann.channelMessages().last().text.endsWith(u"No longer serving"_s), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(cat.channelMessages().last().text.endsWith(u"No longer serving"_s), 10000);

    // An edit of network.conf reaches the window as SIGHUP reaches the server: beta's room is left.
    QVERIFY(writeBytes(m_dir->filePath(u"network.conf"_s), alphaOnly));
    QTRY_COMPARE_WITH_TIMEOUT(form.Label2->toolTip(), u"alpha #links: joined, not served"_s, 10000);
#endif
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
