#include "network/xmppserver.h"

#include "catalogue/valdrinbas.h"
#include "platform/purple/purplemessenger.h"
#include "platform/rowlist.h"
#include "serving/listpagebuilder.h"
#include "serving/servingengine.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int Items = 50;

struct Received
{
    QString from;
    QString text;
    qint64 atMs;
};

// A member of the room: a second account on the same server, recording what reaches it.
struct Member
{
    std::unique_ptr<PurpleMessenger> messenger;
    QList<Received> roomLines;
    QList<Received> messages;
    QElapsedTimer clock;
};

NetworkSettings xmppSettings(const QString &user, quint16 port)
{
    NetworkSettings settings;
    settings.protocolId = u"prpl-jabber"_s;
    settings.account = u"%1@localhost/valdrin"_s.arg(user);
    settings.password = u"secret"_s;
    settings.room = u"links@conference.localhost"_s;
    settings.options = {{u"port"_s, QString::number(port), 1},
                        {u"connect_server"_s, u"127.0.0.1"_s, 2},
                        {u"connection_security"_s, u"opportunistic_tls"_s, 3},
                        {u"auth_plain_in_clear"_s, u"true"_s, 4}};
    return settings;
}

} // namespace

// The program in a real XMPP multi-user chat room, as its members see it.
class TestPurpleXmpp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void roomIsUnlockedAndOpeningLinesArrive();
    void itemArrivesAsLinkWithServerMessage();
    void listArrivesPageByPageASecondApart();
    void nonCommandGetsNothing();
    void nothingIsInjected();
    void itemLatency();

private:
    [[nodiscard]] bool addMember(Member &member, const QString &name);

    QTemporaryDir m_purpleFolder;
    XmppServer m_server;
    StringRowList m_descriptions;
    StringRowList m_addresses;
    std::unique_ptr<PurpleMessenger> m_messenger;
    std::unique_ptr<ServingEngine> m_engine;
    Member m_ann;
    PlainCaption m_switch;
};

bool TestPurpleXmpp::addMember(Member &member, const QString &name)
{
    member.clock.start();
    member.messenger = std::make_unique<PurpleMessenger>(xmppSettings(name, m_server.port()));
    connect(member.messenger.get(), &MorvexAIMOCX::AIM::ChatLine, this,
            [&member](const QString &from, const QString &text) {
                member.roomLines.append({from, text, member.clock.elapsed()});
            });
    connect(member.messenger.get(), &PurpleMessenger::instantMessageReceived, this,
            [&member](const QString &from, const QString &text) {
                member.messages.append({from, text, member.clock.elapsed()});
            });
    QSignalSpy joined(member.messenger.get(), &MorvexAIMOCX::AIM::roomJoined);
    if (!member.messenger->start().isEmpty() || !joined.wait(20000))
        return false;
    member.messenger->StartChatWatch();
    return true;
}

void TestPurpleXmpp::initTestCase()
{
    for (const QString &user : {u"linkdesk"_s, u"ann"_s, u"bob"_s}) {
        const QString added = m_server.addUser(user, u"secret"_s);
        QVERIFY2(added.isEmpty(), qPrintable(added));
    }
    const QString started = m_server.start();
    QVERIFY2(started.isEmpty(), qPrintable(started));
    QCOMPARE(PurpleMessenger::initialise(m_purpleFolder.path()), QString());

    for (int i = 0; i < Items; ++i) {
        m_descriptions.AddItem(u"Item %1 about links"_s.arg(i));
        m_addresses.AddItem(u"http://example.org/page/%1"_s.arg(i));
    }
    ValdrinBas::ServerMessage = u"Enjoy <b>these</b> & more"_s;

    m_messenger = std::make_unique<PurpleMessenger>(xmppSettings(u"linkdesk"_s, m_server.port()));
    m_engine = std::make_unique<ServingEngine>(
        m_messenger.get(), m_descriptions, m_addresses,
        ServingSwitch::WindowActions{[this] { ListPageBuilder::BuildList(m_descriptions, ValdrinBas::ListPages); },
                                     [](const QString &text) { QFAIL(qPrintable(text)); }});
    QSignalSpy joined(m_messenger.get(), &MorvexAIMOCX::AIM::roomJoined);
    QCOMPARE(m_messenger->start(), QString());
    QVERIFY(joined.wait(20000));
    QCOMPARE(m_messenger->ScreenName(), u"linkdesk"_s);
}

void TestPurpleXmpp::cleanupTestCase()
{
    m_engine.reset();
    m_messenger.reset();
    m_ann.messenger.reset();
}

void TestPurpleXmpp::roomIsUnlockedAndOpeningLinesArrive()
{
    // The program created the room; another member can enter it at once.
    QVERIFY(addMember(m_ann, u"ann"_s));
    m_engine->servingSwitch().Label2_Click(m_switch);
    QCOMPARE(m_switch.text(), u"Off"_s);
    QTRY_COMPARE_WITH_TIMEOUT(m_ann.roomLines.size(), 4, 10000);
    QCOMPARE(m_ann.roomLines[0].from, u"linkdesk"_s);
    QCOMPARE(m_ann.roomLines[0].text, u"(][ Valdrin AIM Server v2 By Morvex"_s);
    QCOMPARE(m_ann.roomLines[1].text, u"(][ Now serving 50 link(s)"_s);
    QCOMPARE(m_ann.roomLines[2].text, u"(][ Type \"/linkdesk send list\" for the list"_s);
    QCOMPARE(m_ann.roomLines[3].text, u"(][ Type \"/linkdesk send #\" to get #"_s);
}

void TestPurpleXmpp::itemArrivesAsLinkWithServerMessage()
{
    m_ann.messages.clear();
    m_ann.messenger->SendChat(u"/linkdesk send 3"_s);
    QTRY_COMPARE_WITH_TIMEOUT(m_ann.messages.size(), 1, 10000);
    QCOMPARE(m_ann.messages[0].from, u"links@conference.localhost/linkdesk"_s);
    const QString text = m_ann.messages[0].text;
    QVERIFY2(text.startsWith(u"Item 3 about links"_s), qPrintable(text));
    QVERIFY(text.contains(u"\n(][ Valdrin AIM Server v2\n\nEnjoy these & more"_s));
}

void TestPurpleXmpp::listArrivesPageByPageASecondApart()
{
    m_ann.messages.clear();
    m_ann.messenger->SendChat(u"/LinkDesk send list"_s);
    QTRY_COMPARE_WITH_TIMEOUT(m_ann.messages.size(), 3, 15000);
    QVERIFY(m_ann.messages[0].text.contains(u"0) Item 0 about links\n1) Item 1"_s));
    QVERIFY(m_ann.messages[0].text.endsWith(u"20) Item 20 about links"_s));
    QVERIFY(m_ann.messages[1].text.trimmed().startsWith(u"21) Item 21"_s));
    QVERIFY(m_ann.messages[2].text.endsWith(u"49) Item 49 about links"_s));
    QVERIFY(m_ann.messages[1].atMs - m_ann.messages[0].atMs >= 900);
    QVERIFY(m_ann.messages[2].atMs - m_ann.messages[1].atMs >= 900);
}

void TestPurpleXmpp::nonCommandGetsNothing()
{
    m_ann.messages.clear();
    m_ann.messenger->SendChat(u"is the list long?"_s);
    m_ann.messenger->SendChat(u"/linkdesk send fifty"_s);
    QTest::qWait(2000);
    QVERIFY(m_ann.messages.isEmpty());
}

void TestPurpleXmpp::nothingIsInjected()
{
    m_descriptions.AddItem(u"evil</body><message to='x'>INJECTED</message>\n\u0000"_s);
    m_addresses.AddItem(u"http://example.org/\"><b>x"_s);
    Member bob;
    QVERIFY(addMember(bob, u"bob"_s));
    m_ann.messages.clear();
    m_ann.roomLines.clear();
    m_ann.messenger->SendChat(u"/linkdesk send %1"_s.arg(Items));
    QTRY_COMPARE_WITH_TIMEOUT(m_ann.messages.size(), 1, 10000);
    QTest::qWait(1000);
    m_descriptions.RemoveItem(Items);
    m_addresses.RemoveItem(Items);
    QVERIFY(m_ann.roomLines.isEmpty());
    QVERIFY(bob.messages.isEmpty());
    for (const Received &line : std::as_const(bob.roomLines)) // only Ann's command was written in the room
        QCOMPARE(line.from, u"ann"_s);
    QVERIFY(m_messenger->IsRunning());
}

void TestPurpleXmpp::itemLatency()
{
    // From a member's item command to the reply's arrival, on loopback.
    QList<qint64> latencies;
    const int samples = qEnvironmentVariableIntValue("VALDRIN_LATENCY_SAMPLES") > 0
                            ? qEnvironmentVariableIntValue("VALDRIN_LATENCY_SAMPLES")
                            : 5;
    for (int sample = 0; sample < samples; ++sample) {
        QSignalSpy replied(m_ann.messenger.get(), &PurpleMessenger::instantMessageReceived);
        QElapsedTimer clock;
        clock.start();
        m_ann.messenger->SendChat(u"/linkdesk send %1"_s.arg(sample % Items));
        QVERIFY(replied.wait(10000));
        latencies.append(clock.nsecsElapsed() / 1000);
        QTest::qWait(3100); // a person's pace, well inside the flood limits
    }
    std::sort(latencies.begin(), latencies.end());
    qInfo() << "XMPP item reply latency, median of" << latencies.size() << ":" << latencies[latencies.size() / 2]
            << "us";
}

QTEST_GUILESS_MAIN(TestPurpleXmpp)
#include "tst_purplexmpp.moc"
