#include "server/headless.h"

#include "server/servercore.h"
#include "server/serverlog.h"
#include "server/servicemanager.h"
#include "startup/commandline.h"
#include "startup/exitcodes.h"
#include "startup/signalhandler.h"

#include "catalogue/catalogue.h"
#include "networkconf/networksettings.h"

#ifdef VALDRIN_HAVE_PURPLE
#include "messengers/purple/purplemessenger.h"
#endif

#include <QCoreApplication>
#include <QDir>

using namespace Qt::StringLiterals;

namespace {

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
        qCCritical(lcServer).noquote() << settings.error;
        return ExitCode::UsageError;
    }
    if (!settings.value->permissionWarning.isEmpty())
        qCWarning(lcServer).noquote() << settings.value->permissionWarning;
    if (const QString started = startChatLibrary(folder); !started.isEmpty()) {
        qCCritical(lcServer).noquote() << started;
        return ExitCode::UsageError;
    }

    bool toldReady = false; // systemd was told the server is ready
    ServerCore core(folder, ServerCore::Serving::OnJoin);
    for (const QString &problem : core.load())
        qCWarning(lcServer).noquote() << problem;
    qCInfo(lcServer).noquote()
        << u"Catalogue loaded: %1 items from the data folder %2"_s.arg(core.catalogue().itemCount()).arg(folder.path());
    if (const QString wrong = core.start(*settings.value); !wrong.isEmpty()) {
        qCCritical(lcServer).noquote() << wrong;
        return ExitCode::UsageError;
    }
    // When every network turned the program away, a service manager sees the
    // failure in the exit code.
    QObject::connect(&core, &ServerCore::allRefused, &core, [] {
        qCCritical(lcServer) << "Stopping: every network refused the sign-on";
        QCoreApplication::exit(ExitCode::SignOnRefused);
    });
    // systemd: ready once the first room is served; the watchdog pinged from this loop.
    ServiceManager::startWatchdog(&core);
    QObject::connect(&core, &ServerCore::servingChanged, &core, [&toldReady](int serving, int rooms) {
        if (serving == 0 && !toldReady)
            return;
        const QString status = u"Serving %1 of %2 room(s)"_s.arg(serving).arg(rooms);
        if (!std::exchange(toldReady, true))
            ServiceManager::ready(status);
        else
            ServiceManager::status(status);
    });
    // SIGHUP reads network.conf again too, and applies what changed in it.
    if (!handleSignals(
            &core,
            [&core] {
                ServiceManager::stopping();
                core.stop();
            },
            [&core] { core.reload(); }))
        qCWarning(lcServer) << "SIGINT, SIGTERM and SIGHUP cannot be caught; stop the program with SIGKILL";
    const int code = QCoreApplication::exec();

    // Nothing here changes the catalogue, so as a rule there is nothing to
    // write, and an operator's edit of the files is never overwritten.
    if (!core.catalogue().hasUnsavedChanges())
        return code;
    const FileResult saved = core.catalogue().save();
    if (!saved.ok()) {
        qCCritical(lcServer).noquote() << saved.error;
        return code == 0 ? ExitCode::FilesFailed : code;
    }
    qCInfo(lcServer) << "Catalogue saved";
    return code;
}

QString startChatLibrary(const DataFolder &folder)
{
#ifdef VALDRIN_HAVE_PURPLE
    return PurpleMessenger::initialise(QDir(folder.path()).filePath(u"purple"_s));
#else
    Q_UNUSED(folder);
    return u"%1 names a chat network, but this build of the program has no libpurple. Build with libpurple-dev "
           u"installed."_s.arg(NetworkSettings::fileName());
#endif
}
