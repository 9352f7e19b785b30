// Fair answers on a throttled IRC server (ngircd with its flood penalty: three
// lines a second from one client). Every case runs twice in the same run:
// "unpaced" hands every line over at once as the program did before its send
// scheduler (with libpurple's own pacing where the case asks for public
// pacing), "scheduled" lets the scheduler pace and order the lines.
//  1. flood: 20 members send 2,000 commands, then a polite member asks send 3;
//  2. two members ask for a 100-item list a second apart: when does the second
//     list start, and when does a third member's link arrive meanwhile;
//  3. public pacing (a line every 2 s after a burst of 5): a send N asked
//     during a running 100-item list;
//  4. ten steady members, a command every 2 s each: answered, told busy, and
//     the resident memory's slope.
//
//   bench_fairness [seconds of steady use]          (default 300)

#include "membercounts.h"
#include "support/ircmember.h"
#include "support/ircserver.h"
#include "support/servedroom.h"
#include "support/testprocesses.h"

#include "serving/sendscheduler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const QString Room = u"#links"_s;
constexpr int ListItems = 100;
constexpr int NotArrivedMs = -1;

// One throttled server and the program in its room, under a nick of its own.
struct Setup
{
    IrcServer server;
    std::unique_ptr<ServedRoom> room;
    QString nick;
};

int setupCount = 0;

std::unique_ptr<Setup> start(bool scheduled, bool publicPacing)
{
    auto setup = std::make_unique<Setup>();
    setup->nick = u"desk%1"_s.arg(++setupCount);
    setup->server.setThrottled(true);
    if (const QString error = setup->server.start(); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return nullptr;
    }
    NetworkSettings settings = ServedRoom::ircSettings(
        setup->server.port(), Room,
        scheduled ? (publicPacing ? NetworkSettings::DefaultIrcRate : ServedRoom::NgircdLinesPerSecond) : 0,
        setup->nick);
    // Unpaced with public pacing: libpurple's own first-come pacing, as before.
    if (!scheduled && publicPacing)
        settings.options += {{u"ratelimit-interval"_s, u"2"_s, 2}, {u"ratelimit-burst"_s, u"5"_s, 3}};
    setup->room = std::make_unique<ServedRoom>(ListItems);
    if (const QString error = setup->room->start(settings); !error.isEmpty() || !setup->room->switchOn()) {
        std::fprintf(stderr, "the program did not serve: %s\n", qPrintable(error));
        return nullptr;
    }
    QTest::qWait(2000); // the opening lines go out first
    return setup;
}

std::unique_ptr<IrcMember> member(const Setup &setup, const QString &name)
{
    auto joined = std::make_unique<IrcMember>(name, setup.server.port());
    return joined->join(Room) ? std::move(joined) : nullptr;
}

// Milliseconds from now until the member has a line starting with the text.
qint64 waitForLine(IrcMember &member, const QString &start, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    const auto arrived = [&] {
        for (const IrcMember::Message &message : member.privateMessages()) {
            if (message.text.startsWith(start))
                return true;
        }
        return false;
    };
    return QTest::qWaitFor(arrived, timeoutMs) ? clock.elapsed() : NotArrivedMs;
}

QString seconds(qint64 ms)
{
    return ms == NotArrivedMs ? u"not within the wait"_s : u"%1 s"_s.arg(double(ms) / 1000.0, 0, 'f', 1);
}

void flood(bool scheduled)
{
    auto setup = start(scheduled, false);
    auto polite = setup ? member(*setup, u"polite"_s) : nullptr;
    if (!polite)
        return;
    std::vector<std::unique_ptr<IrcMember>> flooders;
    for (int i = 0; i < 20; ++i)
        flooders.push_back(std::make_unique<IrcMember>(u"flood%1"_s.arg(i), setup->server.port()));
    if (!IrcMember::joinAll(flooders, Room))
        return;
    for (int line = 0; line < 100; ++line) {
        for (auto &flooder : flooders) {
            flooder->say(line % 10 == 0 ? u"/%1 send list"_s.arg(setup->nick)
                                        : u"/%1 send %2"_s.arg(setup->nick).arg(line % ListItems));
        }
    }
    QTest::qWait(3000);
    polite->say(u"/%1 send 3"_s.arg(setup->nick));
    const qint64 ms = waitForLine(*polite, u"Item 3 about links"_s, 240000);
    std::printf("  flood, %-9s: the polite member's link after %s\n", scheduled ? "scheduled" : "unpaced",
                qPrintable(seconds(ms)));
}

void twoLists(bool scheduled)
{
    auto setup = start(scheduled, false);
    auto first = setup ? member(*setup, u"first"_s) : nullptr;
    auto second = setup ? member(*setup, u"second"_s) : nullptr;
    auto third = setup ? member(*setup, u"third"_s) : nullptr;
    if (!first || !second || !third)
        return;
    first->say(u"/%1 send list"_s.arg(setup->nick));
    QTest::qWait(1000);
    second->say(u"/%1 send list"_s.arg(setup->nick));
    const qint64 secondMs = waitForLine(*second, u"0) "_s, 120000);
    third->say(u"/%1 send 7"_s.arg(setup->nick));
    const qint64 thirdMs = waitForLine(*third, u"Item 7 about links"_s, 120000);
    std::printf("  two lists, %-9s: the second list's first row after %s; a third member's link after %s\n",
                scheduled ? "scheduled" : "unpaced", qPrintable(seconds(secondMs)), qPrintable(seconds(thirdMs)));
}

void itemDuringListAtPublicPacing(bool scheduled)
{
    auto setup = start(scheduled, true);
    auto lister = setup ? member(*setup, u"lister"_s) : nullptr;
    auto asker = setup ? member(*setup, u"asker"_s) : nullptr;
    if (!lister || !asker)
        return;
    lister->say(u"/%1 send list"_s.arg(setup->nick));
    if (waitForLine(*lister, u"0) "_s, 60000) == NotArrivedMs)
        return;
    QTest::qWait(5000); // the list is well under way
    asker->say(u"/%1 send 12"_s.arg(setup->nick));
    const qint64 ms = waitForLine(*asker, u"Item 12 about links"_s, 300000);
    std::printf("  public pacing, %-9s: a link asked during a 100-item list after %s\n",
                scheduled ? "scheduled" : "unpaced", qPrintable(seconds(ms)));
}

void steady(bool scheduled, int steadySeconds)
{
    auto setup = start(scheduled, false);
    if (!setup)
        return;
    std::vector<std::unique_ptr<IrcMember>> members;
    for (int i = 0; i < 10; ++i)
        members.push_back(std::make_unique<IrcMember>(u"steady%1"_s.arg(i), setup->server.port()));
    if (!IrcMember::joinAll(members, Room))
        return;
    int asked = 0;
    int round = 0;
    QList<qint64> memoryKb;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        for (std::size_t i = 0; i < members.size(); ++i) {
            const bool list = (round + int(i)) % 15 == 0;
            members[i]->say(list ? u"/%1 send list"_s.arg(setup->nick)
                                 : u"/%1 send %2"_s.arg(setup->nick).arg((round * 7 + int(i)) % ListItems));
            ++asked;
        }
        if (round % 15 == 0)
            memoryKb.append(testprocesses::residentKilobytes());
        ++round;
    });
    ticker.start(2000);
    QTest::qWait(steadySeconds * 1000);
    ticker.stop();
    const SendScheduler::Counters counters = setup->room->scheduler().counters();
    int answered = 0;
    int toldBusy = 0;
    for (auto &one : members) {
        answered += itemsReceived(*one) + listRowsReceived(*one) / ListItems;
        for (const IrcMember::Message &message : one->privateMessages())
            toldBusy += message.text.startsWith(u"busy: ask again"_s) ? 1 : 0;
    }
    // The slope of resident memory over the second half, in kB a minute.
    const qsizetype half = memoryKb.size() / 2;
    const double slope = memoryKb.size() >= 4 ? double(memoryKb.last() - memoryKb.at(half)) /
                                                    (double(memoryKb.size() - 1 - half) * 30.0 / 60.0)
                                              : 0;
    std::printf("  steady, %-9s: %d asked in %d s; %d answered by the end, %d told busy (%lld busy replies "
                "counted, %lld refused); %lld lines still waiting; memory %+.0f kB a minute\n",
                scheduled ? "scheduled" : "unpaced", asked, steadySeconds, answered, toldBusy,
                static_cast<long long>(counters.toldBusy), static_cast<long long>(counters.requestsRefused),
                static_cast<long long>(counters.linesWaiting), slope);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int steadySeconds = argc > 1 ? std::max(10, QByteArray(argv[1]).toInt()) : 300;
    if (const QString error = ServedRoom::startPurple(); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as soon as it is known
    std::printf("ngircd passing 3 lines a second; unpaced = every line handed over at once\n");
    for (const bool scheduled : {false, true})
        flood(scheduled);
    for (const bool scheduled : {false, true})
        twoLists(scheduled);
    for (const bool scheduled : {false, true})
        itemDuringListAtPublicPacing(scheduled);
    for (const bool scheduled : {false, true})
        steady(scheduled, steadySeconds);
    return 0;
}
