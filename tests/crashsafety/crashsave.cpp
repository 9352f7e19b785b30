// Kills the catalogue's saving path with SIGKILL at random moments and checks
// what each kill leaves behind.
//
//   crashsave [KILLS]            the run: KILLS kills (50 by default)
//   crashsave --saver FOLDER     the child: saves two versions in turn until killed
//
// The catalogue has 32767 items. The child loads it and then saves, over and
// over, the other of two versions (every row different, the files of different
// sizes). After every kill each file must be exactly one version's bytes, and a
// pair of different versions may only be there while the journal says the save
// can be finished. Then a start (a load) must leave both files of one version,
// no file of the save's own, and say so if a save was lost.

#include "support/testfiles.h"

#include "catalogue/catalogue.h"
#include "platform/rowlist.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <map>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

constexpr int Items = 32767;

struct Version
{
    QStringList descriptions;
    QStringList addresses;
};

Version version(int which)
{
    Version v;
    v.descriptions.reserve(Items);
    v.addresses.reserve(Items);
    for (int i = 0; i < Items; ++i) {
        v.descriptions.append(u"Item %1 of version %2: a page about links and tools"_s.arg(i).arg(which) +
                              (which == 1 ? u" (revised)"_s : QString()));
        v.addresses.append(u"https://example.org/v%1/%2.htm"_s.arg(which).arg(i));
    }
    return v;
}

QByteArray fileBytes(const QStringList &rows)
{
    QByteArray bytes;
    for (const QString &row : rows)
        bytes += row.toUtf8() + "\r\n";
    return bytes;
}

int saver(const QString &folder)
{
    StringRowList descriptions;
    StringRowList addresses;
    Catalogue catalogue(descriptions, addresses, DataFolder(folder));
    (void)catalogue.load();
    const std::array<StringRowList, 2> d{StringRowList(version(0).descriptions),
                                         StringRowList(version(1).descriptions)};
    const std::array<StringRowList, 2> a{StringRowList(version(0).addresses), StringRowList(version(1).addresses)};
    int next = descriptions.List(0) == d[0].List(0) ? 1 : 0;
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    for (;;) {
        descriptions.setRows(d[next]);
        addresses.setRows(a[next]);
        if (!catalogue.save().ok())
            return 1;
        next = 1 - next;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 3 && arguments[1] == u"--saver"_s)
        return saver(arguments[2]);
    const int kills = arguments.size() > 1 ? arguments[1].toInt() : 50;
    QTextStream out(stdout);

    testfiles::DataFolder folder;
    const std::array<Version, 2> versions{version(0), version(1)};
    const std::array<QByteArray, 2> descriptionBytes{fileBytes(versions[0].descriptions),
                                                     fileBytes(versions[1].descriptions)};
    const std::array<QByteArray, 2> addressBytes{fileBytes(versions[0].addresses), fileBytes(versions[1].addresses)};
    if (!testfiles::writeBytes(folder.filePath(u"descriptions.dat"_s), descriptionBytes[0]) ||
        !testfiles::writeBytes(folder.filePath(u"urls.dat"_s), addressBytes[0]))
        return 2;
    const auto which = [](const QByteArray &bytes, const std::array<QByteArray, 2> &known) {
        return bytes == known[0] ? 0 : bytes == known[1] ? 1 : -1;
    };

    // How long one save takes, so the kills spread over whole saves.
    QElapsedTimer clock;
    {
        StringRowList d(versions[0].descriptions), a(versions[0].addresses);
        Catalogue timing(d, a, DataFolder(folder.path()));
        clock.start();
        if (!timing.save().ok())
            return 2;
    }
    const qint64 saveUs = std::max<qint64>(clock.nsecsElapsed() / 1000, 1000);
    out << "One save of " << Items << " items takes " << saveUs / 1000.0 << " ms; killing within "
        << 3 * saveUs / 1000.0 << " ms of the first save\n";

    std::map<QString, int> states;
    int failures = 0;
    QRandomGenerator random(QRandomGenerator::global()->generate());
    for (int kill = 0; kill < kills; ++kill) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {u"--saver"_s, folder.path()});
        if (!child.waitForReadyRead(30000)) {
            out << "The saver did not start: " << child.errorString() << '\n';
            return 2;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(3 * saveUs)));
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished();

        // What the kill left, before any start looks at it.
        const int d = which(testfiles::readBytes(folder.filePath(u"descriptions.dat"_s)), descriptionBytes);
        const int a = which(testfiles::readBytes(folder.filePath(u"urls.dat"_s)), addressBytes);
        const bool journal = QFile::exists(folder.filePath(u"catalogue.journal"_s));
        const QStringList leftovers = QDir(folder.path()).entryList({u"*.valdrin-new"_s}, QDir::Files);
        QString state;
        if (d < 0 || a < 0) {
            state = u"FAULT: a file is neither version"_s;
        } else if (d != a && !journal) {
            state = u"FAULT: the files are of different versions and no journal says so"_s;
        } else if (d != a) {
            state = u"between the two renames (journal)"_s;
        } else if (journal) {
            state = leftovers.isEmpty() ? u"after the renames (journal)"_s : u"new files complete (journal)"_s;
        } else {
            state = leftovers.isEmpty() ? u"between saves"_s : u"while writing the new files"_s;
        }

        // The next start.
        StringRowList descriptions, addresses;
        const QStringList told = Catalogue(descriptions, addresses, DataFolder(folder.path())).load();
        const int d2 = which(testfiles::readBytes(folder.filePath(u"descriptions.dat"_s)), descriptionBytes);
        const int a2 = which(testfiles::readBytes(folder.filePath(u"urls.dat"_s)), addressBytes);
        const bool clean = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size() == 2;
        if (d2 < 0 || d2 != a2 || (d != a && d2 != d) || !clean || descriptions.ListCount() != Items ||
            addresses.ListCount() != Items)
            state = u"FAULT: the start did not leave one whole version"_s;
        if (state.startsWith(u"while writing"_s) && told.isEmpty())
            state = u"FAULT: a lost save was not told"_s;
        if (state.startsWith(u"FAULT"_s))
            ++failures;
        ++states[state];
    }
    out << kills << " kills:\n";
    for (const auto &[state, count] : states)
        out << "  " << count << "  " << state << '\n';
    return failures == 0 ? 0 : 1;
}
