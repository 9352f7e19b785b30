#include "app/server/startup.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

using namespace Qt::StringLiterals;

StartupDecision parseCommandLine(const QStringList &arguments, const QString &programFolder, bool windowless)
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
    parser.addOptions({helpOption, versionOption, dataOption});
    if (!windowless)
        parser.addOption(headlessOption);

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

    StartupOptions options{programFolder, windowless || parser.isSet(headlessOption)};
    if (parser.isSet(dataOption)) {
        const QString folder = parser.value(dataOption);
        if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
            return {std::nullopt, u"The data folder %1 cannot be created or is not a folder."_s.arg(folder), 2};
        options.dataFolder = QFileInfo(folder).absoluteFilePath();
    }
    return {options, {}, 0};
}

void describeApplication()
{
    QCoreApplication::setApplicationName(u"Valdrin AIM Server v2"_s);
    QCoreApplication::setApplicationVersion(u"" VALDRIN_VERSION ""_s);
}

std::optional<StartupOptions> readCommandLine(int &exitCode, bool windowless)
{
    const StartupDecision decision =
        parseCommandLine(QCoreApplication::arguments(), QCoreApplication::applicationDirPath(), windowless);
    exitCode = decision.exitCode;
    if (!decision.options)
        std::fputs(qPrintable(decision.output + u'\n'), decision.exitCode == 0 ? stdout : stderr);
    return decision.options;
}
