#include "fakes/recordingmessenger.h"

#include "platform/rowlist.h"
#include "serving/chatresponder.h"
#include "serving/linkserver.h"
#include "serving/roomserver.h"
#include "serving/sendscheduler.h"
#include "serving/servingswitch.h"
#include "serving/valdrinbas.h"

#include <QTemporaryDir>

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString Banner = u"<FONT COLOR=\"#00008A\">(][<FONT COLOR=\"#000000\"> "_s;

QStringList bannered(const QStringList &lines)
{
    QStringList result;
    for (const QString &line : lines)
        result.append(u"SendChat:"_s + Banner + line);
    return result;
}

} // namespace

class TestServingSwitch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void labelSwitchOnAndOff();
    void buttonSwitchOnAndOff();
    void advertisementOnEveryTick();
    void onAPacedNetworkEachBlockLeavesWholeNamingTheNickAsItIs();
    void messengerNotRunningShowsFirstBoxOnly();
    void noChatRoomShowsSecondBox();
    void failingCallEndsTheHandlerAtThatStep();
    void linkServerAnswersChatLinesAndTicks();

private:
    std::unique_ptr<RecordingMessenger> m_messenger;
    StringRowList m_descriptions;
    ValdrinBas m_values;
    QTimer m_timer;
    QStringList m_boxes;
    std::unique_ptr<SendScheduler> m_scheduler;
    std::unique_ptr<ServingSwitch> m_switch;
};

void TestServingSwitch::init()
{
    m_messenger = std::make_unique<RecordingMessenger>();
    m_descriptions = StringRowList(QStringList(12, u"x"_s));
    m_values = ValdrinBas{};
    m_boxes.clear();
    m_switch.reset();
    m_scheduler = std::make_unique<SendScheduler>(m_messenger.get());
    m_switch =
        std::make_unique<ServingSwitch>(m_messenger.get(), m_scheduler.get(), m_descriptions, m_values, &m_timer);
    connect(m_switch.get(), &ServingSwitch::refused, this, [this](const QString &text) { m_boxes.append(text); });
}

void TestServingSwitch::labelSwitchOnAndOff()
{
    QSignalSpy changed(m_switch.get(), &ServingSwitch::servingChanged);
    QCOMPARE(m_timer.interval(), 60000);
    QVERIFY(!m_timer.isActive());

    QVERIFY(m_switch->switchOn(OpeningLines::Full));
    const QStringList switchOn =
        QStringList{u"IsRunning"_s, u"ChatRoom"_s} +
        bannered({u"Valdrin AIM Server v2 By Morvex"_s, u"Now serving 12 link(s)"_s,
                  u"Type \"/Link Desk send list\" for the list"_s, u"Type \"/Link Desk send #\" to get #"_s}) +
        QStringList{u"StartChatWatch"_s};
    QCOMPARE(m_messenger->calls, switchOn);
    QCOMPARE(m_values.ListPages, ListPageSet(m_descriptions)); // the pages were rebuilt
    QVERIFY(m_switch->isServing());
    QVERIFY(m_timer.isActive());

    m_messenger->calls.clear();
    QVERIFY(m_switch->switchOff(StopLine::NoLongerServing));
    QCOMPARE(m_messenger->calls, bannered({u"Valdrin AIM Server v2 By Morvex"_s, u"No longer serving"_s}) +
                                     QStringList{u"StopChatWatch"_s});
    QVERIFY(!m_switch->isServing());
    QVERIFY(!m_timer.isActive());
    QCOMPARE(changed.size(), 2);

    // An empty catalogue is announced as such.
    m_descriptions.clear();
    m_messenger->calls.clear();
    m_switch->switchOn(OpeningLines::Full);
    QVERIFY(m_messenger->calls.contains(u"SendChat:"_s + Banner + u"Now serving 0 link(s)"_s));
}

void TestServingSwitch::buttonSwitchOnAndOff()
{
    m_messenger->running = false; // the short opening lines test nothing
    QVERIFY(m_switch->switchOn(OpeningLines::Short));
    const QStringList switchOn =
        bannered({u"Valdrin AIM Server v2 By Morvex"_s, u"Type \"/Link Desk send list\" for the list"_s,
                  u"Type \"/Link Desk send #\" to get #"_s}) +
        QStringList{u"StartChatWatch"_s};
    QCOMPARE(m_messenger->calls, switchOn);
    QCOMPARE(m_values.ListPages, ListPageSet()); // no rebuild
    QVERIFY(m_switch->isServing());
    QVERIFY(m_timer.isActive());

    m_messenger->calls.clear();
    QVERIFY(m_switch->switchOff(StopLine::ServerOff));
    QCOMPARE(m_messenger->calls,
             bannered({u"Valdrin AIM Server v2 By Morvex"_s, u"Server Off"_s}) + QStringList{u"StopChatWatch"_s});
    QVERIFY(!m_timer.isActive());
}

void TestServingSwitch::advertisementOnEveryTick()
{
    m_switch->advertise();
    m_descriptions.AddItem(u"one more"_s);
    m_switch->advertise();
    const QStringList tick = {u"Valdrin AIM Server v2 By Morvex"_s, u"Serving 12 link(s)"_s,
                              u"Type \"/Link Desk send list\" for the list"_s,
                              u"Type \"/Link Desk send #\" to get #"_s};
    QStringList secondTick = tick;
    secondTick[1] = u"Serving 13 link(s)"_s;
    QCOMPARE(m_messenger->calls, bannered(tick) + bannered(secondTick));

    // With the catalogue's web address set, the tick and the opening lines name it, last.
    m_values.CatalogueAddress = u"https://links.example.org/"_s;
    m_messenger->calls.clear();
    m_switch->advertise();
    QCOMPARE(m_messenger->calls,
             bannered(secondTick + QStringList{u"The whole catalogue: https://links.example.org/"_s}));
    m_messenger->calls.clear();
    QVERIFY(m_switch->switchOn(OpeningLines::Short));
    QCOMPARE(m_messenger->calls.mid(m_messenger->calls.size() - 2, 1),
             bannered({u"The whole catalogue: https://links.example.org/"_s}));
}

// A line a second: the opening lines take four seconds to leave. Meanwhile
// the program takes its nick back (from a ghost of its own), and the minute's
// announcement comes; the room gets each block whole, and the nick to type is
// the one the program has when the line leaves.
void TestServingSwitch::onAPacedNetworkEachBlockLeavesWholeNamingTheNickAsItIs()
{
    RecordingMessenger messenger;
    messenger.network = {1.0, 1, true};
    messenger.screenName = u"linkdesk1"_s;
    SendScheduler scheduler(&messenger);
    qint64 now = 0;
    scheduler.setClockForTesting([&now] { return now; });
    ServingSwitch serving(&messenger, &scheduler, m_descriptions, m_values, &m_timer);
    QVERIFY(serving.switchOn(OpeningLines::Full));
    messenger.screenName = u"linkdesk"_s;
    serving.advertise();
    for (now = 1000; now <= 6000; now += 1000)
        scheduler.sendDue();
    const QStringList opening =
        bannered({u"Valdrin AIM Server v2 By Morvex"_s, u"Now serving 12 link(s)"_s,
                  u"Type \"/linkdesk send list\" for the list"_s, u"Type \"/linkdesk send #\" to get #"_s});
    QStringList sent = messenger.calls.filter(u"SendChat:"_s);
    QCOMPARE(sent, opening);
    // Once the block is out, the next announcement goes whole.
    serving.advertise();
    for (now = 7000; now <= 11000; now += 1000)
        scheduler.sendDue();
    sent = messenger.calls.filter(u"SendChat:"_s).mid(4);
    QCOMPARE(sent, bannered({u"Valdrin AIM Server v2 By Morvex"_s, u"Serving 12 link(s)"_s,
                             u"Type \"/linkdesk send list\" for the list"_s, u"Type \"/linkdesk send #\" to get #"_s}));
}

void TestServingSwitch::messengerNotRunningShowsFirstBoxOnly()
{
    m_messenger->running = false;
    QVERIFY(!m_switch->switchOn(OpeningLines::Full));
    QCOMPARE(m_boxes, QStringList{u"You must be have AOL Instant Messenger running before you can serve."_s});
    QCOMPARE(m_messenger->calls, QStringList{u"IsRunning"_s});
    QVERIFY(!m_switch->isServing());
    QVERIFY(!m_timer.isActive());
    QCOMPARE(m_values.ListPages, ListPageSet()); // no rebuild
}

void TestServingSwitch::noChatRoomShowsSecondBox()
{
    m_messenger->chatRoom = 0;
    QVERIFY(!m_switch->switchOn(OpeningLines::Full));
    QCOMPARE(m_boxes, QStringList{u"You must be in a chat room before you can serve."_s});
    QCOMPARE(m_messenger->calls, (QStringList{u"IsRunning"_s, u"ChatRoom"_s}));
    QVERIFY(!m_switch->isServing());
    QVERIFY(!m_timer.isActive());
}

void TestServingSwitch::failingCallEndsTheHandlerAtThatStep()
{
    m_messenger->failing = {u"StartChatWatch"_s};
    QVERIFY(!m_switch->switchOn(OpeningLines::Full));
    QCOMPARE(m_messenger->callsNamed(u"SendChat"_s).size(), 4);
    QVERIFY(!m_switch->isServing());
    QVERIFY(!m_timer.isActive());

    m_messenger->failing = {u"SendChat"_s};
    m_messenger->calls.clear();
    m_switch->advertise();
    QCOMPARE(m_messenger->calls.size(), 1);
}

void TestServingSwitch::linkServerAnswersChatLinesAndTicks()
{
    StringRowList addresses(QStringList(12, u"a.htm"_s));
    QTemporaryDir folder;
    LinkServer links(m_descriptions, addresses, DataFolder(folder.path()));
    RoomServer server(m_messenger.get(), m_scheduler.get(), nullptr, m_descriptions, addresses, links.values());
    Q_EMIT m_messenger->ChatLine(u"Ann"_s, u"/LinkDesk send 3"_s);
    QCOMPARE(m_messenger->callsNamed(u"FinishIM"_s), QStringList{u"Ann"_s});

    server.switchOn(OpeningLines::Short);
    QVERIFY(server.isServing());
    server.timer()->setInterval(10);
    m_messenger->calls.clear();
    QTRY_VERIFY(m_messenger->callsNamed(u"SendChat"_s).size() >= 4);
}

QTEST_GUILESS_MAIN(TestServingSwitch)
#include "tst_servingswitch.moc"
