#include "app/server/cataloguecommands.h"
#include "app/server/headless.h"
#include "app/server/startup.h"

#include <QCoreApplication>

// The windowless server: Qt Core only, no display needed. It serves the chat
// network named in network.conf until SIGINT or SIGTERM.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    describeApplication();
    int exitCode = 0;
    const std::optional<StartupOptions> options = readCommandLine(exitCode, true);
    if (!options)
        return exitCode;
    return options->command == StartupOptions::Command::Serve ? runHeadless(*options) : runCatalogueCommand(*options);
}
