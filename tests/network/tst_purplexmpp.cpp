#include "support/testprocesses.h"
#include "support/xmppserver.h"

#include "messengers/purple/purplemessenger.h"
#include "platform/rowlist.h"
#include "serving/listpagebuilder.h"
#include "serving/valdrinbas.h"
#include "support/servedroom.h"

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

} // namespace

// The program in a real XMPP multi-user chat room, as its members see it.
class TestPurpleXmpp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void onlyTheNamedProtocolAndTlsPluginsAreMapped();
    void roomIsUnlockedAndOpeningLinesArrive();
    void itemArrivesAsLinkWithServerMessage();
    void listArrivesPageByPageASecondApart();
    void nonCommandGetsNothing();
    void searchAnswersMatchesMoreOrNothing();
    void nothingIsInjected();
    void roomNicknameWithBlanksIsAnsweredInBothForms();
    void repliesGoToTheOccupantNeverToAnAddressTyped();

private:
    // A member signed on as the user, in the room (the program's by default), under a room nickname of its choice.
    [[nodiscard]] bool addMember(Member &member, const QString &name, const QString &nick = {},
                                 const QString &room = {});

    XmppServer m_server;
    ServedRoom m_room{Items};
    Member m_ann;
};

bool TestPurpleXmpp::addMember(Member &member, const QString &name, const QString &nick, const QString &room)
{
    member.clock.start();
    NetworkSettings settings = ServedRoom::xmppSettings(name, m_server.port());
    settings.nick = nick;
    if (!room.isEmpty())
        settings.rooms = {NetworkSettings::Room{room, {}, 0}};
    member.messenger = std::make_unique<PurpleMessenger>(settings);
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
    for (const QString &user :
         {u"linkdesk"_s, u"ann"_s, u"bob"_s, u"deskbot"_s, u"carol"_s, u"dave"_s, u"mallory"_s, u"victim"_s}) {
        const QString added = m_server.addUser(user, u"secret"_s);
        QVERIFY2(added.isEmpty(), qPrintable(added));
    }
    const QString started = m_server.start();
    QVERIFY2(started.isEmpty(), qPrintable(started));
    const QString joined = m_room.start(ServedRoom::xmppSettings(u"linkdesk"_s, m_server.port()));
    QVERIFY2(joined.isEmpty(), qPrintable(joined));
    m_room.server().values().ServerMessage = u"Enjoy <b>these</b> & more"_s;
    QCOMPARE(m_room.messenger().ScreenName(), u"linkdesk"_s);
}

void TestPurpleXmpp::cleanupTestCase()
{
    m_ann.messenger.reset();
}

void TestPurpleXmpp::onlyTheNamedProtocolAndTlsPluginsAreMapped()
{
    // XMPP's plugin and the library it is built on, and the one TLS plugin.
    const QStringList mapped = testprocesses::mappedFilesUnder(QStringLiteral(VALDRIN_PURPLE_PLUGIN_DIR));
    QCOMPARE(mapped.size(), 3);
    QCOMPARE(mapped[0], u"libjabber.so.0.0.0"_s);
    QCOMPARE(mapped[1], u"libxmpp.so"_s);
    QCOMPARE(mapped[2], u"ssl-nss.so"_s);
}

void TestPurpleXmpp::roomIsUnlockedAndOpeningLinesArrive()
{
    // The program created the room; another member can enter it at once.
    QVERIFY(addMember(m_ann, u"ann"_s));
    QVERIFY(m_room.switchOn());
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
    m_ann.messenger->SendChat(u"/linkdesk send find item"_s); // search is off until the settings turn it on
    QTest::qWait(2000);
    QVERIFY(m_ann.messages.isEmpty());
}

void TestPurpleXmpp::searchAnswersMatchesMoreOrNothing()
{
    m_room.descriptions().AddItem(u"Café guide to the Straße"_s);
    m_room.addresses().AddItem(u"http://example.org/cafe"_s);
    m_room.setSearch(true);
    const auto replyTo = [this](const QString &line) {
        m_ann.messages.clear();
        m_ann.messenger->SendChat(line);
        (void)QTest::qWaitFor([&] { return !m_ann.messages.isEmpty(); }, 10000);
        return m_ann.messages.isEmpty() ? QString() : m_ann.messages.first().text;
    };
    // One message: the first ten of the 14 matches in catalogue order, then how many more.
    const QStringList matches = replyTo(u"/LinkDesk send find ITEM 3"_s).split(u'\n');
    QCOMPARE(matches.size(), 11);
    QCOMPARE(matches[0], u"3) Item 3 about links (http://example.org/page/3)"_s);
    QCOMPARE(matches[9], u"36) Item 36 about links (http://example.org/page/36)"_s);
    QCOMPARE(matches[10], u"\u2026 and 4 more: add a word to narrow the search"_s);
    QCOMPARE(replyTo(u"/linkdesk send find CAFE strasse"_s),
             u"50) Café guide to the Straße (http://example.org/cafe)"_s);
    QCOMPARE(replyTo(u"/linkdesk send find zebra"_s), u"Nothing found for: zebra"_s);

    m_room.setSearch(false);
    m_room.descriptions().RemoveItem(Items);
    m_room.addresses().RemoveItem(Items);
    m_room.server().BuildList();
}

void TestPurpleXmpp::nothingIsInjected()
{
    m_room.descriptions().AddItem(u"evil</body><message to='x'>INJECTED</message>\n\u0000"_s);
    m_room.addresses().AddItem(u"http://example.org/\"><b>x"_s);
    Member bob;
    QVERIFY(addMember(bob, u"bob"_s));
    m_ann.messages.clear();
    m_ann.roomLines.clear();
    m_ann.messenger->SendChat(u"/linkdesk send %1"_s.arg(Items));
    QTRY_COMPARE_WITH_TIMEOUT(m_ann.messages.size(), 1, 10000);
    QTest::qWait(1000);
    m_room.descriptions().RemoveItem(Items);
    m_room.addresses().RemoveItem(Items);
    QVERIFY(m_ann.roomLines.isEmpty());
    QVERIFY(bob.messages.isEmpty());
    for (const Received &line : std::as_const(bob.roomLines)) // only Ann's command was written in the room
        QCOMPARE(line.from, u"ann"_s);
    QVERIFY(m_room.messenger().IsRunning());
}

void TestPurpleXmpp::roomNicknameWithBlanksIsAnsweredInBothForms()
{
    // A program of its own, in a room of its own, that the room meets as "Link Desk".
    ServedRoom desk(5);
    NetworkSettings settings = ServedRoom::xmppSettings(u"deskbot"_s, m_server.port());
    settings.rooms = {NetworkSettings::Room{u"desk@conference.localhost"_s, {}, 0}};
    settings.nick = u"Link Desk"_s;
    const QString joined = desk.start(settings);
    QVERIFY2(joined.isEmpty(), qPrintable(joined));
    QCOMPARE(desk.messenger().ScreenName(), u"Link Desk"_s);
    QVERIFY(desk.switchOn());

    Member carol;
    QVERIFY(addMember(carol, u"carol"_s, {}, settings.rooms.first().name));
    carol.messenger->SendChat(u"/Link Desk send 1"_s);
    QTRY_COMPARE_WITH_TIMEOUT(carol.messages.size(), 1, 10000);
    carol.messenger->SendChat(u"/LinkDesk send 2"_s);
    QTRY_COMPARE_WITH_TIMEOUT(carol.messages.size(), 2, 10000);
    QVERIFY(carol.messages[0].text.contains(u"Item 1 about links"_s));
    QVERIFY(carol.messages[1].text.contains(u"Item 2 about links"_s));

    // A member whose nick differs from the program's only in case is a member.
    Member dave;
    QVERIFY(addMember(dave, u"dave"_s, u"link desk"_s, settings.rooms.first().name));
    dave.messenger->SendChat(u"/Link Desk send 3"_s);
    QTRY_COMPARE_WITH_TIMEOUT(dave.messages.size(), 1, 10000);
    QVERIFY(dave.messages[0].text.contains(u"Item 3 about links"_s));
}

void TestPurpleXmpp::repliesGoToTheOccupantNeverToAnAddressTyped()
{
    // Victim is signed on but not in the room; Mallory takes an address for a nick.
    Member victim;
    QVERIFY(addMember(victim, u"victim"_s, {}, u"elsewhere@conference.localhost"_s));
    Member mallory;
    QVERIFY(addMember(mallory, u"mallory"_s, u"victim@localhost"_s));
    mallory.messenger->SendChat(u"/linkdesk send 3"_s);
    mallory.messenger->SendChat(u"/linkdesk send list"_s);
    QTRY_VERIFY_WITH_TIMEOUT(mallory.messages.size() >= 2, 15000); // the item and the list
    QVERIFY(mallory.messages[0].text.contains(u"Item 3 about links"_s));
    QTest::qWait(1500);
    QVERIFY2(victim.messages.isEmpty(), qPrintable(victim.messages.value(0).text));
}

QTEST_GUILESS_MAIN(TestPurpleXmpp)
#include "tst_purplexmpp.moc"
