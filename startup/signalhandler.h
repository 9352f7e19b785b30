#pragma once

#include <functional>

class QObject;

// From the first instruction of main on: SIGINT, SIGTERM and SIGHUP are noted
// (and acted on once handleSignals is called), and SIGPIPE is ignored, so a
// write to a closed connection is an error the program handles, never its death.
// Returns false when the signals cannot be caught.
bool catchSignalsEarly();
// For a run that serves nothing (a catalogue command, the help, the window):
// SIGINT, SIGTERM and SIGHUP act as by default again, and one that came in the
// meantime takes effect now.
void releaseSignals();

// SIGINT and SIGTERM end the application's event loop, after beforeQuit;
// SIGHUP calls onReload. A signal only writes its number to a pipe; the loop
// reads it and acts as ordinary code, never inside the signal handler.
// Returns false when the signals cannot be caught.
[[nodiscard]] bool handleSignals(QObject *context, std::function<void()> beforeQuit, std::function<void()> onReload);
