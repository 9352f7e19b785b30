#include "startup/signalhandler.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcSignals, "valdrin.signals")

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

bool catchSignalsEarly()
{
    std::signal(SIGPIPE, SIG_IGN);
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0 &&
           sigaction(SIGHUP, &action, nullptr) == 0;
}

void releaseSignals()
{
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        std::signal(number, SIG_DFL);
    if (signalPipe[0] < 0)
        return;
    char byte = 0;
    while (::read(signalPipe[0], &byte, 1) == 1)
        std::raise(byte);
}

bool handleSignals(QObject *context, std::function<void()> beforeQuit, std::function<void()> onReload)
{
    if (!catchSignalsEarly())
        return false;
    // A signal that came before the event loop ran is in the pipe already, and
    // is acted on as soon as the loop starts.
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [beforeQuit = std::move(beforeQuit), onReload = std::move(onReload)] {
                         char byte = 0;
                         while (::read(signalPipe[0], &byte, 1) == 1) {
                             if (byte == SIGHUP) {
                                 qCInfo(lcSignals) << "Reloading the catalogue and network.conf (SIGHUP)";
                                 onReload();
                                 continue;
                             }
                             qCInfo(lcSignals) << "Stopping";
                             beforeQuit();
                             QCoreApplication::quit();
                             return;
                         }
                     });
    return true;
}
