// The link check of 1000 addresses on a loopback nginx at the default limits
// (two requests at once per host, eight in all), against the same addresses
// checked one at a time in the same run. The target: within 30 s.
#include "support/nginxserver.h"

#include "linkcheck/linkchecker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// Seconds to check the links, and how many answered.
std::pair<double, int> checkAll(const QList<LinkChecker::Link> &links, LinkChecker::Limits limits)
{
    LinkChecker checker(limits);
    QEventLoop loop;
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
    return {clock.elapsed() / 1000.0, alive};
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
    const auto [baseline, baselineAlive] = checkAll(links, oneAtATime);
    const auto [measured, alive] = checkAll(links, defaults);
    std::printf("%d links on loopback nginx: one at a time %.2f s (%d answered); default limits %.2f s (%d answered); "
                "ratio %.2f; target within 30 s: %s\n",
                count, baseline, baselineAlive, measured, alive, baseline > 0 ? measured / baseline : 0.0,
                measured <= 30 ? "met" : "MISSED");
    return measured <= 30 && alive == baselineAlive ? 0 : 1;
}
