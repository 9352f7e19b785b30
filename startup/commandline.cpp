#include "startup/commandline.h"

#include "startup/exitcodes.h"

#include "catalogue/datafolder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Every option of both programs, declared once: the windowed program reads its
// command line with these too, before it decides to open a window.
struct CommandLine
{
    QCommandLineParser parser;
    QCommandLineOption helpOption{{u"h"_s, u"help"_s}, u"Shows this help and exits."_s};
    QCommandLineOption versionOption{{u"v"_s, u"version"_s}, u"Shows the program's version and exits."_s};
    QCommandLineOption dataOption{
        {u"d"_s, u"data-dir"_s},
        u"Keeps descriptions.dat, urls.dat and message.txt in <folder> instead of the program's own folder."_s,
        u"folder"_s};
    QCommandLineOption headlessOption{
        u"headless"_s, u"Serves the chat network named in network.conf with no window, until SIGINT or SIGTERM."_s};
    // Catalogue commands for a server with no window; safe while one serves the folder.
    QCommandLineOption listOption{u"list"_s, u"Lists the catalogue's items, numbered, and exits."_s};
    QCommandLineOption addOption{
        u"add"_s, u"Adds an item: --add DESCRIPTION URL (a server on the same folder serves it at once)."_s};
    QCommandLineOption removeOption{u"remove"_s, u"Removes item <number> (as --list numbers them)."_s, u"number"_s};
    QCommandLineOption messageOption{u"message"_s, u"Sets the server message that ends every item reply."_s, u"text"_s};
    QCommandLineOption messageFileOption{u"message-file"_s, u"Sets the server message to the text of <file> (UTF-8)."_s,
                                         u"file"_s};
    QCommandLineOption importOption{
        u"import"_s,
        u"Adds the items of <file> (catalogue.json, CSV with description and url columns, or a plain list of "
        u"addresses), all or none."_s,
        u"file"_s};
    QCommandLineOption replaceOption{u"replace"_s, u"With --import: the file's items replace the whole catalogue."_s};
    QCommandLineOption checkOption{u"check"_s, u"With --import: checks the file and says what would change."_s};
    QCommandLineOption exportOption{u"export"_s,
                                    u"Writes the catalogue to <file> as JSON or CSV by its extension (- for JSON on "
                                    u"standard output), in a form --import reads back."_s,
                                    u"file"_s};
    QCommandLineOption checkLinksOption{u"check-links"_s,
                                        u"Checks every http and https address of the catalogue and lists the dead "
                                        u"or doubtful ones; exits 0 when every link answered, 1 otherwise."_s};
    QCommandLineOption hashOption{u"hash-password"_s,
                                  u"Reads a password from the terminal (or standard input) and prints its hash for "
                                  u"http-admin-password-hash in network.conf."_s};

    explicit CommandLine(bool windowless)
    {
        parser.setApplicationDescription(u"Valdrin AIM Server v2: serves a catalogue of links to a chat room."_s);
        parser.addOptions({helpOption, versionOption, dataOption});
        if (!windowless)
            parser.addOption(headlessOption);
        parser.addOptions({listOption, addOption, removeOption, messageOption, messageFileOption, importOption,
                           replaceOption, checkOption, exportOption, checkLinksOption, hashOption});
        parser.addPositionalArgument(u"DESCRIPTION URL"_s, u"The item that --add adds."_s);
    }

    // The options that do something and end the program, and the command each is.
    [[nodiscard]] std::array<std::pair<const QCommandLineOption *, StartupOptions::Command>, 9> commands() const
    {
        return {std::pair{&listOption, StartupOptions::Command::List},
                std::pair{&addOption, StartupOptions::Command::Add},
                std::pair{&removeOption, StartupOptions::Command::Remove},
                std::pair{&messageOption, StartupOptions::Command::Message},
                std::pair{&messageFileOption, StartupOptions::Command::MessageFile},
                std::pair{&importOption, StartupOptions::Command::Import},
                std::pair{&exportOption, StartupOptions::Command::Export},
                std::pair{&checkLinksOption, StartupOptions::Command::CheckLinks},
                std::pair{&hashOption, StartupOptions::Command::HashPassword}};
    }
};

} // namespace

bool opensNoWindow(const QStringList &arguments)
{
    CommandLine line(false);
    // A mistake is told on the terminal, without a display.
    if (!line.parser.parse(arguments))
        return true;
    const auto isSet = [&](const QCommandLineOption &option) { return line.parser.isSet(option); };
    if (isSet(line.helpOption) || isSet(line.versionOption) || isSet(line.headlessOption))
        return true;
    const auto commands = line.commands();
    return std::any_of(commands.cbegin(), commands.cend(), [&](const auto &command) { return isSet(*command.first); });
}

StartupDecision parseCommandLine(const QStringList &arguments, const QString &programFolder, bool windowless)
{
    CommandLine line(windowless);
    QCommandLineParser &parser = line.parser;

    if (!parser.parse(arguments))
        return {std::nullopt, parser.errorText() + u"\nTry --help."_s, ExitCode::UsageError};
    if (parser.isSet(line.helpOption)) {
        return {std::nullopt,
                parser.helpText() +
                    u"\nThe data folder is the program's own folder when it can write there, otherwise %1."_s.arg(
                        DataFolder::userFolder()),
                0};
    }
    if (parser.isSet(line.versionOption))
        return {std::nullopt, u"Valdrin AIM Server v2 (" VALDRIN_VERSION ")"_s, ExitCode::Success};
    StartupOptions options{programFolder, windowless || parser.isSet(line.headlessOption), {}, {}};
    int commands = 0;
    for (const auto &[option, command] : line.commands()) {
        if (!parser.isSet(*option))
            continue;
        ++commands;
        options.command = command;
        if (!option->valueName().isEmpty())
            options.commandValues = {parser.value(*option)};
    }
    if (commands > 1)
        return {std::nullopt,
                u"Give one of --list, --add, --remove, --message, --message-file, --import, --export, --check-links "
                u"and --hash-password at a time."_s,
                ExitCode::UsageError};
    options.replace = parser.isSet(line.replaceOption);
    options.check = parser.isSet(line.checkOption);
    if ((options.replace || options.check) && options.command != StartupOptions::Command::Import)
        return {std::nullopt, u"--replace and --check go with --import FILE.\nTry --help."_s, ExitCode::UsageError};
    QStringList positional = parser.positionalArguments();
    if (options.command == StartupOptions::Command::Add) {
        if (positional.size() != 2)
            return {std::nullopt, u"--add takes two values: --add DESCRIPTION URL\nTry --help."_s,
                    ExitCode::UsageError};
        options.commandValues = positional;
        positional.clear();
    }
    if (!positional.isEmpty())
        return {std::nullopt, u"Unexpected argument: %1\nTry --help."_s.arg(positional.constFirst()),
                ExitCode::UsageError};

    const QString folder = parser.isSet(line.dataOption) ? parser.value(line.dataOption) : options.dataFolder;
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        return {std::nullopt, u"The data folder %1 cannot be created or is not a folder."_s.arg(folder),
                ExitCode::UsageError};
    options.dataFolder = QFileInfo(folder).absoluteFilePath();
    return {options, {}, ExitCode::Success};
}

void describeApplication()
{
    QCoreApplication::setApplicationName(u"Valdrin AIM Server v2"_s);
    QCoreApplication::setApplicationVersion(u"" VALDRIN_VERSION ""_s);
}

QString undecodableArgument(const QList<QByteArray> &arguments)
{
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        const QByteArray &bytes = arguments[index];
        // Stateless: a sequence cut off at the end is an error too, not one to be continued.
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString decoded = decoder.decode(bytes);
        if (!decoder.hasError())
            continue;
        // The first U+FFFD that the bytes did not spell out themselves is where they stop being UTF-8.
        for (qsizetype at = decoded.indexOf(QChar::ReplacementCharacter); at >= 0;
             at = decoded.indexOf(QChar::ReplacementCharacter, at + 1)) {
            const QString before = decoded.left(at);
            const qsizetype offset = before.toUtf8().size();
            if (bytes.mid(offset, 3) == "\xEF\xBF\xBD")
                continue;
            return u"Argument %1 is not UTF-8 text: after \"%2\" comes the byte 0x%3, which UTF-8 text cannot hold. "
                   u"Nothing was done; give the argument in UTF-8."_s.arg(index)
                       .arg(before)
                       .arg(QString::number(quint8(bytes.at(offset)), 16).toUpper());
        }
    }
    return {};
}

std::optional<StartupOptions> readCommandLine(int argc, char **argv, int &exitCode, bool windowless)
{
    // Qt would turn a byte that is not UTF-8 into U+FFFD without a word, and
    // that would be stored and sent to members.
    QList<QByteArray> raw;
    for (int index = 0; index < argc; ++index)
        raw.append(QByteArray(argv[index]));
    if (const QString wrong = undecodableArgument(raw); !wrong.isEmpty()) {
        std::fputs(qPrintable(wrong + u'\n'), stderr);
        exitCode = ExitCode::UsageError;
        return std::nullopt;
    }
    const StartupDecision decision =
        parseCommandLine(QCoreApplication::arguments(), DataFolder::programFolder().path(), windowless);
    exitCode = decision.exitCode;
    if (!decision.options)
        std::fputs(qPrintable(decision.output + u'\n'), decision.exitCode == 0 ? stdout : stderr);
    return decision.options;
}
