#include "server/headless.h"
#include "startup/cataloguecommands.h"
#include "startup/commandline.h"
#include "startup/signalhandler.h"

#include <QCoreApplication>

// The windowless server: Qt Core only, no display needed. It serves the chat
// network named in network.conf until SIGINT or SIGTERM.
int main(int argc, char *argv[])
{
    // Before anything else: a stop or reload signal in the first moments of a
    // start is kept for the server, never its death.
    const bool signalsCaught = catchSignalsEarly();
    QCoreApplication app(argc, argv);
    describeApplication();
    int exitCode = 0;
    const std::optional<StartupOptions> options = readCommandLine(argc, argv, exitCode, true);
    if (!options) {
        releaseSignals();
        return exitCode;
    }
    if (options->command != StartupOptions::Command::Serve) {
        releaseSignals();
        return runCatalogueCommand(*options);
    }
    Q_UNUSED(signalsCaught) // runHeadless says when the signals cannot be caught
    return runHeadless(*options);
}
