#pragma once

struct StartupOptions;

// Serves the configured chat network with no window: signs on, joins the room,
// switches serving on as the "On" switch does, and serves until SIGINT or
// SIGTERM; then saves the catalogue. Returns the process's exit code.
int runHeadless(const StartupOptions &options);
