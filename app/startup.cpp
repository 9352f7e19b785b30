#include "app/startup.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <cstring>

using namespace Qt::StringLiterals;

bool wantsHeadless(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0)
            return true;
    }
    return false;
}

StartupDecision parseCommandLine(const QStringList &arguments, const QString &programFolder)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Valdrin AIM Server v2: serves a catalogue of links to a chat room."_s);
    const QCommandLineOption helpOption({u"h"_s, u"help"_s}, u"Shows this help and exits."_s);
    const QCommandLineOption versionOption({u"v"_s, u"version"_s}, u"Shows the program's version and exits."_s);
    const QCommandLineOption dataOption(
        {u"d"_s, u"data-dir"_s},
        u"Keeps descriptions.dat, urls.dat and message.txt in <folder> instead of the program's own folder."_s,
        u"folder"_s);
    const QCommandLineOption headlessOption(
        u"headless"_s, u"Serves the chat network named in network.conf with no window, until SIGINT or SIGTERM."_s);
    parser.addOptions({helpOption, versionOption, dataOption, headlessOption});

    if (!parser.parse(arguments))
        return {std::nullopt, parser.errorText() + u"\nTry --help."_s, 2};
    if (parser.isSet(helpOption))
        return {std::nullopt, parser.helpText(), 0};
    if (parser.isSet(versionOption))
        return {std::nullopt, u"Valdrin AIM Server v2 (" VALDRIN_VERSION ")"_s, 0};
    if (!parser.positionalArguments().isEmpty()) {
        return {std::nullopt,
                u"Unexpected argument: %1\nTry --help."_s.arg(parser.positionalArguments().constFirst()), 2};
    }

    StartupOptions options{programFolder, parser.isSet(headlessOption)};
    if (parser.isSet(dataOption)) {
        const QString folder = parser.value(dataOption);
        if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
            return {std::nullopt, u"The data folder %1 cannot be created or is not a folder."_s.arg(folder), 2};
        options.dataFolder = QFileInfo(folder).absoluteFilePath();
    }
    return {options, {}, 0};
}
