#include "support/ircmember.h"
#include "support/scriptedserver.h"
#include "support/servedroom.h"
#include "support/serverprocess.h"
#include "support/testcertificates.h"
#include "support/testfiles.h"
#include "support/testprocesses.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;

// The windowless server on the servers public networks run, each started from
// tests/interop/servers: InspIRCd with Anope's services, ircd-hybrid, ejabberd.
// One test function a server; CTest runs each as a suite of its own.
class TestInterop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void inspircdWithAnope();
    void ircdHybrid();
    void ejabberd();

private:
    QTemporaryDir m_certificates;
    testcertificates::Certificate m_authority;
};

namespace {

// Three list pages: 21, 20 and one row.
constexpr int Items = 42;
const QString Password = u"secret"_s;

// The windowless server on a sample catalogue and the settings; false when it did not start.
bool startProgram(ServerProcess &program, const QString &settings)
{
    return program.start(QString::fromUtf8(VALDRIN_SERVER_BINARY), Items, settings).isEmpty();
}

// How many log lines hold the text, once there are at least count of them.
bool waitForLog(const QStringList &log, const QString &text, int count = 1, int timeoutMs = 30000)
{
    return QTest::qWaitFor([&] { return log.filter(text).size() >= count; }, timeoutMs);
}

QString lastLines(const QStringList &log)
{
    return log.mid(std::max<qsizetype>(0, log.size() - 40)).join(u'\n');
}

bool gotPrivateMessageFrom(const IrcMember &member, const QString &from, const QString &holding = QString())
{
    const QList<IrcMember::Message> messages = member.privateMessages();
    return std::any_of(messages.cbegin(), messages.cend(), [&](const IrcMember::Message &message) {
        return message.from == from && message.text.contains(holding);
    });
}

// The program's lines in the room, under its nick or the one it had while a ghost held that.
bool gotChannelMessageFrom(const IrcMember &member, const QString &from)
{
    const QList<IrcMember::Message> messages = member.channelMessages();
    return std::any_of(messages.cbegin(), messages.cend(),
                       [&](const IrcMember::Message &message) { return message.from.startsWith(from); });
}

// An IRC member who creates the channel (and so is its operator), with the modes given.
std::unique_ptr<IrcMember> channelOperator(const QString &nick, quint16 port, const QString &channel,
                                           const QByteArray &modes = {})
{
    auto member = std::make_unique<IrcMember>(nick, port);
    if (!member->join(channel, 15000))
        return nullptr;
    if (!modes.isEmpty())
        member->sendRaw("MODE " + channel.toUtf8() + ' ' + modes);
    return member;
}

// Asks for item 3 and waits for its reply; false if none came.
bool askItem(IrcMember &member, const QString &nick)
{
    member.clear();
    member.say(u"/%1 send 3"_s.arg(nick));
    return QTest::qWaitFor([&] { return gotPrivateMessageFrom(member, nick, u"Item 3:"_s); }, 20000);
}

// Asks for the list and waits for its last row; the seconds it took, or -1.
double askList(IrcMember &member, const QString &nick, int timeoutMs)
{
    member.clear();
    QElapsedTimer clock;
    clock.start();
    member.say(u"/%1 send list"_s.arg(nick));
    const QString last = u"Item %1:"_s.arg(Items - 1);
    if (!QTest::qWaitFor([&] { return gotPrivateMessageFrom(member, nick, last); }, timeoutMs))
        return -1;
    return clock.elapsed() / 1000.0;
}

// The sections of network.conf for two connections over TLS to the port, one
// trusting the pinned certificate, one its authority.
QString tlsSections(quint16 port, const testcertificates::Certificate &leaf, const QString &authorityFile)
{
    return u"[pinned]\nprotocol = irc\naccount = linkpin@127.0.0.1\noption.port = %1\noption.ssl = true\n"
           u"tls-fingerprint = %2\nroom = #tls\n"
           u"[authority]\nprotocol = irc\naccount = linkca@127.0.0.1\noption.port = %1\noption.ssl = true\n"
           u"tls-ca-file = %3\nroom = #tls\n"_s.arg(port)
               .arg(leaf.sha256, authorityFile);
}

// Why ircd-hybrid cannot run here, or empty: it runs as root in a mount
// namespace of its own, which a container or a chroot may not allow.
QString whyHybridCannotRun()
{
    if (geteuid() != 0)
        return u"ircd-hybrid runs here only as root (in a mount namespace of its own, with a DNS helper on port 53)"_s;
    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(u"unshare"_s, {u"--mount"_s, u"--propagation"_s, u"private"_s, u"true"_s});
    if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        return u"ircd-hybrid needs a mount namespace of its own, which this machine cannot make: "_s +
               QString::fromLocal8Bit(probe.readAll()).trimmed();
    return {};
}

} // namespace

void TestInterop::initTestCase()
{
    if (const QString missing = ScriptedServer::unavailable(); !missing.isEmpty())
        QSKIP(qPrintable(missing));
    m_authority = testcertificates::selfSigned(m_certificates.path(), u"Valdrin Interop Authority"_s);
    QVERIFY2(m_authority.error.isEmpty(), qPrintable(m_authority.error));
    QVERIFY(ServedRoom::startPurple().isEmpty());
    qputenv("VALDRIN_INTEROP_PASSWORD", Password.toUtf8());
}

// InspIRCd with Anope: SASL and NickServ, a ghost of the program holding its
// nick, a channel for identified users only (+R) and a keyed one, the list at
// the pace the README gives, a kick, a restart of the network, and TLS.
void TestInterop::inspircdWithAnope()
{
    const testcertificates::Certificate leaf =
        testcertificates::issuedBy(m_authority, m_certificates.path(), u"127.0.0.1"_s);
    QVERIFY2(leaf.error.isEmpty(), qPrintable(leaf.error));
    const quint16 port = testprocesses::freeLoopbackPort();
    const quint16 tlsPort = testprocesses::freeLoopbackPort();
    const quint16 linkPort = testprocesses::freeLoopbackPort();
    ScriptedServer inspircd(u"inspircd.sh"_s, {QString::number(port), u"--tls-port"_s, QString::number(tlsPort),
                                               u"--cert"_s, leaf.certificateFile, u"--key"_s, leaf.keyFile,
                                               u"--link-port"_s, QString::number(linkPort)});
    ScriptedServer anope(u"anope.sh"_s, {QString::number(linkPort)});
    QString started = inspircd.start(port);
    QVERIFY2(started.isEmpty(), qPrintable(started));
    started = anope.start(0);
    QVERIFY2(started.isEmpty(), qPrintable(started));

    // The services are up once NickServ answers a WHOIS.
    IrcMember probe(u"probe"_s, port);
    QVERIFY(probe.join(u"#probe"_s));
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     probe.sendRaw("WHOIS NickServ");
                     QTest::qWait(300);
                     return !probe.rawLines().filter(u" 311 "_s).isEmpty();
                 },
                 20000),
             qPrintable(anope.logTail()));
    // The program's nicks, registered as an operator would.
    for (const QString &nick : {u"linkdesk"_s, u"linkns"_s}) {
        IrcMember owner(nick, port);
        QVERIFY(owner.join(u"#register"_s));
        owner.sendRaw(u"PRIVMSG NickServ :REGISTER %1 %2@example.org"_s.arg(Password, nick).toUtf8());
        QVERIFY2(QTest::qWaitFor([&] { return !owner.rawLines().filter(u" 900 "_s).isEmpty(); }, 10000),
                 qPrintable(owner.rawLines().join(u'\n')));
        owner.sendRaw("QUIT");
    }
    // A ghost of the program (a quick restart) holds its nick, identified.
    IrcMember ghost(u"linkdesk"_s, port);
    QTRY_VERIFY_WITH_TIMEOUT(ghost.join(u"#ghosts"_s, 3000), 10000);
    ghost.sendRaw(u"PRIVMSG NickServ :IDENTIFY %1"_s.arg(Password).toUtf8());
    QTRY_VERIFY_WITH_TIMEOUT(!ghost.rawLines().filter(u" 900 "_s).isEmpty(), 10000);

    const auto ann = channelOperator(u"ann"_s, port, u"#links"_s);
    const auto bob = channelOperator(u"bob"_s, port, u"#members"_s, "+R");
    const auto cat = channelOperator(u"cat"_s, port, u"#keyed"_s, "+k sesame");
    const auto dan = channelOperator(u"dan"_s, port, u"#nsonly"_s, "+R");
    const auto eve = channelOperator(u"eve"_s, port, u"#tls"_s);
    QVERIFY(ann && bob && cat && dan && eve);

    ServerProcess program;
    QVERIFY(startProgram(
        program, u"send-rate = 1\nsend-burst = 5\n"
                 u"[sasl]\nprotocol = irc\naccount = linkdesk@127.0.0.1\npassword-env = VALDRIN_INTEROP_PASSWORD\n"
                 u"option.port = %1\noption.sasl = true\noption.auth_plain_in_clear = true\n"
                 u"room = #links\nroom = #members\nroom = #keyed\nroom-key = sesame\n"
                 u"[nickserv]\nprotocol = irc\naccount = linkns@127.0.0.1\n"
                 u"nickserv-password-env = VALDRIN_INTEROP_PASSWORD\noption.port = %1\nroom = #nsonly\n"_s.arg(port) +
                     tlsSections(tlsPort, leaf, m_authority.certificateFile)));
    const QStringList &log = program.log;
    for (const QString &room : {u"#links"_s, u"#members"_s, u"#keyed"_s, u"#nsonly"_s})
        QVERIFY2(waitForLog(log, u"Joined the room "_s + room), qPrintable(lastLines(log)));
    QVERIFY2(waitForLog(log, u"Joined the room #tls"_s, 2), qPrintable(lastLines(log)));
    // It took its nick back from the ghost through the services, and identified without SASL too.
    QVERIFY2(waitForLog(log, u"goes by its nick linkdesk again"_s), qPrintable(lastLines(log)));
    QVERIFY2(!log.filter(u"Identified to the network's services as linkns"_s).isEmpty(), qPrintable(lastLines(log)));

    QTRY_VERIFY_WITH_TIMEOUT(gotChannelMessageFrom(*ann, u"linkdesk"_s), 20000);
    QVERIFY(askItem(*ann, u"linkdesk"_s));
    QVERIFY(askItem(*bob, u"linkdesk"_s));
    QVERIFY(askItem(*cat, u"linkdesk"_s));
    QVERIFY(askItem(*dan, u"linkns"_s));
    QVERIFY(askItem(*eve, u"linkpin"_s));
    QVERIFY(askItem(*eve, u"linkca"_s));

    // The list at one line a second after five: InspIRCd's own pace; never a flood.
    const double listSeconds = askList(*ann, u"linkdesk"_s, 120000);
    QVERIFY2(listSeconds > 0, qPrintable(lastLines(log)));
    qInfo("InspIRCd: a list of %d items in %.1f s", Items, listSeconds);
    QVERIFY(log.filter(u"was lost"_s).isEmpty());

    ann->sendRaw("KICK #links linkdesk :interop");
    QVERIFY2(waitForLog(log, u"Joined the room #links"_s, 2), qPrintable(lastLines(log)));

    // The network restarts; the services link again by themselves, and SASL
    // works again once they have.
    inspircd.stop();
    started = inspircd.start(port);
    QVERIFY2(started.isEmpty(), qPrintable(started));
    const auto annAgain = channelOperator(u"ann"_s, port, u"#links"_s);
    QVERIFY(annAgain);
    QVERIFY2(waitForLog(log, u"Joined the room #links"_s, 3, 60000), qPrintable(lastLines(log)));
    QVERIFY(askItem(*annAgain, u"linkdesk"_s));
    QVERIFY(log.filter(u"does not try again"_s).isEmpty());
}

// ircd-hybrid, without services: a keyed channel, a kick, the list at the
// README's pace with the server restarted while it is on its way (the rest
// reaches the member once both are back), and TLS.
void TestInterop::ircdHybrid()
{
    if (const QString why = whyHybridCannotRun(); !why.isEmpty())
        QSKIP(qPrintable(why));
    const testcertificates::Certificate leaf =
        testcertificates::issuedBy(m_authority, m_certificates.path(), u"127.0.0.1"_s);
    QVERIFY2(leaf.error.isEmpty(), qPrintable(leaf.error));
    const quint16 port = testprocesses::freeLoopbackPort();
    const quint16 tlsPort = testprocesses::freeLoopbackPort();
    ScriptedServer hybrid(u"hybrid.sh"_s, {QString::number(port), u"--tls-port"_s, QString::number(tlsPort),
                                           u"--cert"_s, leaf.certificateFile, u"--key"_s, leaf.keyFile});
    const QString started = hybrid.start(port);
    QVERIFY2(started.isEmpty(), qPrintable(started));
    auto ann = channelOperator(u"ann"_s, port, u"#links"_s);
    const auto cat = channelOperator(u"cat"_s, port, u"#keyed"_s, "+k sesame");
    const auto eve = channelOperator(u"eve"_s, port, u"#tls"_s);
    QVERIFY(ann && cat && eve);

    ServerProcess program;
    QVERIFY(startProgram(program, u"send-rate = 1\nsend-burst = 5\n"
                                  u"[plain]\nprotocol = irc\naccount = linkdesk@127.0.0.1\noption.port = %1\n"
                                  u"room = #links\nroom = #keyed\nroom-key = sesame\n"_s.arg(port) +
                                      tlsSections(tlsPort, leaf, m_authority.certificateFile)));
    const QStringList &log = program.log;
    for (const QString &room : {u"#links"_s, u"#keyed"_s})
        QVERIFY2(waitForLog(log, u"Joined the room "_s + room), qPrintable(lastLines(log)));
    QVERIFY2(waitForLog(log, u"Joined the room #tls"_s, 2), qPrintable(lastLines(log)));
    QTRY_VERIFY_WITH_TIMEOUT(gotChannelMessageFrom(*ann, u"linkdesk"_s), 20000);
    QVERIFY(askItem(*ann, u"linkdesk"_s));
    QVERIFY(askItem(*cat, u"linkdesk"_s));
    QVERIFY(askItem(*eve, u"linkpin"_s));
    QVERIFY(askItem(*eve, u"linkca"_s));

    ann->sendRaw("KICK #links linkdesk :interop");
    QVERIFY2(waitForLog(log, u"Joined the room #links"_s, 2), qPrintable(lastLines(log)));

    // The server restarts while Ann's list is on its way: the rest waits for
    // the connection and reaches her once both are back.
    ann->clear();
    ann->say(u"/linkdesk send list"_s);
    QTRY_VERIFY_WITH_TIMEOUT(gotPrivateMessageFrom(*ann, u"linkdesk"_s, u"Item 5:"_s), 20000);
    hybrid.stop();
    QVERIFY(hybrid.start(port).isEmpty());
    ann = channelOperator(u"ann"_s, port, u"#links"_s);
    QVERIFY(ann);
    QVERIFY2(waitForLog(log, u"Joined the room #links"_s, 3, 60000), qPrintable(lastLines(log)));
    QTRY_VERIFY2_WITH_TIMEOUT(gotPrivateMessageFrom(*ann, u"linkdesk"_s, u"Item %1:"_s.arg(Items - 1)),
                              qPrintable(lastLines(log)), 90000);
    QVERIFY(askItem(*ann, u"linkdesk"_s));
    // At the README's pace the server never cut the program off for flooding.
    QVERIFY(log.filter(u"Excess Flood"_s).isEmpty());
}

// ejabberd: a keyed room, a members-only room the program is let into while it
// waits, the list, a ban lifted, a restart, and TLS by pin and by authority.
void TestInterop::ejabberd()
{
    const testcertificates::Certificate leaf =
        testcertificates::issuedBy(m_authority, m_certificates.path(), u"localhost"_s);
    QVERIFY2(leaf.error.isEmpty(), qPrintable(leaf.error));
    const quint16 port = testprocesses::freeLoopbackPort();
    ScriptedServer ejabberd(u"ejabberd.sh"_s,
                            {QString::number(port), u"--cert"_s, leaf.certificateFile, u"--key"_s, leaf.keyFile});
    QString started = ejabberd.start(port);
    QVERIFY2(started.isEmpty(), qPrintable(started));
    const auto control = [&](const QStringList &arguments) { return ejabberd.run(u"ejabberdctl.sh"_s, arguments); };
    for (const QString &user : {u"linkdesk"_s, u"linkpin"_s, u"ann"_s}) {
        const QString failed = control({u"register"_s, user, u"localhost"_s, Password});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }
    const QString service = u"conference.localhost"_s;
    for (const QStringList &command :
         {QStringList{u"create_room"_s, u"keyed"_s, service, u"localhost"_s},
          QStringList{u"change_room_option"_s, u"keyed"_s, service, u"password_protected"_s, u"true"_s},
          QStringList{u"change_room_option"_s, u"keyed"_s, service, u"password"_s, u"sesame"_s},
          QStringList{u"create_room"_s, u"members"_s, service, u"localhost"_s},
          QStringList{u"change_room_option"_s, u"members"_s, service, u"members_only"_s, u"true"_s}}) {
        const QString failed = control(command);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    NetworkSettings annSettings = ServedRoom::xmppSettings(u"ann"_s, port);
    annSettings.tlsAuthorityFile = m_authority.certificateFile;
    PurpleMessenger ann(annSettings);
    QSignalSpy annJoined(&ann, &MorvexAIMOCX::AIM::roomJoined);
    QVERIFY(ann.start().isEmpty());
    QVERIFY(annJoined.wait(20000));

    const QString xmpp = u"protocol = xmpp\noption.port = %1\noption.connect_server = 127.0.0.1\n"
                         u"password-env = VALDRIN_INTEROP_PASSWORD\n"_s.arg(port);
    ServerProcess program;
    QVERIFY(startProgram(
        program, u"[authority]\n"_s + xmpp +
                     u"account = linkdesk@localhost/valdrin\ntls-ca-file = %1\n"
                     u"room = links@%2\nroom = keyed@%2\nroom-key = sesame\nroom = members@%2\n"
                     u"[pinned]\n"_s.arg(m_authority.certificateFile, service) +
                     xmpp +
                     u"account = linkpin@localhost/valdrin\ntls-fingerprint = %1\n"
                     u"option.connection_security = require_tls\nroom = links@%2\n"_s.arg(leaf.sha256, service)));
    const QStringList &log = program.log;
    for (const QString &room : {u"links@"_s, u"keyed@"_s})
        QVERIFY2(waitForLog(log, u"Joined the room "_s + room), qPrintable(lastLines(log)));
    QVERIFY2(waitForLog(log, u"Joined the room links@"_s, 2), qPrintable(lastLines(log)));
    // Let in while it waits: the next try joins.
    QVERIFY(log.filter(u"Joined the room members@"_s).isEmpty());
    QVERIFY(
        control({u"set_room_affiliation"_s, u"members"_s, service, u"linkdesk@localhost"_s, u"member"_s}).isEmpty());
    QVERIFY2(waitForLog(log, u"Joined the room members@"_s, 1, 60000), qPrintable(lastLines(log)));

    QSignalSpy replies(&ann, &PurpleMessenger::instantMessageReceived);
    const auto repliesHolding = [&replies](const QString &text) {
        return std::count_if(replies.cbegin(), replies.cend(),
                             [&text](const QList<QVariant> &reply) { return reply.at(1).toString().contains(text); });
    };
    ann.SendChat(u"/linkdesk send 3"_s);
    QTRY_VERIFY_WITH_TIMEOUT(repliesHolding(u"Item 3:"_s) >= 1, 20000);
    ann.SendChat(u"/linkdesk send list"_s);
    QTRY_VERIFY_WITH_TIMEOUT(repliesHolding(u"Item %1:"_s.arg(Items - 1)) >= 1, 30000);

    // Banned, then let in again: it comes back after its growing wait.
    QVERIFY(control({u"set_room_affiliation"_s, u"links"_s, service, u"linkdesk@localhost"_s, u"outcast"_s}).isEmpty());
    // The log says it was a ban, not the room's last line (its topic).
    QVERIFY2(waitForLog(log, u"is no longer in the room links@"_s, 1, 20000), qPrintable(lastLines(log)));
    const QString left = log.filter(u"is no longer in the room links@"_s).constLast();
    QVERIFY2(left.contains(u"(You have been banned"_s) && !left.contains(u"topic"_s), qPrintable(left));
    QVERIFY(control({u"set_room_affiliation"_s, u"links"_s, service, u"linkdesk@localhost"_s, u"none"_s}).isEmpty());
    QVERIFY2(waitForLog(log, u"Joined the room links@"_s, 3, 60000), qPrintable(lastLines(log)));

    // The server restarts: the program and Ann sign on again, and Ann is answered.
    ejabberd.stop();
    started = ejabberd.start(port);
    QVERIFY2(started.isEmpty(), qPrintable(started));
    QVERIFY2(waitForLog(log, u"Joined the room links@"_s, 5, 60000), qPrintable(lastLines(log)));
    QTRY_VERIFY_WITH_TIMEOUT(annJoined.size() >= 2, 60000);
    replies.clear();
    ann.SendChat(u"/linkdesk send 3"_s);
    QTRY_VERIFY_WITH_TIMEOUT(repliesHolding(u"Item 3:"_s) >= 1, 20000);
    QVERIFY(log.filter(u"does not try again"_s).isEmpty());
}

QTEST_GUILESS_MAIN(TestInterop)
#include "tst_interop.moc"
