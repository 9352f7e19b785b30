#include "app/form1.h"
#include "app/headless.h"
#include "app/messengerfactory.h"
#include "app/startup.h"

#include "platform/localroom/localroom.h"
#include "platform/localroom/localroomwindow.h"
#include "windows/operatormessages.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

namespace {

// Reads the command line; prints and ends for --help, --version and mistakes.
std::optional<StartupOptions> readCommandLine(int &exitCode)
{
    const StartupDecision decision =
        parseCommandLine(QCoreApplication::arguments(), QCoreApplication::applicationDirPath());
    exitCode = decision.exitCode;
    if (!decision.options)
        std::fputs(qPrintable(decision.output + u'\n'), decision.exitCode == 0 ? stdout : stderr);
    return decision.options;
}

void describeApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Valdrin AIM Server v2"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VALDRIN_VERSION));
}

int runWindowed(const StartupOptions &options)
{
    FramelessWindow::endProgramWithLastWindow();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/artwork/icon.png")));

    MessengerChoice choice = chooseMessenger(options.dataFolder);
    if (!choice.error.isEmpty()) {
        OperatorMessages::show(nullptr, choice.error);
        return 2;
    }
    LocalRoom *room = nullptr;
    MorvexAIMOCX::AIM *messenger = choice.network.release();
    if (!messenger) // with no chat network set up, the program serves the room built into it
        messenger = room = new LocalRoom();

    auto *window = new Form1(DataFolder(options.dataFolder), messenger);
    window->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(messenger, &MorvexAIMOCX::AIM::problem, window,
                     [window](const QString &text) { OperatorMessages::warnLater(window, text); });
    window->show();

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
    if (wantsHeadless(argc, argv)) {
        QCoreApplication app(argc, argv);
        describeApplication();
        int exitCode = 0;
        const std::optional<StartupOptions> options = readCommandLine(exitCode);
        return options ? runHeadless(*options) : exitCode;
    }
    QApplication app(argc, argv);
    describeApplication();
    int exitCode = 0;
    const std::optional<StartupOptions> options = readCommandLine(exitCode);
    return options ? runWindowed(*options) : exitCode;
}
