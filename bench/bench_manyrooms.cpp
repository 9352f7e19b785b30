// One server, many rooms, measured against the server binary on loopback
// chat servers:
//  - resident memory idle with 1000 items: one IRC room, then ten rooms on two
//    connections (five IRC channels, five XMPP rooms), and the cost of a room;
//  - start-up to every room joined;
//  - the item-reply latency in one room while the nine others each take
//    1000-item lists, against the same request on an idle server (median);
//  - how long SIGTERM takes with every room mid-list.
// A measurement, not a test: it prints numbers and judges nothing.
//
//   bench_manyrooms SERVER_BINARY [samples]      (default 30)

#include "itemlatency.h"
#include "support/serverprocess.h"

#include "support/ircmember.h"
#include "support/ircserver.h"
#include "support/testfiles.h"
#include "support/testprocesses.h"
#include "support/xmppserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int Items = 1000;
constexpr int RoomsPerConnection = 5;
constexpr int IdleSettleMs = 5000;

QString g_server;

// The server binary on a data folder of 1000 items.
struct Server : ServerProcess
{
    QString start(const QString &settings) { return ServerProcess::start(g_server, Items, settings); }
};

QString ircSection(const QString &name, const QString &nick, quint16 port)
{
    QString section =
        u"[%1]\nprotocol = irc\naccount = %2@127.0.0.1\nsend-rate = 0\noption.port = %3\n"_s.arg(name, nick).arg(port);
    for (int room = 0; room < RoomsPerConnection; ++room)
        section += u"room = #r%1\n"_s.arg(room);
    return section;
}

QString xmppSection(quint16 port)
{
    QString section =
        u"[chat]\nprotocol = xmpp\naccount = deskbot@localhost/valdrin\npassword = secret\n"
        u"option.port = %1\noption.connect_server = 127.0.0.1\n"
        u"option.connection_security = opportunistic_tls\noption.auth_plain_in_clear = true\n"_s.arg(port);
    for (int room = 0; room < RoomsPerConnection; ++room)
        section += u"room = r%1@conference.localhost\n"_s.arg(room);
    return section;
}

int run(int samples)
{
    // Memory: one room, then ten on two connections.
    IrcServer irc;
    XmppServer xmpp;
    if (const QString error = irc.start(); !error.isEmpty())
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    if (const QString error = xmpp.addUser(u"deskbot"_s, u"secret"_s); !error.isEmpty())
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    if (const QString error = xmpp.start(); !error.isEmpty())
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    // Resident memory once every room is joined and the server has settled; -1 when it did not join.
    const auto idleKb = [](const QString &settings, int rooms, qint64 *joinedMs = nullptr) -> qint64 {
        Server server;
        if (!server.start(settings).isEmpty())
            return -1;
        const qint64 joined = server.waitForRooms(rooms);
        if (joined < 0) {
            std::fprintf(stderr, "%s\n", qPrintable(server.log.join(u'\n')));
            return -1;
        }
        if (joinedMs)
            *joinedMs = joined;
        QTest::qWait(IdleSettleMs);
        std::printf("    (of which its own, not shared library pages: %lld kB)\n", server.anonymousKb());
        return server.residentKb();
    };
    const QString oneIrc = ircSection(u"irc"_s, u"linkdesk"_s, irc.port()).section(u"room = #r1"_s, 0, 0);
    const QString fiveIrc = ircSection(u"irc"_s, u"linkdesk"_s, irc.port());
    const QString oneXmpp = xmppSection(xmpp.port()).section(u"room = r1@"_s, 0, 0);
    qint64 joinedMs = 0;
    const qint64 oneIrcKb = idleKb(oneIrc, 1);
    const qint64 fiveIrcKb = idleKb(fiveIrc, RoomsPerConnection);
    const qint64 twoConnectionsKb = idleKb(oneIrc + oneXmpp, 2);
    const qint64 tenRoomsKb = idleKb(fiveIrc + xmppSection(xmpp.port()), 2 * RoomsPerConnection, &joinedMs);
    if (std::min({oneIrcKb, fiveIrcKb, twoConnectionsKb, tenRoomsKb}) < 0)
        return std::fprintf(stderr, "a server did not join its rooms\n"), 1;
    std::printf("memory idle, %d items:\n", Items);
    std::printf("  1 IRC room                           %6lld kB\n", oneIrcKb);
    std::printf("  5 IRC rooms, one connection          %6lld kB (%+.0f kB a room)\n", fiveIrcKb,
                double(fiveIrcKb - oneIrcKb) / (RoomsPerConnection - 1));
    std::printf("  1 IRC room + 1 XMPP room (with TLS)  %6lld kB (the XMPP connection %+lld kB)\n", twoConnectionsKb,
                twoConnectionsKb - oneIrcKb);
    std::printf("  5 IRC rooms + 5 XMPP rooms           %6lld kB = %.1f MB (%+.0f kB a room past the first of each)\n",
                tenRoomsKb, double(tenRoomsKb) / 1024.0,
                double(tenRoomsKb - twoConnectionsKb) / (2 * RoomsPerConnection - 2));
    std::printf("start-up to all 10 rooms joined: %.2f s\n", double(joinedMs) / 1000.0);

    // Latency: ten IRC rooms on two servers; the probe in the first.
    IrcServer second;
    if (const QString error = second.start(); !error.isEmpty())
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    IrcMember probe(u"probe"_s, irc.port());
    std::vector<std::unique_ptr<IrcMember>> listeners;
    for (int room = 1; room < RoomsPerConnection; ++room)
        listeners.push_back(std::make_unique<IrcMember>(u"ann%1"_s.arg(room), irc.port()));
    for (int room = 0; room < RoomsPerConnection; ++room)
        listeners.push_back(std::make_unique<IrcMember>(u"bob%1"_s.arg(room), second.port()));
    if (!probe.join(u"#r0"_s))
        return std::fprintf(stderr, "the probe could not join\n"), 1;
    for (std::size_t i = 0; i < listeners.size(); ++i) {
        if (!listeners[i]->join(u"#r%1"_s.arg(i < RoomsPerConnection - 1 ? i + 1 : i - (RoomsPerConnection - 1))))
            return std::fprintf(stderr, "a listener could not join\n"), 1;
    }
    Server server;
    if (const QString error = server.start(ircSection(u"one"_s, u"linkdesk"_s, irc.port()) +
                                           ircSection(u"two"_s, u"deskb"_s, second.port()));
        !error.isEmpty() || server.waitForRooms(2 * RoomsPerConnection) < 0)
        return std::fprintf(stderr, "latency: the server did not join its rooms\n"), 1;
    QTest::qWait(IdleSettleMs);
    std::printf("memory idle, 10 IRC rooms on two IRC networks: %lld kB (own pages %lld kB)\n", server.residentKb(),
                server.anonymousKb());
    const double idle = medianItemLatencyMs(probe, samples, Items, 37);
    // Every other room takes lists all along: asked again every ten seconds
    // (asking during one's own list keeps one's place).
    const auto askForLists = [&] {
        for (std::size_t i = 0; i < listeners.size(); ++i)
            listeners[i]->say(i < RoomsPerConnection - 1 ? u"/linkdesk send list"_s : u"/deskb send list"_s);
    };
    askForLists();
    QTimer again;
    QObject::connect(&again, &QTimer::timeout, askForLists);
    again.start(10000);
    QTest::qWait(2000);
    const double loaded = medianItemLatencyMs(probe, samples, Items, 37);
    std::printf("item reply latency, median of %d: idle %.1f ms; while 9 rooms take 1000-item lists %.1f ms "
                "(%.2fx)\n",
                samples, idle, loaded, idle > 0 ? loaded / idle : 0.0);
    qint64 pageLines = 0;
    for (const auto &listener : listeners)
        pageLines += listener->privateMessages().size();
    std::printf("  list lines the 9 members got meanwhile: %lld\n", pageLines);

    QElapsedTimer stopping;
    stopping.start();
    ::kill(pid_t(server.process.processId()), SIGTERM);
    server.process.waitForFinished(10000);
    std::printf("SIGTERM with 10 rooms mid-list: exited in %.2f s, exit code %d\n", double(stopping.elapsed()) / 1000.0,
                server.process.exitCode());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SERVER_BINARY [samples]\n", argv[0]);
        return 2;
    }
    g_server = QString::fromLocal8Bit(argv[1]);
    const int samples = argc > 2 ? std::max(1, QString::fromLocal8Bit(argv[2]).toInt()) : 30;
    return run(samples);
}
