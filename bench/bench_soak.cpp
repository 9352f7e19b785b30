// A soak of the windowless server on a loopback IRC server (ngircd): ten
// members each send a command every two seconds (an item, and every fifteenth
// time the list) for the given time. Reports how many requests were answered,
// the server's resident memory over the run (the slope of a straight line
// fitted to it after the first minute) and whether a sanitizer reported
// anything. Meant for the sanitizer build of the server (bench/soak.sh).
//
//   bench_soak SERVER_BINARY [SECONDS]          (default 600)

#include "membercounts.h"
#include "support/ircmember.h"
#include "support/ircserver.h"
#include "support/testfiles.h"
#include "support/testprocesses.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int Items = 50; // three list pages
const QString Room = u"#links"_s;

// The slope of the least-squares line through (minutes, kB).
double slopeKbPerMinute(const std::vector<std::pair<double, double>> &samples)
{
    const double n = double(samples.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto &[x, y] : samples) {
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double d = n * sxx - sx * sx;
    return d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_soak SERVER_BINARY [SECONDS]\n");
        return 2;
    }
    const QString binary = QString::fromLocal8Bit(argv[1]);
    const int seconds = argc > 2 ? std::max(60, QByteArray(argv[2]).toInt()) : 600;

    IrcServer irc;
    if (const QString error = irc.start(); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    testfiles::DataFolder folder;
    QStringList descriptions, addresses;
    for (int i = 0; i < Items; ++i) {
        descriptions.append(u"Item %1: a page about links"_s.arg(i));
        addresses.append(u"http://example.org/%1.htm"_s.arg(i));
    }
    const QString settings = folder.filePath(u"network.conf"_s);
    if (!folder.writeRows(u"descriptions.dat"_s, descriptions) || !folder.writeRows(u"urls.dat"_s, addresses) ||
        !testfiles::writeBytes(settings, u"protocol = irc\naccount = linkdesk@127.0.0.1\nroom = %1\noption.port = %2\n"
                                         u"option.ratelimit-burst = 1000\noption.ratelimit-interval = 0\n"_s.arg(Room)
                                             .arg(irc.port())
                                             .toUtf8()) ||
        !QFile::setPermissions(settings, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        std::fprintf(stderr, "could not write the data folder\n");
        return 1;
    }

    // Sanitizer reports go to files of their own, so none can hide in the log.
    const QString reports = folder.filePath(u"sanitizer"_s);
    QProcess server;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // A small quarantine: ASan otherwise holds up to 256 MB of freed memory,
    // and the resident size would show that rather than the server.
    environment.insert(u"ASAN_OPTIONS"_s, u"log_path=%1:detect_leaks=1:quarantine_size_mb=4"_s.arg(reports));
    environment.insert(u"UBSAN_OPTIONS"_s, u"log_path=%1:print_stacktrace=1"_s.arg(reports));
    environment.insert(u"LSAN_OPTIONS"_s, u"suppressions=%1/tests/lsan.supp:print_suppressions=0"_s.arg(
                                              QString::fromUtf8(VALDRIN_SOURCE_DIR)));
    environment.insert(u"QT_LOGGING_RULES"_s, u"valdrin.*=false"_s);
    server.setProcessEnvironment(environment);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(binary, {u"--data-dir"_s, folder.path()});
    if (!server.waitForStarted(10000)) {
        std::fprintf(stderr, "the server did not start: %s\n", qPrintable(server.errorString()));
        return 1;
    }

    std::vector<std::unique_ptr<IrcMember>> members;
    for (int i = 0; i < 10; ++i) {
        members.push_back(std::make_unique<IrcMember>(u"soak%1"_s.arg(i), irc.port()));
        if (!members.back()->join(Room)) {
            std::fprintf(stderr, "a member could not join\n");
            return 1;
        }
    }
    // Serving is on once the server's advertisement reaches the room.
    if (!QTest::qWaitFor([&] { return !members[0]->channelMessages().isEmpty(); }, 60000)) {
        std::fprintf(stderr, "the server did not start serving within a minute\n");
        return 1;
    }

    int itemsAsked = 0;
    QList<int> listsAskedBy(int(members.size()), 0);
    int round = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        for (std::size_t i = 0; i < members.size(); ++i) {
            if ((round + int(i)) % 15 == 0) {
                members[i]->say(u"/linkdesk send list"_s);
                ++listsAskedBy[int(i)];
            } else {
                members[i]->say(u"/linkdesk send %1"_s.arg((round * 7 + int(i)) % Items));
                ++itemsAsked;
            }
        }
        ++round;
    });
    std::vector<std::pair<double, double>> samples;
    QElapsedTimer clock;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        samples.emplace_back(double(clock.elapsed()) / 60000.0,
                             double(testprocesses::residentKilobytes(QString::number(server.processId()))));
    });
    clock.start();
    ticker.start(2000);
    sampler.start(10000);
    QTest::qWait(seconds * 1000);
    ticker.stop();
    sampler.stop();
    QTest::qWait(30000); // the last lists finish

    int itemsAnswered = 0, listsAsked = 0, listsAnswered = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
        itemsAnswered += itemsReceived(*members[i]);
        listsAsked += listsAskedBy[int(i)];
        listsAnswered += std::min(listsAskedBy[int(i)], listRowsReceived(*members[i]) / Items);
    }
    ::kill(pid_t(server.processId()), SIGTERM);
    server.waitForFinished(60000);

    std::vector<std::pair<double, double>> settled;
    for (const auto &sample : samples) {
        if (sample.first >= 1.0)
            settled.push_back(sample);
    }
    const QStringList reportFiles = QDir(folder.path()).entryList({u"sanitizer*"_s}, QDir::Files);
    std::printf("soak, 10 members, a command every 2 s for %d s:\n", seconds);
    std::printf("  items %d of %d answered, lists %d of %d\n", itemsAnswered, itemsAsked, listsAnswered, listsAsked);
    if (!samples.empty()) {
        std::printf("  resident memory: %.0f kB after %.1f min, %.0f kB at the end; slope after the first minute "
                    "%.1f kB/min over %zu samples\n",
                    samples.front().second, samples.front().first, samples.back().second, slopeKbPerMinute(settled),
                    settled.size());
    }
    std::printf("  server exit: %s, code %d\n", server.exitStatus() == QProcess::NormalExit ? "normal" : "crashed",
                server.exitCode());
    std::printf("  sanitizer reports: %lld\n", static_cast<long long>(reportFiles.size()));
    for (const QString &file : reportFiles)
        std::printf("%s\n", testfiles::readBytes(folder.filePath(file)).constData());
    const bool whole = itemsAnswered == itemsAsked && listsAnswered == listsAsked;
    return whole && reportFiles.isEmpty() && server.exitStatus() == QProcess::NormalExit && server.exitCode() == 0 ? 0
                                                                                                                   : 1;
}
