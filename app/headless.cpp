#include "app/headless.h"

#include "app/messengerfactory.h"
#include "app/startup.h"

#include "catalogue/catalogue.h"
#include "catalogue/valdrinbas.h"
#include "platform/messenger.h"
#include "platform/networksettings.h"
#include "platform/rowlist.h"
#include "serving/listpagebuilder.h"
#include "serving/servingengine.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcHeadless, "valdrin.headless")

namespace {

int signalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char stop = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &stop, 1);
}

// SIGINT and SIGTERM end the event loop from a pipe, so the shutdown runs as
// ordinary code rather than inside a signal handler.
bool catchStopSignals(QObject *context)
{
    if (::pipe(signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [] {
        qCInfo(lcHeadless) << "Stopping";
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

} // namespace

int runHeadless(const StartupOptions &options)
{
    qSetMessagePattern(u"%{time yyyy-MM-dd hh:mm:ss.zzz} %{category}: %{message}"_s);
    const DataFolder folder(options.dataFolder);

    MessengerChoice choice = chooseMessenger(folder.path());
    if (!choice.error.isEmpty()) {
        qCCritical(lcHeadless).noquote() << choice.error;
        return 2;
    }
    if (!choice.network) {
        qCCritical(lcHeadless).noquote()
            << u"The headless mode serves a chat network: write %1 in %2 (see the README)."_s.arg(
                   NetworkSettings::fileName(), folder.path());
        return 2;
    }
    MorvexAIMOCX::AIM *messenger = choice.network.release();
    messenger->setParent(QCoreApplication::instance());

    StringRowList descriptions;
    StringRowList addresses;
    Catalogue catalogue(descriptions, addresses, folder);
    for (const QString &problem : catalogue.load())
        qCWarning(lcHeadless).noquote() << problem;
    qCInfo(lcHeadless) << "Catalogue loaded:" << catalogue.itemCount() << "items from" << folder.path();

    ServingEngine engine(
        messenger, descriptions, addresses,
        {[&descriptions] { ListPageBuilder::BuildList(descriptions, ValdrinBas::ListPages); },
         [](const QString &text) { qCWarning(lcHeadless).noquote() << text; }});
    PlainCaption servingSwitch;
    // Once in the room, serving goes on as the "On" switch turns it on; after a
    // reconnect the program is still serving and needs nothing more.
    const auto switchOn = [&] {
        if (servingSwitch.text() != u"On")
            return;
        engine.servingSwitch().Label2_Click(servingSwitch);
        if (servingSwitch.text() == u"Off")
            qCInfo(lcHeadless) << "Serving" << catalogue.itemCount() << "items";
    };
    QObject::connect(messenger, &MorvexAIMOCX::AIM::roomJoined, &engine, switchOn);

    if (!catchStopSignals(&engine))
        qCWarning(lcHeadless) << "SIGINT and SIGTERM cannot be caught; stop the program with SIGKILL";
    const int code = QCoreApplication::exec();

    const FileResult saved = catalogue.save();
    if (!saved.ok())
        qCWarning(lcHeadless).noquote() << saved.error;
    else
        qCInfo(lcHeadless) << "Catalogue saved";
    return code;
}
