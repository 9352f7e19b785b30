#pragma once

#include <functional>

class QObject;

// SIGINT and SIGTERM end the application's event loop, after beforeQuit;
// SIGHUP calls onReload. A signal only writes its number to a pipe; the loop
// reads it and acts as ordinary code, never inside the signal handler.
// Returns false when the signals cannot be caught.
[[nodiscard]] bool handleSignals(QObject *context, std::function<void()> beforeQuit, std::function<void()> onReload);
