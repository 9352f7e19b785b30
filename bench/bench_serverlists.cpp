// A 1000-item list from the windowless server on the servers public networks
// run (InspIRCd, ircd-hybrid, ejabberd, from tests/interop/servers) and on
// ngircd as Debian ships it, at the pace network.conf gives (the defaults
// unless SEND_RATE/SEND_BURST are given): how long the whole list takes, how
// long an item asked for in the middle of it waits, and whether the server
// cut the program off. A measurement, not a test.
//
//   bench_serverlists SERVER_BINARY inspircd|hybrid|ejabberd|ngircd [ITEMS] [SEND_RATE SEND_BURST]
//
// With ASK_EVERY=SECONDS (IRC only), no list: what one item reply costs in
// lines, then a member asking "send 3" every SECONDS, 20 times: how long each
// waited for its reply, how many were told busy and how many never came.

#include "support/ircmember.h"
#include "support/ircserver.h"
#include "support/scriptedserver.h"
#include "support/serverprocess.h"
#include "support/testfiles.h"
#include "support/testprocesses.h"

#include "messengers/purple/purplemessenger.h"
#include "networkconf/networksettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

struct Figures
{
    double listSeconds = -1;
    double itemDuringListSeconds = -1;
    bool cutOff = false;
    // ASK_EVERY: lines of one item reply, and each ask's wait (-1: never answered).
    int replyLines = 0;
    QList<double> waits;
    int toldBusy = 0;
};

// Starts the server binary on the settings and waits until it is in its room
// and its opening lines have gone; the error otherwise.
QString startServing(ServerProcess &program, const QString &binary, int items, const QString &settings)
{
    if (const QString error = program.start(binary, items, settings); !error.isEmpty())
        return error;
    if (program.waitForRooms(1) < 0)
        return u"the program did not join: "_s + program.log.join(u'\n');
    QTest::qWait(3000);
    return {};
}

// Asks for the list, and in its middle for one item: how long each took.
QString measureIrc(IrcMember &ann, int items, Figures *figures)
{
    QElapsedTimer clock;
    clock.start();
    ann.say(u"/linkdesk send list"_s);
    const auto has = [&ann](const QString &text) {
        const QList<IrcMember::Message> messages = ann.privateMessages();
        return std::any_of(messages.cbegin(), messages.cend(),
                           [&text](const IrcMember::Message &m) { return m.text.contains(text); });
    };
    if (!QTest::qWaitFor([&] { return has(u"Item %1:"_s.arg(items / 2)); }, 7200000))
        return u"the list stopped before its middle"_s;
    QElapsedTimer item;
    item.start();
    ann.say(u"/linkdesk send 7"_s);
    const QString wanted = u"Item 7: a page"_s;
    const auto itemReplies = [&] {
        const QList<IrcMember::Message> messages = ann.privateMessages();
        return std::count_if(messages.cbegin(), messages.cend(),
                             [&wanted](const IrcMember::Message &m) { return m.text.startsWith(wanted); });
    };
    const qsizetype before = itemReplies();
    if (!QTest::qWaitFor([&] { return itemReplies() > before; }, 600000))
        return u"the item asked during the list never came"_s;
    figures->itemDuringListSeconds = item.elapsed() / 1000.0;
    if (!QTest::qWaitFor([&] { return has(u"Item %1:"_s.arg(items - 1)); }, 7200000))
        return u"the list never ended"_s;
    figures->listSeconds = clock.elapsed() / 1000.0;
    return {};
}

// One reply's lines, then "send 3" every few seconds: each ask's wait.
QString measureAsking(IrcMember &ann, int everySeconds, Figures *figures)
{
    const auto count = [&ann](const QString &text) {
        const QList<IrcMember::Message> messages = ann.privateMessages();
        return int(std::count_if(messages.cbegin(), messages.cend(),
                                 [&text](const IrcMember::Message &m) { return m.text.contains(text); }));
    };
    const QString reply = u"Item 3: a page"_s;
    ann.say(u"/linkdesk send 3"_s);
    if (!QTest::qWaitFor([&] { return count(reply) == 1; }, 60000))
        return u"the first reply never came"_s;
    const qsizetype first = ann.privateMessages().size() - 1;
    QTest::qWait(20000);
    figures->replyLines = int(ann.privateMessages().size() - first);
    constexpr int Asks = 20;
    QList<qint64> askedAt;
    QList<qint64> answeredAt(Asks, -1);
    QElapsedTimer clock;
    clock.start();
    const int repliesBefore = count(reply);
    const auto note = [&] {
        for (int answered = count(reply) - repliesBefore, at = 0; at < answered && at < Asks; ++at) {
            if (answeredAt[at] < 0)
                answeredAt[at] = clock.elapsed();
        }
    };
    for (int ask = 0; ask < Asks; ++ask) {
        askedAt.append(clock.elapsed());
        ann.say(u"/linkdesk send 3"_s);
        const qint64 next = (ask + 1) * everySeconds * 1000LL;
        while (clock.elapsed() < next) {
            QTest::qWait(20);
            note();
        }
    }
    (void)QTest::qWaitFor(
        [&] {
            note();
            return answeredAt.constLast() >= 0;
        },
        120000);
    for (int ask = 0; ask < Asks; ++ask)
        figures->waits.append(answeredAt[ask] < 0 ? -1 : (answeredAt[ask] - askedAt[ask]) / 1000.0);
    figures->toldBusy = count(u"busy:"_s);
    return {};
}

QString pace(const QStringList &arguments)
{
    return arguments.size() >= 2 ? u"send-rate = %1\nsend-burst = %2\n"_s.arg(arguments.at(0), arguments.at(1))
                                 : QString();
}

QString runIrc(const QString &binary, const QString &family, int items, const QStringList &paceArguments,
               Figures *figures)
{
    const quint16 port = testprocesses::freeLoopbackPort();
    std::unique_ptr<ScriptedServer> scripted;
    std::unique_ptr<IrcServer> ngircd;
    if (family == u"ngircd") {
        ngircd = std::make_unique<IrcServer>();
        ngircd->setThrottled(true);
        if (const QString error = ngircd->start(); !error.isEmpty())
            return error;
    } else {
        scripted = std::make_unique<ScriptedServer>(family == u"hybrid" ? u"hybrid.sh"_s : u"inspircd.sh"_s,
                                                    QStringList{QString::number(port)});
        if (const QString error = scripted->start(port); !error.isEmpty())
            return error;
    }
    const quint16 serverPort = ngircd ? ngircd->port() : port;
    IrcMember ann(u"ann"_s, serverPort);
    if (!ann.join(u"#links"_s))
        return u"the member could not join"_s;
    ServerProcess program;
    // Item replies as operators send them: with a server message of one line.
    if (!testfiles::writeBytes(program.folder.filePath(u"message.txt"_s), "Ask in the room for more links."))
        return u"the server message could not be written"_s;
    if (const QString error =
            startServing(program, binary, items,
                         pace(paceArguments) + u"protocol = irc\naccount = linkdesk@127.0.0.1\n"
                                               u"option.port = %1\nroom = #links\n"_s.arg(serverPort));
        !error.isEmpty())
        return error;
    const int askEvery = qEnvironmentVariableIntValue("ASK_EVERY");
    const QString error = askEvery > 0 ? measureAsking(ann, askEvery, figures) : measureIrc(ann, items, figures);
    figures->cutOff = !program.log.filter(u"was lost"_s).isEmpty();
    return error;
}

QString runXmpp(const QString &binary, int items, const QStringList &paceArguments, Figures *figures)
{
    const quint16 port = testprocesses::freeLoopbackPort();
    ScriptedServer ejabberd(u"ejabberd.sh"_s, {QString::number(port)});
    if (const QString error = ejabberd.start(port); !error.isEmpty())
        return error;
    for (const QString &user : {u"linkdesk"_s, u"ann"_s}) {
        if (const QString failed =
                ejabberd.run(u"ejabberdctl.sh"_s, {u"register"_s, user, u"localhost"_s, u"secret"_s});
            !failed.isEmpty())
            return failed;
    }
    if (const QString error = PurpleMessenger::initialise(QDir::temp().filePath(u"valdrin-bench-purple"_s));
        !error.isEmpty())
        return error;
    NetworkSettings annSettings;
    annSettings.protocolId = u"prpl-jabber"_s;
    annSettings.account = u"ann@localhost/bench"_s;
    annSettings.password = u"secret"_s;
    annSettings.rooms = {NetworkSettings::Room{u"links@conference.localhost"_s, {}, 0}};
    annSettings.options = {{u"port"_s, QString::number(port), 1},
                           {u"connect_server"_s, u"127.0.0.1"_s, 2},
                           {u"auth_plain_in_clear"_s, u"true"_s, 3}};
    PurpleMessenger ann(annSettings);
    QSignalSpy joined(&ann, &MorvexAIMOCX::AIM::roomJoined);
    if (!ann.start().isEmpty() || !joined.wait(20000))
        return u"the member could not join"_s;
    ServerProcess program;
    if (const QString error =
            startServing(program, binary, items,
                         pace(paceArguments) + u"protocol = xmpp\naccount = linkdesk@localhost/valdrin\n"
                                               u"password-env = VALDRIN_BENCH_PASSWORD\noption.port = %1\n"
                                               u"option.connect_server = 127.0.0.1\noption.auth_plain_in_clear = true\n"
                                               u"room = links@conference.localhost\n"_s.arg(port));
        !error.isEmpty())
        return error;
    QSignalSpy replies(&ann, &PurpleMessenger::instantMessageReceived);
    const auto holding = [&replies](const QString &text) {
        return std::count_if(replies.cbegin(), replies.cend(),
                             [&text](const QList<QVariant> &r) { return r.at(1).toString().contains(text); });
    };
    QElapsedTimer clock;
    clock.start();
    ann.SendChat(u"/linkdesk send list"_s);
    if (!QTest::qWaitFor([&] { return holding(u"Item %1:"_s.arg(items / 2)) > 0; }, 3600000))
        return u"the list stopped before its middle"_s;
    QElapsedTimer item;
    item.start();
    const qsizetype before = holding(u"Item 7: a page"_s);
    ann.SendChat(u"/linkdesk send 7"_s);
    if (!QTest::qWaitFor([&] { return holding(u"Item 7: a page"_s) > before; }, 600000))
        return u"the item asked during the list never came"_s;
    figures->itemDuringListSeconds = item.elapsed() / 1000.0;
    if (!QTest::qWaitFor([&] { return holding(u"Item %1:"_s.arg(items - 1)) > 0; }, 3600000))
        return u"the list never ended"_s;
    figures->listSeconds = clock.elapsed() / 1000.0;
    figures->cutOff = !program.log.filter(u"was lost"_s).isEmpty();
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qputenv("VALDRIN_BENCH_PASSWORD", "secret");
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SERVER_BINARY inspircd|hybrid|ejabberd|ngircd [ITEMS] [SEND_RATE SEND_BURST]\n",
                     argv[0]);
        return 2;
    }
    const QString binary = QString::fromLocal8Bit(argv[1]);
    const QString family = QString::fromLocal8Bit(argv[2]);
    const int items = argc > 3 ? std::max(50, QByteArray(argv[3]).toInt()) : 1000;
    QStringList paceArguments;
    if (argc > 5)
        paceArguments = {QString::fromLocal8Bit(argv[4]), QString::fromLocal8Bit(argv[5])};
    if (const QString missing = ScriptedServer::unavailable(); !missing.isEmpty() && family != u"ngircd") {
        std::fprintf(stderr, "%s\n", qPrintable(missing));
        return 1;
    }
    Figures figures;
    const QString error = family == u"ejabberd" ? runXmpp(binary, items, paceArguments, &figures)
                                                : runIrc(binary, family, items, paceArguments, &figures);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(family), qPrintable(error));
        return 1;
    }
    if (!figures.waits.isEmpty()) {
        QList<double> answered;
        for (const double wait : std::as_const(figures.waits)) {
            if (wait >= 0)
                answered.append(wait);
        }
        std::sort(answered.begin(), answered.end());
        std::printf("%-9s pace %s: an item reply is %d lines; send 3 asked every %d s, 20 times: median wait %.1f s, "
                    "worst %.1f s, %lld never answered, %d told busy, %s\n",
                    qPrintable(family), paceArguments.isEmpty() ? "default" : qPrintable(paceArguments.join(u'/')),
                    figures.replyLines, qEnvironmentVariableIntValue("ASK_EVERY"),
                    answered.isEmpty() ? -1.0 : answered.at(answered.size() / 2),
                    answered.isEmpty() ? -1.0 : answered.constLast(), qint64(figures.waits.size() - answered.size()),
                    figures.toldBusy, figures.cutOff ? "CUT OFF by the server" : "never cut off");
        return 0;
    }
    std::printf("%-9s %d items, pace %s: the list in %.1f s, an item asked in its middle in %.2f s, %s\n",
                qPrintable(family), items, paceArguments.isEmpty() ? "default" : qPrintable(paceArguments.join(u'/')),
                figures.listSeconds, figures.itemDuringListSeconds,
                figures.cutOff ? "CUT OFF by the server" : "never cut off");
    return 0;
}
