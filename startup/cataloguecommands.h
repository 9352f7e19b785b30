#pragma once

struct StartupOptions;

// The catalogue commands of the command line (--list, --add, --remove,
// --message, --message-file): each reads, changes and writes the data folder's
// files as the main window does, under the catalogue's lock, so a server
// serving the same folder picks the change up. Returns the exit code.
int runCatalogueCommand(const StartupOptions &options);
