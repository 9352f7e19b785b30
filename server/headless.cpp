#include "server/headless.h"

#include "server/cataloguewatcher.h"
#include "server/serverlog.h"
#include "server/servicemanager.h"
#include "startup/commandline.h"
#include "startup/exitcodes.h"
#include "startup/signalhandler.h"

#include "networkconf/networksettings.h"
#include "platform/durablefile.h"
#include "platform/rowlist.h"
#include "serving/linkserver.h"
#include "serving/servedrooms.h"

#ifdef VALDRIN_HAVE_WEB
#include "server/serverweb.h"
#endif
#ifdef VALDRIN_HAVE_PURPLE
#include "messengers/purple/purplemessenger.h"
#include "server/networkserver.h"
#endif

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QLoggingCategory>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcHeadless, "valdrin.headless")

namespace {

// How long a reload waits for a catalogue command to finish its change.
constexpr int ReloadLockWaitMs = 5000;

// The settings of the data folder's network.conf, or why there are none to serve.
NetworkConfig::Parsed networkSettings(const DataFolder &folder)
{
    NetworkConfig::Parsed parsed = NetworkConfig::load(folder.path());
    if (parsed.error.isEmpty() && !parsed.value) {
        parsed.error = u"The headless server serves a chat network: write %1 in %2 (see the README)."_s.arg(
            NetworkSettings::fileName(), folder.path());
    }
    return parsed;
}

} // namespace

int runHeadless(const StartupOptions &options)
{
    logToStandardError();
    const DataFolder folder(options.dataFolder);

    NetworkConfig::Parsed settings = networkSettings(folder);
    if (!settings.error.isEmpty()) {
        qCCritical(lcHeadless).noquote() << settings.error;
        return ExitCode::UsageError;
    }
    if (!settings.value->permissionWarning.isEmpty())
        qCWarning(lcHeadless).noquote() << settings.value->permissionWarning;
#ifdef VALDRIN_HAVE_PURPLE
    if (const QString started = PurpleMessenger::initialise(QDir(folder.path()).filePath(u"purple"_s));
        !started.isEmpty()) {
        qCCritical(lcHeadless).noquote() << started;
        return ExitCode::UsageError;
    }
#else
    qCCritical(lcHeadless).noquote() << u"%1 names a chat network, but this build of the program has no libpurple. "
                                        u"Build with libpurple-dev installed."_s.arg(NetworkSettings::fileName());
    return ExitCode::UsageError;
#endif

    StringRowList descriptions;
    StringRowList addresses;
    // The catalogue, the list pages and the server message: one for every room.
    LinkServer server(nullptr, descriptions, addresses, folder);
    server.values().CatalogueAddress = settings.value->web.publicUrl;
    for (const QString &problem : server.load())
        qCWarning(lcHeadless).noquote() << problem;
    qCInfo(lcHeadless).noquote() << u"Catalogue loaded: %1 items from the data folder %2"_s
                                        .arg(server.catalogue().itemCount())
                                        .arg(folder.path());

    ServedRooms rooms(server);
#ifdef VALDRIN_HAVE_PURPLE
    NetworkServer networks(rooms);
    if (const QString wrong = networks.start(*settings.value); !wrong.isEmpty()) {
        qCCritical(lcHeadless).noquote() << wrong;
        return ExitCode::UsageError;
    }
    // Networks that turned the program away for good are not asked again; when
    // every one did, a service manager sees the failure in the exit code.
    QObject::connect(&networks, &NetworkServer::allRefused, &server, [&rooms] {
        qCCritical(lcHeadless) << "Stopping: every network refused the sign-on";
        rooms.stopReplies();
        QCoreApplication::exit(ExitCode::SignOnRefused);
    });
#endif
#ifdef VALDRIN_HAVE_WEB
    // The web face reads snapshots on a thread of its own; the chat thread
    // publishes a new one whenever the catalogue or a room changes.
#ifdef VALDRIN_HAVE_PURPLE
    ServerWeb web(server, rooms, &networks);
#else
    ServerWeb web(server, rooms, nullptr);
#endif
    if (settings.value->web.isOn()) {
        if (const QString wrong = web.start(settings.value->web); !wrong.isEmpty()) {
            qCCritical(lcHeadless).noquote() << wrong;
            return ExitCode::UsageError;
        }
    }
#endif

    // The operator edits the files while the server runs (by hand, or with this
    // program's catalogue commands): it reads them again when they change, and
    // on SIGHUP. It waits for a command's change to be complete.
    const auto reload = [&] {
        QLockFile lock(folder.lockPath());
        // A folder nobody can write in needs no lock to be read.
        if (!lock.tryLock(ReloadLockWaitMs) && durablefile::folderProblem(folder.path()).isEmpty()) {
            qCWarning(lcHeadless).noquote() << u"The catalogue was not read again: %1 stays locked. The catalogue in "
                                               u"use stays as it was."_s.arg(folder.lockPath());
            return;
        }
        for (const QString &told : server.reload())
            qCInfo(lcHeadless).noquote() << told;
#ifdef VALDRIN_HAVE_WEB
        web.publish();
#endif
    };
    CatalogueWatcher watcher(folder.path());
    QObject::connect(&watcher, &CatalogueWatcher::changed, &server, reload);

    // SIGHUP reads network.conf again too, and applies what changed in it.
    const auto reloadAll = [&] {
        reload();
#ifdef VALDRIN_HAVE_PURPLE
        NetworkConfig::Parsed changed = networkSettings(folder);
        if (!changed.error.isEmpty()) {
            const QString mistake = changed.error.endsWith(u'.') ? changed.error : changed.error + u'.';
            qCWarning(lcHeadless).noquote()
                << mistake
                << u"The changed %1 was not applied; the rooms go on as they were."_s.arg(NetworkSettings::fileName());
            return;
        }
        server.values().CatalogueAddress = changed.value->web.publicUrl;
        for (const QString &told : networks.apply(*changed.value))
            qCInfo(lcHeadless).noquote() << told;
#endif
    };
    // systemd: ready once the first room is served; the watchdog pinged from this loop.
    ServiceManager::startWatchdog(&server);
    bool toldReady = false;
    QObject::connect(&rooms, &ServedRooms::roomServing, &server, [&rooms, &toldReady] {
        const QString status = u"Serving %1 of %2 room(s)"_s.arg(rooms.servingCount()).arg(rooms.roomCount());
        if (!std::exchange(toldReady, true))
            ServiceManager::ready(status);
        else
            ServiceManager::status(status);
    });
    if (!handleSignals(
            &server,
            [&rooms] {
                ServiceManager::stopping();
                rooms.stopReplies();
            },
            reloadAll))
        qCWarning(lcHeadless) << "SIGINT, SIGTERM and SIGHUP cannot be caught; stop the program with SIGKILL";
    const int code = QCoreApplication::exec();

    // Nothing here changes the catalogue, so as a rule there is nothing to
    // write, and an operator's edit of the files is never overwritten.
    if (!server.catalogue().hasUnsavedChanges())
        return code;
    const FileResult saved = server.catalogue().save();
    if (!saved.ok()) {
        qCCritical(lcHeadless).noquote() << saved.error;
        return code == 0 ? ExitCode::FilesFailed : code;
    }
    qCInfo(lcHeadless) << "Catalogue saved";
    return code;
}
