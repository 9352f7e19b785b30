// Item reply latency on loopback chat servers: from a member's item command to
// the reply's arrival (XMPP) or its first line (IRC). IRC is measured twice in
// the same run: with the lines handed over to the socket at once (as the
// program runs), and left to the tick of libpurple's once-a-second queue (as
// before). Prints the median and the worst of the samples for each.
//
//   bench_latency [samples]          (default 20; VALDRIN_IRC_PACED=1 paces IRC as public networks want)

#include "support/ircmember.h"
#include "support/ircserver.h"
#include "support/servedroom.h"
#include "support/xmppserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int Items = 50;
// A person's pace, well inside the flood limits.
constexpr int PauseBetweenSamplesMs = 3100;

// A person's pace, at no fixed phase to a once-a-second tick: a fixed pause
// would meet libpurple's IRC queue at the same point of its second each time.
void pauseBetweenSamples()
{
    QTest::qWait(PauseBetweenSamplesMs + int(QRandomGenerator::global()->bounded(1000)));
}

// Waits in an event loop for the member's first private message: a polling
// wait (QTest::qWaitFor) would sleep 10 ms at a time and measure its own naps.
bool waitForPrivateMessage(IrcMember &member, int timeoutMs)
{
    QSignalSpy arrived(&member, &IrcMember::messageReceived);
    QElapsedTimer clock;
    clock.start();
    while (member.privateMessages().isEmpty()) {
        if (clock.elapsed() >= timeoutMs || !arrived.wait(int(timeoutMs - clock.elapsed())))
            return !member.privateMessages().isEmpty();
    }
    return true;
}

struct Figures
{
    double medianMs = -1;
    double worstMs = -1;
};

Figures figuresOf(QList<qint64> microseconds)
{
    if (microseconds.isEmpty())
        return {};
    std::sort(microseconds.begin(), microseconds.end());
    return {double(microseconds[microseconds.size() / 2]) / 1000.0, double(microseconds.back()) / 1000.0};
}

QString measureIrc(int samples, bool handOver, Figures *figures)
{
    PurpleMessenger::setIrcLinesHandedOver(handOver);
    IrcServer server;
    if (const QString error = server.start(); !error.isEmpty())
        return error;
    IrcMember ann(u"ann"_s, server.port());
    if (!ann.join(u"#links"_s))
        return u"the member could not join"_s;
    ServedRoom room(Items);
    const double rate = qEnvironmentVariableIsSet("VALDRIN_IRC_PACED") ? NetworkSettings::DefaultIrcRate : 0;
    if (const QString error = room.start(ServedRoom::ircSettings(server.port(), u"#links"_s, rate)); !error.isEmpty())
        return error;
    room.switchOn();
    QTest::qWait(PauseBetweenSamplesMs);

    QList<qint64> latencies;
    for (int sample = 0; sample < samples; ++sample) {
        ann.clear();
        QElapsedTimer clock;
        clock.start();
        ann.say(u"/linkdesk send %1"_s.arg(sample % Items));
        if (!waitForPrivateMessage(ann, 10000))
            return u"no reply to sample %1"_s.arg(sample);
        latencies.append(clock.nsecsElapsed() / 1000);
        pauseBetweenSamples();
    }
    *figures = figuresOf(latencies);
    return {};
}

// The floor: a line from one member to another through the same server.
QString measureIrcMembers(int samples, Figures *figures)
{
    IrcServer server;
    if (const QString error = server.start(); !error.isEmpty())
        return error;
    IrcMember ann(u"ann"_s, server.port());
    IrcMember bob(u"bob"_s, server.port());
    if (!ann.join(u"#links"_s) || !bob.join(u"#links"_s))
        return u"the members could not join"_s;
    QList<qint64> latencies;
    for (int sample = 0; sample < samples; ++sample) {
        ann.clear();
        QElapsedTimer clock;
        clock.start();
        bob.sendRaw("PRIVMSG ann :hello " + QByteArray::number(sample));
        if (!waitForPrivateMessage(ann, 10000))
            return u"no line in sample %1"_s.arg(sample);
        latencies.append(clock.nsecsElapsed() / 1000);
        pauseBetweenSamples();
    }
    *figures = figuresOf(latencies);
    return {};
}

QString measureIrcHandedOver(int samples, Figures *figures)
{
    return measureIrc(samples, true, figures);
}

QString measureIrcOnTick(int samples, Figures *figures)
{
    return measureIrc(samples, false, figures);
}

QString measureXmpp(int samples, Figures *figures)
{
    XmppServer server;
    for (const QString &user : {u"linkdesk"_s, u"ann"_s}) {
        if (const QString error = server.addUser(user, u"secret"_s); !error.isEmpty())
            return error;
    }
    if (const QString error = server.start(); !error.isEmpty())
        return error;
    ServedRoom room(Items);
    if (const QString error = room.start(ServedRoom::xmppSettings(u"linkdesk"_s, server.port())); !error.isEmpty())
        return error;
    PurpleMessenger ann(ServedRoom::xmppSettings(u"ann"_s, server.port()));
    QSignalSpy joined(&ann, &MorvexAIMOCX::AIM::roomJoined);
    if (!ann.start().isEmpty() || !joined.wait(20000))
        return u"the member could not join"_s;
    room.switchOn();
    QTest::qWait(PauseBetweenSamplesMs);

    QList<qint64> latencies;
    for (int sample = 0; sample < samples; ++sample) {
        QSignalSpy replied(&ann, &PurpleMessenger::instantMessageReceived);
        QElapsedTimer clock;
        clock.start();
        ann.SendChat(u"/linkdesk send %1"_s.arg(sample % Items));
        if (!replied.wait(10000))
            return u"no reply to sample %1"_s.arg(sample);
        latencies.append(clock.nsecsElapsed() / 1000);
        pauseBetweenSamples();
    }
    *figures = figuresOf(latencies);
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 20;
    int failures = 0;
    for (const auto &[name, measure] :
         {std::pair{"XMPP item reply", &measureXmpp}, std::pair{"IRC member to member (the floor)", &measureIrcMembers},
          std::pair{"IRC first line, libpurple's tick", &measureIrcOnTick},
          std::pair{"IRC first line, handed over", &measureIrcHandedOver}}) {
        Figures figures;
        if (const QString error = measure(samples, &figures); !error.isEmpty()) {
            std::fprintf(stderr, "%s: %s\n", name, qPrintable(error));
            ++failures;
            continue;
        }
        std::printf("%-34s of %d: median %8.2f ms, worst %8.2f ms\n", name, samples, figures.medianMs, figures.worstMs);
    }
    return failures == 0 ? 0 : 1;
}
