#include "catalogue/pairsave.h"

#include "platform/durablefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

using namespace Qt::StringLiterals;
using durablefile::NewFile;

namespace {

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

bool present(const QString &path)
{
    struct stat info
    {
    };
    return ::lstat(native(path).constData(), &info) == 0;
}

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

// What the operator is told after a save that changed nothing on disk.
QString unchanged(const QString &error, const std::array<pairsave::ListFile, 2> &files)
{
    return u"%1. %2 and %3 were not changed: they hold the catalogue as it was last saved."_s.arg(
        error, fileName(files[0].path), fileName(files[1].path));
}

} // namespace

namespace pairsave {

FileResult save(const QString &journalPath, const std::array<ListFile, 2> &files)
{
    std::array<durablefile::Target, 2> targets;
    for (size_t i = 0; i < files.size(); ++i) {
        targets[i] = durablefile::targetOf(files[i].path);
        if (!targets[i].error.isEmpty()) {
            return {unchanged(durablefile::writeFailure(files[i].path, targets[i].error + u"; it was left as it is"_s),
                              files)};
        }
    }

    // Both new files, whole and on the disk, before anything is replaced.
    std::array<std::unique_ptr<NewFile>, 2> written;
    const auto discard = [&](const QString &error) {
        for (const auto &file : written) {
            if (file)
                ::unlink(native(file->path()).constData());
        }
        return FileResult{unchanged(error, files)};
    };
    for (size_t i = 0; i < files.size(); ++i) {
        written[i] = std::make_unique<NewFile>(targets[i].value, files[i].path);
        addon::WriteRows(*written[i], *files[i].rows, files[i].byteOrderMark);
        if (const FileResult finished = written[i]->finish(); !finished.ok())
            return discard(finished.error);
    }
    {
        NewFile journal(journalPath, journalPath);
        journal.write(u"Replacing %1 and %2\n"_s.arg(files[0].path, files[1].path).toUtf8());
        FileResult marked = journal.finish();
        if (marked.ok())
            marked = durablefile::moveIntoPlace(journal.path(), journalPath, journalPath);
        if (!marked.ok())
            return discard(marked.error);
    }

    // From here the journal finishes the pair if the program stops.
    const auto unmark = [&] {
        ::unlink(native(journalPath).constData());
        durablefile::syncFolder(QFileInfo(journalPath).absolutePath());
    };
    if (const FileResult first = durablefile::moveIntoPlace(written[0]->path(), targets[0].value, files[0].path);
        !first.ok()) {
        unmark();
        return discard(first.error);
    }
    if (const FileResult second = durablefile::moveIntoPlace(written[1]->path(), targets[1].value, files[1].path);
        !second.ok()) {
        return {
            u"%1. %2 already holds the new catalogue; %3 still holds the old one until the program finishes "
            u"replacing it at its next start."_s.arg(second.error, fileName(files[0].path), fileName(files[1].path))};
    }
    unmark();
    return {};
}

Recovery recover(const QString &journalPath, const std::array<QString, 2> &paths, bool removeUnfinished)
{
    const bool journal = present(journalPath);
    if (!journal && !removeUnfinished)
        return {};
    // A journal still being written when the program stopped marks nothing.
    ::unlink(native(durablefile::newPathFor(journalPath)).constData());
    bool found = false;
    for (const QString &path : paths) {
        const durablefile::Target target = durablefile::targetOf(path);
        if (!target.error.isEmpty())
            continue; // reported when the file is read
        const QString newPath = durablefile::newPathFor(target.value);
        if (!present(newPath))
            continue;
        found = true;
        if (!journal) {
            ::unlink(native(newPath).constData());
            continue;
        }
        if (const FileResult moved = durablefile::moveIntoPlace(newPath, target.value, path); !moved.ok()) {
            return {{},
                    u"The last save of the catalogue was interrupted and could not be finished: %1. Both new "
                    u"files and %2 are kept; make the folder writable and start the program again."_s.arg(
                        moved.error, QDir::toNativeSeparators(journalPath))};
        }
    }
    if (journal) {
        ::unlink(native(journalPath).constData());
        durablefile::syncFolder(QFileInfo(journalPath).absolutePath());
        return {u"The last save of the catalogue was interrupted after both files were written; it was finished "
                u"now."_s,
                {}};
    }
    if (!found)
        return {};
    durablefile::syncFolder(QFileInfo(paths[0]).absolutePath());
    return {u"Unfinished new catalogue files were removed"_s,
            u"The last save of the catalogue did not finish (the program stopped while writing it): %1 and %2 hold "
            u"the catalogue as it was before that save, so the last change made then is not in them."_s.arg(
                fileName(paths[0]), fileName(paths[1]))};
}

} // namespace pairsave
