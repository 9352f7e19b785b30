// Fifty rooms on one connection to an IRC server that passes three lines a
// second (ngircd as it comes), with the program paced to match
// (send-rate = 3, send-burst = 3), measured against one server binary or two
// (a new one and a baseline, in the same run):
//  - `send N` asked in a room picked at random, one at a time, in the first
//    minute after the program is in every room (its opening lines waiting):
//    how long the first line of the answer took;
//  - the same afterwards, every few seconds, while the rooms are announced;
//  - the gaps between two announcements in a room, over the same while.
// A measurement, not a test: it prints numbers and judges nothing.
//
//   bench_fiftyrooms SERVER_BINARY [BASELINE_BINARY] [minutes]   (default 4)

#include "support/serverprocess.h"

#include "support/ircmember.h"
#include "support/ircserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int Rooms = 50;
constexpr int Items = 100;

struct Figures
{
    QList<double> firstAnswerS; // asked while the opening lines wait
    QList<double> askedS;       // the random asks
    QList<double> gapS;         // every gap between two announcements in a room
    int unanswered = 0;
};

double percentile(QList<double> values, double share)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min<qsizetype>(values.size() - 1, qsizetype(share * double(values.size())))];
}

bool answered(const IrcMember &member, int item)
{
    const QString expected = u"Item %1:"_s.arg(item);
    const QList<IrcMember::Message> lines = member.privateMessages();
    return std::any_of(lines.cbegin(), lines.cend(),
                       [&](const IrcMember::Message &line) { return line.text.startsWith(expected); });
}

int measure(const QString &binary, int minutes, Figures &figures)
{
    IrcServer irc;
    irc.setThrottled(true);
    if (const QString error = irc.start(); !error.isEmpty())
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    std::vector<std::unique_ptr<IrcMember>> members;
    for (int room = 0; room < Rooms; ++room)
        members.push_back(std::make_unique<IrcMember>(u"m%1"_s.arg(room), irc.port()));
    // ngircd takes only a few new connections from one address at a time: the
    // members come in turn, and one the server did not answer tries again.
    QElapsedTimer joining;
    joining.start();
    while (joining.elapsed() < 180000 &&
           !std::all_of(members.cbegin(), members.cend(), [](const auto &m) { return m->isInChannel(); })) {
        for (int room = 0; room < Rooms; ++room) {
            IrcMember &member = *members[std::size_t(room)];
            if (!member.isInChannel() && member.rawLines().isEmpty()) {
                member.startJoin(u"#r%1"_s.arg(room));
                QTest::qWait(100);
            }
        }
        QTest::qWait(5000);
    }
    if (!std::all_of(members.cbegin(), members.cend(), [](const auto &m) { return m->isInChannel(); }))
        return std::fprintf(stderr, "the members could not join\n"), 1;

    QString settings = u"protocol = irc\naccount = linkdesk@127.0.0.1\noption.port = %1\nsend-rate = 3\n"
                       u"send-burst = 3\n"_s.arg(irc.port());
    for (int room = 0; room < Rooms; ++room)
        settings += u"room = #r%1\n"_s.arg(room);
    ServerProcess server;
    if (const QString error = server.start(binary, Items, settings); !error.isEmpty())
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;

    // Once the program is in every room, while their opening lines still
    // wait: one member at a time asks in a room picked at random.
    QRandomGenerator random(7);
    const auto askOne = [&](QList<double> &into) {
        IrcMember &member = *members[random.bounded(Rooms)];
        const int item = int(random.bounded(2, Items));
        member.say(u"/linkdesk send %1"_s.arg(item));
        QElapsedTimer asked;
        asked.start();
        if (QTest::qWaitFor([&] { return answered(member, item); }, 30000))
            into.append(double(asked.elapsed()) / 1000);
        else
            ++figures.unanswered;
    };
    if (!QTest::qWaitFor([&] { return server.joined() >= Rooms; }, 180000))
        return std::fprintf(stderr, "the program did not join every room\n"), 1;
    QElapsedTimer opening;
    opening.start();
    while (opening.elapsed() < 60000) {
        askOne(figures.firstAnswerS);
        QTest::qWait(int(random.bounded(1000, 3000)));
    }

    // Steady state: announcements and a member's request every few seconds.
    for (const auto &member : members)
        member->clear();
    QElapsedTimer steady;
    steady.start();
    while (steady.elapsed() < minutes * 60000) {
        askOne(figures.askedS);
        QTest::qWait(int(random.bounded(3000, 6000)));
    }
    if (qEnvironmentVariableIsSet("VALDRIN_BENCH_LOG"))
        std::fprintf(stderr, "%s\n", qPrintable(server.log.join(u'\n')));
    for (const auto &member : members) {
        qint64 last = -1;
        for (const IrcMember::Message &line : member->channelMessages()) {
            if (!line.text.endsWith(u"Valdrin AIM Server v2 By Morvex"_s))
                continue;
            if (last >= 0)
                figures.gapS.append(double(line.atMs - last) / 1000);
            last = line.atMs;
        }
    }
    return 0;
}

void report(const char *name, const Figures &figures)
{
    std::printf("%s:\n", name);
    std::printf("  send N in a random room in the first minute after every room was joined (the opening lines "
                "waiting): %lld asked, median %.2f s, worst %.2f s\n",
                qlonglong(figures.firstAnswerS.size()), percentile(figures.firstAnswerS, 0.5),
                percentile(figures.firstAnswerS, 1.0));
    std::printf("  send N in a random room, every 3-6 s: %lld asked, median %.2f s, p95 %.2f s, worst %.2f s\n",
                qlonglong(figures.askedS.size()), percentile(figures.askedS, 0.5), percentile(figures.askedS, 0.95),
                percentile(figures.askedS, 1.0));
    std::printf("  gaps between a room's announcements: %lld, median %.1f s, worst %.1f s\n",
                qlonglong(figures.gapS.size()), percentile(figures.gapS, 0.5), percentile(figures.gapS, 1.0));
    std::printf("  requests not answered within 30 s: %d\n", figures.unanswered);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SERVER_BINARY [BASELINE_BINARY] [minutes]\n", argv[0]);
        return 2;
    }
    const QString baseline = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const int minutes = argc > 3 ? std::max(1, QString::fromLocal8Bit(argv[3]).toInt()) : 4;
    Figures now;
    if (const int failed = measure(QString::fromLocal8Bit(argv[1]), minutes, now))
        return failed;
    report("this server", now);
    if (baseline.isEmpty())
        return 0;
    Figures before;
    if (const int failed = measure(baseline, minutes, before))
        return failed;
    report("the baseline", before);
    return 0;
}
