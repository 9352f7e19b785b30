#include "network/ircmember.h"
#include "network/ircserver.h"
#include "network/testprocesses.h"

#include "catalogue/valdrinbas.h"
#include "platform/purple/purplemessenger.h"
#include "platform/rowlist.h"
#include "serving/chatresponder.h"
#include "serving/listpagebuilder.h"
#include "serving/servingengine.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int Items = 50; // three list pages: 21, 20 and 9 rows
const QString Room = u"#links"_s;

} // namespace

// The program on a real IRC server, as room members see it.
class TestPurpleIrc : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void openingLinesReachTheRoom();
    void advertisementComesWithTheTimer();
    void listArrivesPageByPageASecondApart();
    void itemArrivesAsLinkWithServerMessage();
    void nonCommandGetsNothing();
    void nothingIsInjectedIntoRoomOrServer();
    void secondMemberIsAnsweredDuringAList();
    void itemLatency();
    void rejoinsAfterServerRestart();
    void floodLeavesTheProgramConnectedAndPolite();

private:
    [[nodiscard]] QString sendItemAndWait(IrcMember &member, int item);

    QTemporaryDir m_purpleFolder;
    IrcServer m_server;
    StringRowList m_descriptions;
    StringRowList m_addresses;
    std::unique_ptr<PurpleMessenger> m_messenger;
    std::unique_ptr<ServingEngine> m_engine;
    std::unique_ptr<IrcMember> m_ann;
    PlainCaption m_switch;
};

void TestPurpleIrc::initTestCase()
{
    const QString started = m_server.start();
    QVERIFY2(started.isEmpty(), qPrintable(started));
    QCOMPARE(PurpleMessenger::initialise(m_purpleFolder.path()), QString());

    for (int i = 0; i < Items; ++i) {
        m_descriptions.AddItem(u"Item %1 about links"_s.arg(i));
        m_addresses.AddItem(u"http://example.org/page/%1"_s.arg(i));
    }
    ValdrinBas::ServerMessage = u"Enjoy <b>these</b> & more"_s;

    m_ann = std::make_unique<IrcMember>(u"ann"_s, m_server.port());
    QVERIFY(m_ann->join(Room));

    NetworkSettings settings;
    settings.protocolId = u"prpl-irc"_s;
    settings.account = u"linkdesk@127.0.0.1"_s;
    settings.room = Room;
    settings.options = {{u"port"_s, QString::number(m_server.port()), 1}};
    // The suite turns libpurple's pacing off; a latency measurement may keep its defaults.
    if (!qEnvironmentVariableIsSet("VALDRIN_IRC_DEFAULT_PACING"))
        settings.options += {{u"ratelimit-burst"_s, u"1000"_s, 2}, {u"ratelimit-interval"_s, u"0"_s, 3}};
    m_messenger = std::make_unique<PurpleMessenger>(settings);
    m_messenger->setReconnectDelay(300);
    m_engine = std::make_unique<ServingEngine>(
        m_messenger.get(), m_descriptions, m_addresses,
        ServingSwitch::WindowActions{[this] { ListPageBuilder::BuildList(m_descriptions, ValdrinBas::ListPages); },
                                     [](const QString &text) { QFAIL(qPrintable(text)); }});
    QSignalSpy joined(m_messenger.get(), &MorvexAIMOCX::AIM::roomJoined);
    QCOMPARE(m_messenger->start(), QString());
    QVERIFY(joined.wait(15000));
    QVERIFY(m_messenger->IsRunning());
    QVERIFY(m_messenger->ChatRoom() != 0);
    QCOMPARE(m_messenger->ScreenName(), u"linkdesk"_s);
}

void TestPurpleIrc::cleanupTestCase()
{
    m_engine.reset();
    m_messenger.reset();
    m_ann.reset();
}

QString TestPurpleIrc::sendItemAndWait(IrcMember &member, int item)
{
    const qsizetype before = member.privateMessages().size();
    member.say(u"/linkdesk send %1"_s.arg(item));
    if (!QTest::qWaitFor([&] { return member.privateMessages().size() >= before + 3; }, 10000))
        return {};
    QStringList lines;
    for (const IrcMember::Message &message : member.privateMessages().mid(before))
        lines.append(message.text);
    return lines.join(u'\n');
}

void TestPurpleIrc::openingLinesReachTheRoom()
{
    m_ann->clear();
    m_engine->servingSwitch().Label2_Click(m_switch);
    QCOMPARE(m_switch.text(), u"Off"_s);
    QTRY_COMPARE_WITH_TIMEOUT(m_ann->channelMessages().size(), 4, 10000);
    const QList<IrcMember::Message> lines = m_ann->channelMessages();
    QVERIFY2(lines[0].text.endsWith(u"(][ Valdrin AIM Server v2 By Morvex"_s), qPrintable(lines[0].text));
    QVERIFY(lines[1].text.endsWith(u"Now serving 50 link(s)"_s));
    QVERIFY(lines[2].text.endsWith(u"Type \"/linkdesk send list\" for the list"_s));
    QVERIFY(lines[3].text.endsWith(u"Type \"/linkdesk send #\" to get #"_s));
    for (const IrcMember::Message &line : lines)
        QVERIFY2(!line.text.contains(u"FONT"_s), qPrintable(line.text)); // markup does not reach IRC as text
}

void TestPurpleIrc::advertisementComesWithTheTimer()
{
    m_ann->clear();
    m_engine->timer()->setInterval(1500);
    m_engine->timer()->start();
    QTRY_VERIFY_WITH_TIMEOUT(m_ann->channelMessages().size() >= 4, 10000);
    m_engine->timer()->stop();
    QVERIFY(m_ann->channelMessages()[1].text.endsWith(u"Serving 50 link(s)"_s));
}

void TestPurpleIrc::listArrivesPageByPageASecondApart()
{
    m_ann->clear();
    m_ann->say(u"/LinkDesk send list"_s);
    QTRY_VERIFY_WITH_TIMEOUT(m_ann->privateMessages().size() >= Items + 3, 20000);
    // Each page starts with a line break, which arrives as an empty line.
    QList<IrcMember::Message> rows = m_ann->privateMessages();
    rows.removeIf([](const IrcMember::Message &row) { return row.text.isEmpty(); });
    for (int i = 0; i < Items; ++i)
        QCOMPARE(rows[i].text, u"%1) Item %1 about links"_s.arg(i));
    // Pages are a second apart: rows 21 and 41 open the second and third pages.
    QVERIFY2(rows[21].atMs - rows[20].atMs >= 900, qPrintable(QString::number(rows[21].atMs - rows[20].atMs)));
    QVERIFY(rows[41].atMs - rows[40].atMs >= 900);
    QVERIFY(rows[20].atMs - rows[0].atMs < 900);
}

void TestPurpleIrc::itemArrivesAsLinkWithServerMessage()
{
    const QString reply = sendItemAndWait(*m_ann, 3);
    QVERIFY2(reply.startsWith(u"Item 3 about links <http://example.org/page/3>\n(][ Valdrin AIM Server v2"_s),
             qPrintable(reply));
    QTRY_VERIFY(m_ann->privateMessages().last().text.contains(u"Enjoy these & more"_s));
}

void TestPurpleIrc::nonCommandGetsNothing()
{
    m_ann->clear();
    m_ann->say(u"does anybody have the list?"_s);
    m_ann->say(u"/linkdesk send 999"_s);
    m_ann->say(u"/linkdesk send list please"_s);
    QTest::qWait(2500);
    QCOMPARE(m_ann->privateMessages().size(), 0);
}

void TestPurpleIrc::nothingIsInjectedIntoRoomOrServer()
{
    // A description and a server message that hold line breaks and raw commands.
    m_descriptions.AddItem(u"evil\nPRIVMSG #links :INJECTED\rQUIT :gone\u0000"_s);
    m_addresses.AddItem(u"http://example.org/x\r\nPRIVMSG #links :INJECTED"_s);
    const QString savedMessage = ValdrinBas::ServerMessage;
    ValdrinBas::ServerMessage = u"bye\r\nPRIVMSG #links :INJECTED\r<script>x</script>"_s;
    auto bob = std::make_unique<IrcMember>(u"bob"_s, m_server.port());
    QVERIFY(bob->join(Room));
    m_ann->clear();
    m_ann->say(u"/linkdesk send %1"_s.arg(Items));
    QTRY_VERIFY_WITH_TIMEOUT(m_ann->privateMessages().size() >= 4, 10000);
    QTest::qWait(1000);
    ValdrinBas::ServerMessage = savedMessage;
    m_descriptions.RemoveItem(Items);
    m_addresses.RemoveItem(Items);

    for (const IrcMember::Message &message : bob->received())
        QVERIFY2(!message.text.contains(u"INJECTED"_s), qPrintable(message.text));
    QVERIFY(m_ann->channelMessages().isEmpty());
    QVERIFY(m_messenger->IsRunning()); // no QUIT reached the server
    QVERIFY(bob->namesInChannel().join(u' ').contains(u"linkdesk"_s));
}

void TestPurpleIrc::secondMemberIsAnsweredDuringAList()
{
    auto cat = std::make_unique<IrcMember>(u"cat"_s, m_server.port());
    QVERIFY(cat->join(Room));
    m_ann->clear();
    // Cat asks as soon as Ann's first list line arrives. The members share this
    // thread with the program, so they act from the event loop, as the program does.
    qsizetype annLinesWhenCatWasAnswered = -1;
    connect(m_ann.get(), &IrcMember::messageReceived, cat.get(), [&cat] { cat->say(u"/linkdesk send 5"_s); },
            Qt::SingleShotConnection);
    connect(cat.get(), &IrcMember::messageReceived, this,
            [&] { annLinesWhenCatWasAnswered = m_ann->privateMessages().size(); }, Qt::SingleShotConnection);
    m_ann->say(u"/linkdesk send list"_s);
    QTRY_VERIFY_WITH_TIMEOUT(m_ann->privateMessages().size() >= Items, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!cat->privateMessages().isEmpty(), 10000);
    QVERIFY(cat->privateMessages()[0].text.startsWith(u"Item 5 about links"_s));
    // Cat's item arrived while Ann's list was still on its way.
    QVERIFY2(annLinesWhenCatWasAnswered >= 0 && annLinesWhenCatWasAnswered < Items,
             qPrintable(QString::number(annLinesWhenCatWasAnswered)));
}

void TestPurpleIrc::itemLatency()
{
    // From a member's item command to the first line of the reply, on loopback.
    const int samples = qEnvironmentVariableIntValue("VALDRIN_LATENCY_SAMPLES") > 0
                            ? qEnvironmentVariableIntValue("VALDRIN_LATENCY_SAMPLES")
                            : 5;
    QList<qint64> latencies;
    for (int sample = 0; sample < samples; ++sample) {
        QSignalSpy replied(m_ann.get(), &IrcMember::messageReceived);
        QElapsedTimer clock;
        clock.start();
        m_ann->say(u"/linkdesk send %1"_s.arg(sample % Items));
        QVERIFY(replied.wait(10000));
        latencies.append(clock.nsecsElapsed() / 1000);
        QTest::qWait(3100); // a person's pace, well inside the flood limits
    }
    std::sort(latencies.begin(), latencies.end());
    qInfo() << "IRC item reply latency, median of" << latencies.size() << ":" << latencies[latencies.size() / 2]
            << "us";
}

void TestPurpleIrc::rejoinsAfterServerRestart()
{
    QSignalSpy joined(m_messenger.get(), &MorvexAIMOCX::AIM::roomJoined);
    m_server.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!m_messenger->IsRunning(), 15000);
    QCOMPARE(m_messenger->ChatRoom(), 0);
    QString started = m_server.start();
    QVERIFY2(started.isEmpty(), qPrintable(started));
    m_ann = std::make_unique<IrcMember>(u"ann"_s, m_server.port());
    QVERIFY(m_ann->join(Room));
    QVERIFY(joined.wait(30000));
    QVERIFY(!sendItemAndWait(*m_ann, 7).isEmpty());
}

void TestPurpleIrc::floodLeavesTheProgramConnectedAndPolite()
{
    const qint64 memoryBefore = testprocesses::residentKilobytes();
    std::vector<std::unique_ptr<IrcMember>> flooders;
    for (int i = 0; i < 20; ++i) {
        flooders.push_back(std::make_unique<IrcMember>(u"flood%1"_s.arg(i), m_server.port()));
        QVERIFY(flooders.back()->join(Room));
    }
    for (int line = 0; line < 100; ++line) {
        for (auto &member : flooders)
            member->say(line % 10 == 0 ? u"/linkdesk send list"_s : u"/linkdesk send %1"_s.arg(line % Items));
    }
    QTest::qWait(3000);
    QElapsedTimer clock;
    clock.start();
    const QString reply = sendItemAndWait(*m_ann, 9);
    QVERIFY2(!reply.isEmpty(), "the polite member was not answered");
    qInfo() << "polite member answered" << clock.elapsed() << "ms after 2,000 flood lines";
    QVERIFY(clock.elapsed() < 10000);
    QVERIFY(m_messenger->IsRunning());
    QVERIFY(m_messenger->ChatRoom() != 0);
    const qint64 grown = testprocesses::residentKilobytes() - memoryBefore;
    qInfo() << "resident memory grew by" << grown << "kB";
#ifndef __SANITIZE_ADDRESS__ // the sanitizer keeps freed memory on purpose
    QVERIFY2(grown < 50 * 1024, qPrintable(u"memory grew by %1 kB"_s.arg(grown)));
#endif
}

QTEST_GUILESS_MAIN(TestPurpleIrc)
#include "tst_purpleirc.moc"
