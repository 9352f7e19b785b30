#include "app/server/signalhandler.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcHeadless)

namespace {

int signalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char stop = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &stop, 1);
}

} // namespace

bool quitOnStopSignals(QObject *context, std::function<void()> beforeQuit)
{
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [beforeQuit = std::move(beforeQuit)] {
        char stop = 0;
        [[maybe_unused]] const ssize_t read = ::read(signalPipe[0], &stop, 1);
        qCInfo(lcHeadless) << "Stopping";
        beforeQuit();
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}
