#pragma once

// The windowless server's log on standard error: one entry per line, each with
// its time and category, so a message that holds line breaks (libpurple's do)
// never leaves a line without them.
void logToStandardError();
