#include "app/server/headless.h"

#include "app/server/cataloguewatcher.h"
#include "app/server/exitcodes.h"
#include "app/server/messengerfactory.h"
#include "app/server/serverlog.h"
#include "app/server/signalhandler.h"
#include "app/server/startup.h"

#include "platform/messenger.h"
#include "platform/network/networksettings.h"
#include "platform/durablefile.h"
#include "platform/rowlist.h"
#include "serving/linkserver.h"
#include "serving/servingswitch.h"

#include <QCoreApplication>
#include <QLockFile>
#include <QLoggingCategory>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcHeadless, "valdrin.headless")

namespace {

// How long a reload waits for a catalogue command to finish its change.
constexpr int ReloadLockWaitMs = 5000;

} // namespace

int runHeadless(const StartupOptions &options)
{
    logToStandardError();
    const DataFolder folder(options.dataFolder);

    MessengerChoice choice = chooseMessenger(folder.path());
    if (!choice.error.isEmpty()) {
        qCCritical(lcHeadless).noquote() << choice.error;
        return ExitCode::UsageError;
    }
    if (!choice.value) {
        qCCritical(lcHeadless).noquote()
            << u"The headless server serves a chat network: write %1 in %2 (see the README)."_s.arg(
                   NetworkSettings::fileName(), folder.path());
        return ExitCode::UsageError;
    }
    MorvexAIMOCX::AIM *messenger = choice.value.release();
    messenger->setParent(QCoreApplication::instance());

    StringRowList descriptions;
    StringRowList addresses;
    LinkServer server(messenger, descriptions, addresses, folder);
    for (const QString &problem : server.load())
        qCWarning(lcHeadless).noquote() << problem;
    qCInfo(lcHeadless).noquote() << u"Catalogue loaded: %1 items from the data folder %2"_s.arg(
        server.catalogue().itemCount()).arg(folder.path());
    if (const MorvexAIMOCX::Delivery delivery = messenger->delivery(); delivery.linesPerSecond > 0) {
        qCInfo(lcHeadless).noquote() << u"Sending at most %1 line(s) a second after %2 at once (send-rate, send-burst)"_s
                                            .arg(delivery.linesPerSecond)
                                            .arg(delivery.burst);
    }
    QObject::connect(&server, &LinkServer::switchRefused, &server,
                     [](const QString &text) { qCWarning(lcHeadless).noquote() << text; });

    // Once in the room, serving goes on as the "On" switch turns it on; after a
    // reconnect the program is still serving and needs nothing more.
    PlainCaption servingSwitch;
    QObject::connect(messenger, &MorvexAIMOCX::AIM::roomJoined, &server, [&] {
        if (server.isServing())
            return;
        server.Label2_Click(servingSwitch);
        if (server.isServing())
            qCInfo(lcHeadless) << "Serving" << server.catalogue().itemCount() << "items";
    });

    // A network that turned the program away for good is not asked again; a
    // service manager sees the failure in the exit code.
    QObject::connect(messenger, &MorvexAIMOCX::AIM::signOnRefused, &server, [&server] {
        qCCritical(lcHeadless) << "Stopping: the network refused the sign-on";
        server.stopReplies();
        QCoreApplication::exit(ExitCode::SignOnRefused);
    });

    // The operator edits the files while the server runs (by hand, or with this
    // program's catalogue commands): it reads them again when they change, and
    // on SIGHUP. It waits for a command's change to be complete.
    const auto reload = [&server, &folder] {
        QLockFile lock(folder.lockPath());
        // A folder nobody can write in needs no lock to be read.
        if (!lock.tryLock(ReloadLockWaitMs) && durablefile::folderProblem(folder.path()).isEmpty()) {
            qCWarning(lcHeadless).noquote() << u"The catalogue was not read again: %1 stays locked. The catalogue in "
                                               u"use stays as it was."_s.arg(folder.lockPath());
            return;
        }
        for (const QString &told : server.reload())
            qCInfo(lcHeadless).noquote() << told;
    };
    CatalogueWatcher watcher(folder.path());
    QObject::connect(&watcher, &CatalogueWatcher::changed, &server, reload);

    if (!handleSignals(&server, [&server] { server.stopReplies(); }, reload))
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
