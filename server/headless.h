#pragma once

struct StartupOptions;

// Serves the configured chat network with no window: signs on, joins the room,
// switches serving on as the "On" switch does, and serves until SIGINT or
// SIGTERM; then saves the catalogue. Returns the process's exit code.
int runHeadless(const StartupOptions &options);

class DataFolder;
class QString;
// Starts the chat library (libpurple) for the data folder, once for the
// process; what went wrong otherwise, or that this build has none.
[[nodiscard]] QString startChatLibrary(const DataFolder &folder);
