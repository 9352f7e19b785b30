#pragma once

#include <QLoggingCategory>

// The server's own lines: its start, reloads, the networks and the web face.
Q_DECLARE_LOGGING_CATEGORY(lcServer)

// The windowless server's log on standard error: one entry per line, each with
// its time and category, so a message that holds line breaks (libpurple's do)
// never leaves a line without them.
void logToStandardError();
