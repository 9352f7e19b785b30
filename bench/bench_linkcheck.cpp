// The link check of 1000 addresses on a loopback nginx at the default limits
// (two requests at once per host, eight in all), against the same addresses
// checked one at a time in the same run. The target: within 30 s. And how long
// the check holds the event loop (where chat replies are sent) at a time,
// against the same loop idle.
#include "support/nginxserver.h"

#include "linkcheck/linkchecker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// The longest the event loop went without turning while `work` ran on it (ms):
// a timer asks every millisecond, as a chat reply's timer would.
struct LoopWatch
{
    QTimer tick;
    QElapsedTimer since;
    qint64 longestMs = 0;
    LoopWatch()
    {
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [this] { longestMs = std::max(longestMs, since.restart()); });
        since.start();
        tick.start(1);
    }
};

// Seconds to check the links, how many answered, and the loop's longest wait.
struct Checked
{
    double seconds = 0;
    int alive = 0;
    qint64 loopHeldMs = 0;
};
Checked checkAll(const QList<LinkChecker::Link> &links, LinkChecker::Limits limits)
{
    LinkChecker checker(limits);
    QEventLoop loop;
    LoopWatch watch;
    int alive = 0;
    QObject::connect(&checker, &LinkChecker::finished, &loop, [&](const QList<LinkChecker::Result> &results) {
        for (const LinkChecker::Result &result : results)
            alive += result.verdict == LinkChecker::Verdict::Alive ? 1 : 0;
        loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    checker.check(links);
    loop.exec();
    return {clock.elapsed() / 1000.0, alive, watch.longestMs};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const int count = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 1000;
    NginxServer web;
    // Half the pages answer HEAD, half refuse it and are asked with GET; a few are gone.
    const QString started = web.start(uR"(
location ~ ^/get/ { if ($request_method = HEAD) { return 405; } return 200 "page"; }
location ~ ^/gone/ { return 404; }
location / { return 200 "page"; }
)"_s);
    if (!started.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(started));
        return 2;
    }
    QList<LinkChecker::Link> links;
    for (int item = 0; item < count; ++item) {
        const QString path = item % 50 == 0 ? u"/gone/%1"_s : item % 2 == 0 ? u"/get/%1"_s : u"/page/%1"_s;
        links.append({item, web.url(path.arg(item))});
    }
    LinkChecker::Limits defaults;
    defaults.checkPrivate = true;
    LinkChecker::Limits oneAtATime = defaults;
    oneAtATime.perHost = 1;
    oneAtATime.atOnce = 1;
    const Checked baseline = checkAll(links, oneAtATime);
    const Checked measured = checkAll(links, defaults);
    // The same loop with nothing to do, for as long as the check took.
    qint64 idleHeldMs = 0;
    {
        QEventLoop idle;
        LoopWatch watch;
        QTimer::singleShot(int(measured.seconds * 1000) + 1, &idle, &QEventLoop::quit);
        idle.exec();
        idleHeldMs = watch.longestMs;
    }
    std::printf("%d links on loopback nginx: one at a time %.2f s (%d answered); default limits %.2f s (%d answered); "
                "ratio %.2f; target within 30 s: %s\n",
                count, baseline.seconds, baseline.alive, measured.seconds, measured.alive,
                baseline.seconds > 0 ? measured.seconds / baseline.seconds : 0.0,
                measured.seconds <= 30 ? "met" : "MISSED");
    std::printf("the event loop's longest wait: %lld ms during the check at default limits, %lld ms idle\n",
                static_cast<long long>(measured.loopHeldMs), static_cast<long long>(idleHeldMs));
    return measured.seconds <= 30 && measured.alive == baseline.alive ? 0 : 1;
}
