#include "app/form1.h"
#include "app/startup.h"

#include "platform/localroom/localroom.h"
#include "platform/localroom/localroomwindow.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Valdrin AIM Server v2"));
    QApplication::setApplicationVersion(QStringLiteral(VALDRIN_VERSION));

    const StartupDecision decision = parseCommandLine(QApplication::arguments(), QApplication::applicationDirPath());
    if (!decision.options) {
        std::fputs(qPrintable(decision.output + u'\n'), decision.exitCode == 0 ? stdout : stderr);
        return decision.exitCode;
    }

    FramelessWindow::endProgramWithLastWindow();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/artwork/icon.png")));

    // With no chat network set up, the program serves the room built into it.
    auto *room = new LocalRoom();
    auto *window = new Form1(DataFolder(decision.options->dataFolder), room);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();

    auto *roomWindow = new LocalRoomWindow(room);
    roomWindow->setAttribute(Qt::WA_DeleteOnClose);
    roomWindow->move(window->frameGeometry().topRight() + QPoint(16, 0));
    roomWindow->show();

    return QApplication::exec();
}
