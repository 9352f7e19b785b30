#pragma once

#include <functional>

class QObject;

// SIGINT and SIGTERM end the application's event loop, after beforeQuit. The
// signal only writes to a pipe; the loop reads it and quits as ordinary code,
// never inside the signal handler. Returns false when the signals cannot be caught.
[[nodiscard]] bool quitOnStopSignals(QObject *context, std::function<void()> beforeQuit);
