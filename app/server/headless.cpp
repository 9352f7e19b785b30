#include "app/server/headless.h"

#include "app/server/messengerfactory.h"
#include "app/server/serverlog.h"
#include "app/server/signalhandler.h"
#include "app/server/startup.h"

#include "platform/messenger.h"
#include "platform/network/networksettings.h"
#include "platform/rowlist.h"
#include "serving/linkserver.h"
#include "serving/servingswitch.h"

#include <QCoreApplication>
#include <QLoggingCategory>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcHeadless, "valdrin.headless")

int runHeadless(const StartupOptions &options)
{
    logToStandardError();
    const DataFolder folder(options.dataFolder);

    MessengerChoice choice = chooseMessenger(folder.path());
    if (!choice.error.isEmpty()) {
        qCCritical(lcHeadless).noquote() << choice.error;
        return 2;
    }
    if (!choice.network) {
        qCCritical(lcHeadless).noquote()
            << u"The headless server serves a chat network: write %1 in %2 (see the README)."_s.arg(
                   NetworkSettings::fileName(), folder.path());
        return 2;
    }
    MorvexAIMOCX::AIM *messenger = choice.network.release();
    messenger->setParent(QCoreApplication::instance());

    StringRowList descriptions;
    StringRowList addresses;
    LinkServer server(messenger, descriptions, addresses, folder);
    for (const QString &problem : server.load())
        qCWarning(lcHeadless).noquote() << problem;
    qCInfo(lcHeadless) << "Catalogue loaded:" << server.catalogue().itemCount() << "items from" << folder.path();
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
    constexpr int RefusedExitCode = 3;
    QObject::connect(messenger, &MorvexAIMOCX::AIM::signOnRefused, &server, [&server] {
        qCCritical(lcHeadless) << "Stopping: the network refused the sign-on";
        server.stopReplies();
        QCoreApplication::exit(RefusedExitCode);
    });

    if (!quitOnStopSignals(&server, [&server] { server.stopReplies(); }))
        qCWarning(lcHeadless) << "SIGINT and SIGTERM cannot be caught; stop the program with SIGKILL";
    const int code = QCoreApplication::exec();

    const FileResult saved = server.catalogue().save();
    if (!saved.ok())
        qCWarning(lcHeadless).noquote() << saved.error;
    else
        qCInfo(lcHeadless) << "Catalogue saved";
    return code;
}
