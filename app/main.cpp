#include "server/headless.h"
#include "server/messengerfactory.h"
#include "serving/linkserver.h"
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

    QString othersNotice;
    bool chatSearch = false;
    MessengerChoice choice = chooseMessenger(options.dataFolder, &othersNotice, &chatSearch);
    if (!choice.error.isEmpty()) {
        OperatorMessages::show(nullptr, choice.error);
        return ExitCode::UsageError;
    }
    LocalRoom *room = nullptr;
    MorvexAIMOCX::AIM *messenger = choice.value.release();
    if (!messenger) // with no chat network set up, the program serves the room built into it
        messenger = room = new LocalRoom();

    auto *window = new Form1(DataFolder(options.dataFolder), messenger);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->server().answerSearches(chatSearch);
    QObject::connect(messenger, &MorvexAIMOCX::AIM::problem, window,
                     [window](const QString &text) { OperatorMessages::warnLater(window, text); });
    window->show();
    if (!othersNotice.isEmpty())
        OperatorMessages::warnLater(window, othersNotice);

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
