#include "networkconf/networksettings.h"
#include "server/headless.h"
#include "server/servercore.h"
#include "startup/cataloguecommands.h"
#include "startup/commandline.h"
#include "startup/exitcodes.h"
#include "startup/signalhandler.h"
#include "windows/form1.h"

#include "messengers/localroom/localroom.h"
#include "windows/localroomwindow.h"
#include "windows/operatormessages.h"

#include <QApplication>
#include <QIcon>

namespace {

int runWindowed(const StartupOptions &options)
{
    FramelessWindow::endProgramWithLastWindow();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/artwork/icon.png")));

    const DataFolder folder(options.dataFolder);
    const NetworkConfig::Parsed settings = NetworkConfig::load(folder.path());
    if (!settings.error.isEmpty()) {
        OperatorMessages::show(nullptr, settings.error);
        return ExitCode::UsageError;
    }
    if (settings.value) {
        if (const QString started = startChatLibrary(folder); !started.isEmpty()) {
            OperatorMessages::show(nullptr, started);
            return ExitCode::UsageError;
        }
    }
    // With no chat network set up, the program serves the room built into it.
    LocalRoom *room = settings.value ? nullptr : new LocalRoom();
    auto *window = new Form1(folder, room);
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (room) {
        QObject::connect(room, &MorvexAIMOCX::AIM::problem, window,
                         [window](const QString &text) { OperatorMessages::warnLater(window, text); });
    } else if (const QString wrong = window->serve(*settings.value); !wrong.isEmpty()) {
        OperatorMessages::show(nullptr, wrong);
        delete window;
        return ExitCode::UsageError;
    }
    window->show();
    if (settings.value && !settings.value->permissionWarning.isEmpty())
        OperatorMessages::warnLater(window, settings.value->permissionWarning);

    if (room) {
        auto *roomWindow = new LocalRoomWindow(room);
        roomWindow->setAttribute(Qt::WA_DeleteOnClose);
        roomWindow->move(window->frameGeometry().topRight() + QPoint(16, 0));
        roomWindow->show();
    }
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    // Before anything else: a stop or reload signal in the first moments of a
    // headless start is kept for the server, never its death.
    catchSignalsEarly();
    int exitCode = 0;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (opensNoWindow(arguments)) {
        QCoreApplication app(argc, argv);
        describeApplication();
        const std::optional<StartupOptions> options = readCommandLine(argc, argv, exitCode);
        if (!options || options->command != StartupOptions::Command::Serve)
            releaseSignals();
        if (!options)
            return exitCode;
        if (options->command != StartupOptions::Command::Serve)
            return runCatalogueCommand(*options);
        return runHeadless(*options);
    }
    releaseSignals();
    QApplication app(argc, argv);
    describeApplication();
    const std::optional<StartupOptions> options = readCommandLine(argc, argv, exitCode);
    return options ? runWindowed(*options) : exitCode;
}
