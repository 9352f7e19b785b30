#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the command line asked for.
struct StartupOptions
{
    // The folder of the data files; the program's own folder unless one was named.
    QString dataFolder;
    // Serve the configured chat network with no window.
    bool headless = false;
};

// The outcome of reading the command line: options to start with, or a text to
// print and an exit code (for --help, --version and mistakes).
struct StartupDecision
{
    std::optional<StartupOptions> options;
    QString output;
    int exitCode = 0;
};

// True when the command line asks for the headless mode (read before Qt starts,
// to choose between a windowed and a windowless application).
[[nodiscard]] bool wantsHeadless(int argc, char **argv);

// Reads the program's command line (the first argument is the program itself).
[[nodiscard]] StartupDecision parseCommandLine(const QStringList &arguments, const QString &programFolder);
