// Fair service on a loopback IRC server (ngircd), with libpurple's pacing off:
//  1. twelve members ask for the list at the same moment: when does the last
//     one have the whole list (the worst wait in the queue);
//  2. steady use: ten members each send a command every two seconds (an item,
//     and every fifteenth time the list) for a while: how many are answered.
//
//   bench_fairness [seconds of steady use]          (default 300)

#include "membercounts.h"
#include "support/ircmember.h"
#include "support/ircserver.h"
#include "support/servedroom.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int Items = 50; // three list pages
const QString Room = u"#links"_s;

std::vector<std::unique_ptr<IrcMember>> joinMembers(const QString &prefix, int count, quint16 port)
{
    std::vector<std::unique_ptr<IrcMember>> members;
    for (int i = 0; i < count; ++i) {
        members.push_back(std::make_unique<IrcMember>(prefix + QString::number(i), port));
        if (!members.back()->join(Room))
            return {};
    }
    return members;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int steadySeconds = argc > 1 ? std::max(10, QByteArray(argv[1]).toInt()) : 300;

    IrcServer server;
    if (const QString error = server.start(); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    ServedRoom room(Items);
    if (const QString error = room.start(ServedRoom::ircSettings(server.port(), Room)); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    room.switchOn();

    // 1. Twelve lists at once.
    auto listers = joinMembers(u"lister"_s, 12, server.port());
    QElapsedTimer clock;
    clock.start();
    for (auto &member : listers)
        member->say(u"/linkdesk send list"_s);
    qint64 worstMs = 0;
    for (auto &member : listers) {
        if (!QTest::qWaitFor([&] { return listRowsReceived(*member) >= Items; }, 120000)) {
            std::fprintf(stderr, "a list did not arrive whole\n");
            return 1;
        }
        worstMs = std::max(worstMs, clock.elapsed());
    }
    std::printf("12 lists asked at once: all whole; the last complete after %.1f s\n", double(worstMs) / 1000.0);
    listers.clear();
    QTest::qWait(3000);

    // 2. Steady use.
    auto members = joinMembers(u"steady"_s, 10, server.port());
    int itemsAsked = 0;
    int listsAsked = 0;
    QList<int> listsAskedBy(int(members.size()), 0);
    int round = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        for (std::size_t i = 0; i < members.size(); ++i) {
            if ((round + int(i)) % 15 == 0) {
                members[i]->say(u"/linkdesk send list"_s);
                ++listsAsked;
                ++listsAskedBy[int(i)];
            } else {
                members[i]->say(u"/linkdesk send %1"_s.arg((round * 7 + int(i)) % Items));
                ++itemsAsked;
            }
        }
        ++round;
    });
    ticker.start(2000);
    QTest::qWait(steadySeconds * 1000);
    ticker.stop();
    QTest::qWait(30000); // the last lists finish

    int itemsAnswered = 0;
    int listsAnswered = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
        itemsAnswered += itemsReceived(*members[i]);
        listsAnswered += std::min(listsAskedBy[int(i)], listRowsReceived(*members[i]) / Items);
    }
    std::printf("steady use, 10 members, a command every 2 s for %d s: items %d of %d answered (%.1f %%), "
                "lists %d of %d\n",
                steadySeconds, itemsAnswered, itemsAsked, 100.0 * itemsAnswered / std::max(1, itemsAsked),
                listsAnswered, listsAsked);
    return 0;
}
