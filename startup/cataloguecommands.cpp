#include "startup/cataloguecommands.h"

#ifdef VALDRIN_HAVE_WEB
#include "passwords/adminpassword.h"

#include <termios.h>

#include <cstdio>
#include <iostream>
#include <string>
#endif

#include "startup/commandline.h"
#include "startup/exitcodes.h"

#include "catalogue/cataloguetransfer.h"
#include "linkcheck/linkchecker.h"
#include "networkconf/networksettings.h"
#include "platform/durablefile.h"
#include "platform/rowlist.h"
#include "serving/cataloguechange.h"
#include "serving/servingtexts.h"
#include "serving/valdrinbas.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QLoggingCategory>
#include <QStringDecoder>
#include <QTextStream>

#include <unistd.h>

#include <cerrno>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

using ExitCode::FilesFailed;
using ExitCode::Refused;
using ExitCode::UsageError;

// How long a command waits for another program's change to finish.
constexpr int LockWaitMs = 10000;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int listItems(const RowList &descriptions, const RowList &addresses, const QString &unmatched)
{
    const int count = std::max(descriptions.ListCount(), addresses.ListCount());
    for (int item = 0; item < count; ++item)
        out() << item << ") " << descriptions.List(item) << " <" << addresses.List(item) << ">\n";
    out() << "Server Items: " << descriptions.ListCount() << '\n';
    if (!unmatched.isEmpty())
        err() << unmatched << '\n';
    return ExitCode::Success;
}

// The bytes of a regular file a command reads (never a device, a pipe or one
// of the kernel's files), at most `largest` of them, else `tooLarge`; on
// failure the error and the exit code it calls for: 4 when the file could not
// be read, 1 when it is not one to take. `what` names what it should be.
QByteArray regularFile(const QString &path, qsizetype largest, const QString &what, const QString &tooLarge,
                       QString *error, int *exitCode)
{
    const auto fail = [&](int code, const QString &why) {
        *error = why;
        *exitCode = code;
        return QByteArray();
    };
    // Only a regular file: a device never ends, and a pipe with no writer never answers.
    const durablefile::Target target = durablefile::targetOf(path);
    if (!target.error.isEmpty() || !QFileInfo::exists(target.value))
        return fail(FilesFailed, u"Could not read %1: %2"_s.arg(
                                     path, target.error.isEmpty() ? durablefile::reason(ENOENT) : target.error));
    // The kernel's files (/proc/self/environ) hold the command's own environment,
    // passwords included: one slip would send them with every item reply.
    const QString canonical = QFileInfo(target.value).canonicalFilePath();
    if (canonical.startsWith(u"/proc/"_s) || canonical.startsWith(u"/sys/"_s))
        return fail(Refused, u"%1 is one of the kernel's files, not %2: nothing was changed."_s.arg(path, what));
    QFile file(target.value);
    if (!file.open(QIODevice::ReadOnly))
        return fail(FilesFailed, u"Could not read %1: %2"_s.arg(path, file.errorString()));
    QByteArray bytes = file.read(largest + 1);
    if (bytes.size() > largest)
        return fail(Refused, tooLarge);
    return bytes;
}

// A message file as a person writes it (UTF-8, LF or CR LF line ends) in the
// form message.txt keeps it: CR LF between lines, no line end after the last.
QString messageFromFile(const QString &path, QString *error, int *exitCode)
{
    // The message goes with every item reply, and one reply carries no more.
    const QByteArray bytes = regularFile(
        path, ServingTexts::LongestMessageBytes, u"a message"_s,
        u"%1 is larger than the %2 KiB a server message can be: it goes with every item reply, and one reply carries "
        u"no more. Shorten it."_s.arg(path)
            .arg(ServingTexts::LongestMessageBytes / 1024),
        error, exitCode);
    if (!error->isEmpty())
        return {};
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        *error = u"%1 is not UTF-8 text: nothing was changed."_s.arg(path);
        *exitCode = Refused;
        return {};
    }
    text.replace(u"\r\n"_s, u"\n"_s);
    if (text.endsWith(u'\n'))
        text.chop(1);
    text.replace(u'\n', u"\r\n"_s);
    return text;
}

// Writes the catalogue to a file (JSON or CSV by its extension) or, for "-",
// to standard output as JSON; the file appears whole or not at all.
int exportCatalogue(const Catalogue &catalogue, const QString &path)
{
    using CatalogueTransfer::Format;
    if (path == u"-") {
        out() << CatalogueTransfer::write(catalogue.descriptions(), catalogue.addresses(), Format::Json) << '\n';
        return ExitCode::Success;
    }
    const Format format = CatalogueTransfer::formatOf(path);
    if (format == Format::Plain) {
        err() << u"--export writes JSON (a name ending in .json) or CSV (.csv), or JSON to standard output (-); %1 "
                 u"is neither."_s.arg(path)
              << '\n';
        return UsageError;
    }
    const durablefile::Target target = durablefile::targetOf(path);
    if (!target.error.isEmpty()) {
        err() << u"Could not write %1: %2"_s.arg(path, target.error) << '\n';
        return FilesFailed;
    }
    durablefile::NewFile file(target.value, path);
    file.write(CatalogueTransfer::write(catalogue.descriptions(), catalogue.addresses(), format));
    FileResult written = file.finish();
    if (written.ok())
        written = durablefile::moveIntoPlace(file.path(), target.value, path);
    if (!written.ok()) {
        err() << written.error << '\n';
        return FilesFailed;
    }
    out() << u"Exported %1 items to %2"_s.arg(catalogue.itemCount()).arg(path) << '\n';
    return ExitCode::Success;
}

// Checks every http and https address, with a progress line on a terminal,
// and lists what is dead, doubtful or skipped.
int checkLinks(const Catalogue &catalogue)
{
    const NetworkConfig::Parsed settings = NetworkConfig::load(catalogue.folder().path());
    if (!settings.error.isEmpty()) {
        err() << settings.error << '\n';
        return UsageError;
    }
    LinkChecker::Limits limits;
    limits.checkPrivate = settings.value && settings.value->linkCheck.checkPrivate;
    const QList<LinkChecker::Link> links = LinkChecker::linksOf(catalogue.addresses());
    LinkChecker checker(limits);
    QEventLoop loop;
    QList<LinkChecker::Result> results;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    QObject::connect(&checker, &LinkChecker::progress, &loop, [terminal](int done, int total) {
        if (terminal)
            err() << u"\rChecking links: %1 of %2"_s.arg(done).arg(total) << Qt::flush;
    });
    QObject::connect(&checker, &LinkChecker::finished, &loop, [&](const QList<LinkChecker::Result> &found) {
        results = found;
        loop.quit();
    });
    checker.check(links);
    loop.exec();
    if (terminal && !results.isEmpty())
        err() << '\n';
    int answered = 0;
    int failed = 0;
    for (const LinkChecker::Result &result : std::as_const(results)) {
        if (result.verdict == LinkChecker::Verdict::Alive) {
            ++answered;
            continue;
        }
        if (result.verdict != LinkChecker::Verdict::Skipped)
            ++failed;
        const char *what = result.verdict == LinkChecker::Verdict::Dead       ? "dead"
                           : result.verdict == LinkChecker::Verdict::Doubtful ? "doubtful"
                                                                              : "not checked";
        out() << result.item << ") " << result.address << ": " << what << ", " << result.found << '\n';
    }
    out() << u"Checked %1 links: %2 answered, %3 dead or doubtful, %4 skipped."_s.arg(results.size())
                 .arg(answered)
                 .arg(failed)
                 .arg(results.size() - answered - failed)
          << '\n';
    return failed == 0 ? ExitCode::Success : Refused;
}

// Reads the admin password (twice, without echo, from a terminal) and prints
// its Argon2id hash; the password itself is written nowhere.
int hashPasswordCommand()
{
#ifdef VALDRIN_HAVE_WEB
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    const auto readLine = [terminal](const char *prompt) {
        termios saved{};
        if (terminal) {
            std::fputs(prompt, stderr);
            ::tcgetattr(STDIN_FILENO, &saved);
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
        std::string line;
        std::getline(std::cin, line);
        if (terminal) {
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
            std::fputs("\n", stderr);
        }
        return QByteArray::fromStdString(line);
    };
    const QByteArray password = readLine("Password for the admin page: ");
    if (password.isEmpty()) {
        err() << "No password was given: nothing to hash.\n";
        return UsageError;
    }
    if (terminal && readLine("The same again: ") != password) {
        err() << "The two passwords differ: nothing was hashed.\n";
        return UsageError;
    }
    const QByteArray hash = AdminPassword::hash(password);
    if (hash.isEmpty()) {
        err() << "The password could not be hashed (too little memory?).\n";
        return FilesFailed;
    }
    out() << "http-admin-password-hash = " << hash << '\n';
    return ExitCode::Success;
#else
    err() << "This build of the program has no web face (it was built without libmicrohttpd).\n";
    return UsageError;
#endif
}

} // namespace

int runCatalogueCommand(const StartupOptions &options)
{
    using Command = StartupOptions::Command;
    if (options.command == Command::HashPassword)
        return hashPasswordCommand();
    const DataFolder folder(options.dataFolder);
    // Everything the catalogue would log is printed here once, as the command's own words.
    QLoggingCategory::setFilterRules(u"valdrin.catalogue.warning=false\nvaldrin.catalogue.info=false"_s);
    StringRowList descriptions;
    StringRowList addresses;
    Catalogue catalogue(descriptions, addresses, folder);
    const ServerMessageFile message(folder, std::make_shared<ValdrinBas>());
    {
        // The start-up load finishes a save another program left half done: under the lock.
        QLockFile lock(folder.lockPath());
        if (!lock.tryLock(LockWaitMs)) {
            const QString problem = durablefile::folderProblem(folder.path());
            if (problem.isEmpty()) {
                err() << u"The catalogue in %1 is being changed by another program (it holds %2). Try again in a "
                         u"moment.\n"_s.arg(folder.path(), folder.lockPath());
                return FilesFailed;
            }
            // A folder nobody can write in needs no lock to be read.
            const bool readsOnly = options.command == Command::List || options.command == Command::Export ||
                                   options.command == Command::CheckLinks;
            if (!readsOnly) {
                err() << u"Nothing was changed: the program cannot write in %1 (%2).\n"_s.arg(folder.path(), problem);
                return FilesFailed;
            }
        }
        QStringList problems = catalogue.load();
        if (const FileResult read = message.load(); !read.ok())
            problems.append(read.error);
        // Replies the message in use makes too long: a change of the message
        // says it of the new one, and an add of its own item.
        if (options.command == Command::List) {
            if (const QString cut = CatalogueChange::cutReplies(catalogue, message.current(), 0, catalogue.itemCount());
                !cut.isEmpty())
                problems.append(cut);
        }
        if (catalogue.filesHeld()) {
            err() << problems.join(u'\n') << '\n';
            return FilesFailed;
        }
        for (const QString &problem : problems)
            err() << problem << '\n';
    }

    const QStringList &values = options.commandValues;
    CatalogueChange::Change change;
    switch (options.command) {
    case Command::List:
        return listItems(descriptions, addresses, catalogue.unmatchedRows());
    case Command::Export:
        if (const QString unmatched = catalogue.unmatchedRows(); !unmatched.isEmpty())
            err() << unmatched << '\n';
        return exportCatalogue(catalogue, values.value(0));
    case Command::CheckLinks:
        return checkLinks(catalogue);
    case Command::Import: {
        QString error;
        int exitCode = FilesFailed;
        const QString path = values.value(0);
        const QByteArray bytes = regularFile(
            path, CatalogueTransfer::LargestFileBytes, u"a catalogue"_s,
            u"%1 is larger than the %2 MiB a catalogue file can be (32,767 items of the longest replies take less): "
            u"nothing was imported."_s.arg(path)
                .arg(CatalogueTransfer::LargestFileBytes / 1024 / 1024),
            &error, &exitCode);
        if (!error.isEmpty()) {
            err() << error << '\n';
            return exitCode;
        }
        CatalogueTransfer::Read read = CatalogueTransfer::read(bytes, CatalogueTransfer::formatOf(path));
        if (!read.error.isEmpty()) {
            err() << u"Nothing was imported: %1 cannot be read: %2."_s.arg(path, read.error) << '\n';
            return Refused;
        }
        change = CatalogueChange::ImportItems{std::move(read.items), options.replace, options.check};
        break;
    }
    case Command::Add:
        change = CatalogueChange::AddItem{values.value(0), values.value(1)};
        break;
    case Command::Remove: {
        bool number = false;
        const int item = values.value(0).toInt(&number);
        if (!number) {
            err() << u"There is no item %1; --list shows the items and their numbers.\n"_s.arg(values.value(0));
            return Refused;
        }
        change = CatalogueChange::RemoveItem{CatalogueChange::SeenItem::numbered(item)};
        break;
    }
    case Command::Message:
        change = CatalogueChange::SetMessage{values.value(0)};
        break;
    case Command::MessageFile: {
        QString error;
        int exitCode = FilesFailed;
        const QString text = messageFromFile(values.value(0), &error, &exitCode);
        if (!error.isEmpty()) {
            err() << error << '\n';
            return exitCode;
        }
        change = CatalogueChange::SetMessage{text};
        break;
    }
    case Command::Serve:
    case Command::HashPassword:
        return ExitCode::Success;
    }

    const CatalogueChange::Outcome outcome = CatalogueChange::apply({catalogue, message}, change, LockWaitMs);
    using Result = CatalogueChange::Outcome::Result;
    if (!outcome.notes.isEmpty())
        err() << outcome.notes << '\n';
    if (outcome.changed()) {
        out() << outcome.told << '\n';
        return ExitCode::Success;
    }
    err() << outcome.told
          << (outcome.result == Result::Refused && options.command == Command::Remove
                  ? u" --list shows the items and their numbers."_s
                  : QString())
          << '\n';
    switch (outcome.result) {
    case Result::Refused:
        return Refused;
    case Result::Unstorable:
        return UsageError;
    case Result::Changed:
    case Result::Unsaved:
    case Result::FilesFailed:
        break;
    }
    return FilesFailed;
}
