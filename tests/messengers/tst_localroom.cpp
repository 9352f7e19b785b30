#include "messengers/localroom/localroom.h"
#include "windows/localroomwindow.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestLocalRoom : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void chatLinesArriveLaterAndOnlyWhileWatched();
    void callsFailWhenShutDownOrOutOfTheRoom();
    void windowPostsAndShowsWhatMembersReceived();
    void windowButtonsLeaveAndShutDown();
};

void TestLocalRoom::chatLinesArriveLaterAndOnlyWhileWatched()
{
    LocalRoom room;
    QSignalSpy lines(&room, &MorvexAIMOCX::AIM::ChatLine);
    room.post(u"Ann"_s, u"before watching"_s);
    room.StartChatWatch();
    room.post(u"Ann"_s, u"/LinkDesk send list"_s);
    QCOMPARE(lines.size(), 0); // not inside post itself
    QTRY_COMPARE(lines.size(), 1);
    QCOMPARE(lines[0], (QVariantList{u"Ann"_s, u"/LinkDesk send list"_s}));

    room.SendChat(u"hello"_s); // the program's own line comes back too
    QTRY_COMPARE(lines.size(), 2);
    QCOMPARE(lines[1][0].toString(), u"Link Desk"_s);
    room.StopChatWatch();
    room.post(u"Ann"_s, u"after"_s);
    QTest::qWait(20);
    QCOMPARE(lines.size(), 2);
}

void TestLocalRoom::callsFailWhenShutDownOrOutOfTheRoom()
{
    LocalRoom room;
    QVERIFY(room.IsRunning());
    QVERIFY(room.ChatRoom() != 0);
    room.setInRoom(false);
    QCOMPARE(room.ChatRoom(), 0);
    QVERIFY_THROWS_EXCEPTION(MessengerError, room.SendChat(u"x"_s));
    room.SendIM(u"Ann"_s, u"still reaches a member"_s);
    room.setRunning(false);
    QVERIFY(!room.IsRunning());
    QCOMPARE(room.ChatRoom(), 0);
    QVERIFY_THROWS_EXCEPTION(MessengerError, room.SendIM(u"Ann"_s, u"x"_s));
    QVERIFY_THROWS_EXCEPTION(MessengerError, room.FinishIM(u"Ann"_s));
    QCOMPARE(room.messagesTo(u"Ann"_s), QStringList{u"still reaches a member"_s});
}

void TestLocalRoom::windowPostsAndShowsWhatMembersReceived()
{
    LocalRoom room;
    LocalRoomWindow window(&room);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto edits = window.findChildren<QLineEdit *>();
    QCOMPARE(edits.size(), 2);
    edits[0]->setText(u"Ann"_s);
    edits[1]->setText(u"/Link Desk send list"_s);
    QTest::keyClick(edits[1], Qt::Key_Return);
    QCOMPARE(room.roomLines().size(), 1);
    QCOMPARE(room.roomLines()[0].sender, u"Ann"_s);
    QVERIFY(edits[1]->text().isEmpty());

    room.SendIM(u"Ann"_s, u"\r0) <a href=\"http://example.org\">Alpha</a>\r1) Beta"_s);
    auto *members = window.findChild<QListWidget *>();
    QCOMPARE(members->count(), 1);
    const auto views = window.findChildren<QTextBrowser *>();
    QVERIFY(views[1]->toPlainText().contains(u"1) Beta"_s));
    QVERIFY(views[1]->toHtml().contains(u"http://example.org"_s));
    QCOMPARE(LocalRoomWindow::displayHtml(u"a\rb\r\nc"_s), u"a<br>b<br>c"_s);
}

void TestLocalRoom::windowButtonsLeaveAndShutDown()
{
    LocalRoom room;
    LocalRoomWindow window(&room);
    window.show();
    QPushButton *leave = nullptr;
    QPushButton *shutDown = nullptr;
    for (QPushButton *button : window.findChildren<QPushButton *>()) {
        if (button->text() == u"Leave Room")
            leave = button;
        if (button->text() == u"Shut Down Messenger")
            shutDown = button;
    }
    QVERIFY(leave && shutDown);
    leave->click();
    QCOMPARE(room.ChatRoom(), 0);
    QCOMPARE(leave->text(), u"Enter Room"_s);
    leave->click();
    QVERIFY(room.ChatRoom() != 0);
    shutDown->click();
    QVERIFY(!room.IsRunning());
    shutDown->click();
    QVERIFY(room.IsRunning());
    window.close(); // closing the client is the messenger shutting down
    QVERIFY(!room.IsRunning());
}

QTEST_MAIN(TestLocalRoom)
#include "tst_localroom.moc"
