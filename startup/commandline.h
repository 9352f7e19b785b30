#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the command line asked for.
struct StartupOptions
{
    // What to do: serve, or one change or look at the catalogue, then end.
    enum class Command { Serve, List, Add, Remove, Message, MessageFile, HashPassword, Import, Export, CheckLinks };

    // The folder of the data files; the program's own folder unless one was named.
    QString dataFolder;
    // Serve the configured chat network with no window.
    bool headless = false;
    Command command = Command::Serve;
    // The command's values: the description and the address, the item number,
    // the message or the message's file, the file to import or export.
    QStringList commandValues;
    // --import: in place of the whole catalogue (--replace), or only say what would change (--check).
    bool replace = false;
    bool check = false;
};

// The outcome of reading the command line: options to start with, or a text to
// print and an exit code (for --help, --version and mistakes).
struct StartupDecision
{
    std::optional<StartupOptions> options;
    QString output;
    int exitCode = 0;
};

// Reads the program's command line (the first argument is the program itself).
// The windowless server always runs headless and has no --headless switch.
[[nodiscard]] StartupDecision parseCommandLine(const QStringList &arguments, const QString &programFolder,
                                               bool windowless = false);

// True when the windowed program's command line asks for something that opens
// no window (the headless server, the help, the version, a catalogue command, a
// mistake to tell): that runs without a display.
[[nodiscard]] bool opensNoWindow(const QStringList &arguments);

// Names the program and its version for Qt.
void describeApplication();

// What is wrong with the first argument that is not UTF-8 text (the first is
// the program itself); empty when all are.
[[nodiscard]] QString undecodableArgument(const QList<QByteArray> &arguments);

// Reads the running application's command line (main's argc and argv); prints
// the help, the version or the mistake and sets exitCode when there is nothing
// to start.
[[nodiscard]] std::optional<StartupOptions> readCommandLine(int argc, char **argv, int &exitCode,
                                                            bool windowless = false);
