// The web face under load, measured with Debian's wrk (keep-alive):
//  - requests a second for the catalogue's first page, a search and
//    /catalogue.json at 32767 items, each against a static page of the same size
//    served by the same libmicrohttpd (same flags and limits) in the same run;
//  - the item-reply latency in an IRC room while wrk loads the server's web
//    face, against idle (median);
//  - the resident memory the web face adds to an idle server.
// A measurement, not a test: it prints numbers and judges nothing.
//
//   bench_webface SERVER_BINARY [seconds-per-wrk-run] [samples]   (default 10 s, 15 samples)

#include "itemlatency.h"
#include "support/serverprocess.h"

#include "web/webface.h"
#include "web/webpages.h"

#include "support/ircmember.h"
#include "support/ircserver.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <microhttpd.h>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int Items = 32767;

// Requests a second wrk reports for a URL.
double requestsPerSecond(const QString &url, int seconds)
{
    QProcess wrk;
    wrk.start(u"wrk"_s, {u"-t2"_s, u"-c16"_s, u"-d%1s"_s.arg(seconds), url});
    if (!wrk.waitForFinished((seconds + 30) * 1000))
        return -1;
    static const QRegularExpression rate(u"Requests/sec:\\s+([0-9.]+)"_s);
    const QRegularExpressionMatch match = rate.match(QString::fromUtf8(wrk.readAllStandardOutput()));
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

// The baseline: a page of a given size, served as is by libmicrohttpd.
struct StaticServer
{
    QByteArray body;
    MHD_Daemon *daemon = nullptr;

    static MHD_Result answer(void *context, MHD_Connection *connection, const char *, const char *, const char *,
                             const char *, size_t *, void **state)
    {
        if (*state == nullptr) {
            *state = context;
            return MHD_YES;
        }
        const QByteArray &body = static_cast<StaticServer *>(context)->body;
        MHD_Response *reply = MHD_create_response_from_buffer(size_t(body.size()), const_cast<char *>(body.constData()),
                                                              MHD_RESPMEM_PERSISTENT);
        const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, reply);
        MHD_destroy_response(reply);
        return queued;
    }
    quint16 start(QByteArray page)
    {
        body = std::move(page);
        daemon = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL_LINUX_ONLY, 0, nullptr, nullptr,
                                  &answer, this, MHD_OPTION_CONNECTION_LIMIT, WebFace::ConnectionsAtMost,
                                  MHD_OPTION_CONNECTION_TIMEOUT, WebFace::IdleTimeoutSeconds,
                                  MHD_OPTION_CONNECTION_MEMORY_LIMIT, WebFace::RequestMemoryBytes, MHD_OPTION_END);
        const MHD_DaemonInfo *info = daemon ? MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT) : nullptr;
        return info ? info->port : 0;
    }
    ~StaticServer()
    {
        if (daemon)
            MHD_stop_daemon(daemon);
    }
};

int run(const QString &server, int seconds, int samples)
{
    // Throughput: the web face against static pages of the same sizes.
    WebSnapshot snapshot;
    for (const QString &row : testfiles::sampleRows(Items)) {
        snapshot.descriptions.AddItem(row);
        snapshot.addresses.AddItem(u"https://example.org/"_s + row);
    }
    WebFace face;
    face.publish(snapshot);
    if (const QString error = face.start({u"127.0.0.1"_s, 0, {}, {}, {}}); !error.isEmpty())
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    std::printf("requests a second, wrk -t2 -c16 -d%ds, %d items:\n", seconds, Items);
    for (const auto &[name, path, query] :
         {std::tuple{"first page", QByteArray("/"), QString()}, std::tuple{"a search", QByteArray("/"), u"row 12"_s},
          std::tuple{"catalogue.json", QByteArray("/catalogue.json"), QString()}}) {
        const WebPages::Response page = WebPages::respond(snapshot, {"GET", path, query, {}, {}});
        StaticServer baseline;
        const quint16 port = baseline.start(page.body);
        const QString target =
            QString::fromLatin1(path) + (query.isEmpty() ? QString() : u"?q="_s + QString(query).replace(u' ', u'+'));
        const double ours = requestsPerSecond(u"http://127.0.0.1:%1%2"_s.arg(face.port()).arg(target), seconds);
        const double plain = requestsPerSecond(u"http://127.0.0.1:%1/"_s.arg(port), seconds);
        std::printf("  %-15s %7lld bytes: %9.0f, static page of that size %9.0f (%.2f of it)\n", name,
                    qint64(page.body.size()), ours, plain, plain > 0 ? ours / plain : 0.0);
    }
    face.stop();
    // wrk repeats one search, which the face makes once; a new search costs this.
    QElapsedTimer clock;
    clock.start();
    constexpr int Searches = 50;
    for (int search = 0; search < Searches; ++search)
        (void)WebPages::respond(snapshot, {"GET", "/", u"row %1"_s.arg(search * 613), {}, {}});
    std::printf("  a search not made before: %.2f ms each (%d different ones)\n",
                double(clock.nsecsElapsed()) / 1e6 / Searches, Searches);

    // Memory and latency: the server binary in an IRC room, with and without the web face.
    IrcServer irc;
    if (const QString error = irc.start(); !error.isEmpty())
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
    IrcMember ann(u"ann"_s, irc.port());
    if (!ann.join(u"#links"_s))
        return std::fprintf(stderr, "the member could not join\n"), 1;
    const QString room =
        u"protocol = irc\naccount = linkdesk@127.0.0.1\nroom = #links\noption.port = %1\nsend-rate = 0\n"_s.arg(
            irc.port());
    qint64 withoutKb = 0;
    {
        ServerProcess plain;
        if (!plain.start(server, Items, room).isEmpty() || plain.waitForRooms(1) < 0)
            return std::fprintf(stderr, "the server did not join\n"), 1;
        QTest::qWait(5000);
        withoutKb = plain.residentKb();
    }
    const quint16 webPort = testprocesses::freeLoopbackPort();
    ServerProcess served;
    if (!served.start(server, Items, u"http-listen = 127.0.0.1:%1\n"_s.arg(webPort) + room).isEmpty() ||
        served.waitForRooms(1) < 0)
        return std::fprintf(stderr, "the server with its web face did not join\n"), 1;
    QTest::qWait(5000);
    const qint64 withKb = served.residentKb();
    std::printf("resident memory idle, %d items: without the web face %lld kB, with it %lld kB (%+lld kB)\n", Items,
                withoutKb, withKb, withKb - withoutKb);
    const double idle = medianItemLatencyMs(ann, samples, Items, 977);
    QProcess load;
    load.start(u"wrk"_s, {u"-t2"_s, u"-c16"_s, u"-d600s"_s, u"http://127.0.0.1:%1/?q=row+1"_s.arg(webPort)});
    QTest::qWait(1000);
    const double loaded = medianItemLatencyMs(ann, samples, Items, 977);
    load.kill();
    load.waitForFinished(5000);
    std::printf("item reply latency in the room, median of %d: idle %.1f ms; while wrk loads the web face %.1f ms "
                "(%.2fx)\n",
                samples, idle, loaded, idle > 0 ? loaded / idle : 0.0);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SERVER_BINARY [seconds-per-wrk-run] [samples]\n", argv[0]);
        return 2;
    }
    const int seconds = argc > 2 ? std::max(1, QString::fromLocal8Bit(argv[2]).toInt()) : 10;
    const int samples = argc > 3 ? std::max(1, QString::fromLocal8Bit(argv[3]).toInt()) : 15;
    return run(QString::fromLocal8Bit(argv[1]), seconds, samples);
}
