#pragma once

#include "platform/addon.h"

#include <QByteArray>
#include <QString>

// Files replaced whole and durably. The new content goes to a file named
// NAME.valdrin-new beside the file (beside the file a symbolic link names, when the
// name is a link); it is flushed to the disk, then renamed over the file, and
// the folder is flushed after the rename. A crash or a power cut at any moment
// leaves the old file or the new one, never a mix or an empty file.
namespace durablefile {

// What a save of a path replaces (the value): the path itself, or the regular
// file a symbolic link names. A folder, pipe, socket, device or broken link
// under the name is never replaced: then there is no path and the error says
// why ("it is a folder, not a file").
using Target = Result<QString>;
[[nodiscard]] Target targetOf(const QString &path);

// Why a file routine's system call failed, in the operator's words.
[[nodiscard]] QString reason(int error);
// "Could not write FILE: REASON", with the file as the system shows it.
[[nodiscard]] QString writeFailure(const QString &path, const QString &reason);

// Why nothing can be written in the folder (a read-only or full disk, no
// permission); empty text when nothing is known to stop a write.
[[nodiscard]] QString folderProblem(const QString &folder);

// The name a new file is written under before it replaces the target.
[[nodiscard]] QString newPathFor(const QString &target);

// The new content of a target, written in pieces. Nothing touches the target:
// the content reaches it through moveIntoPlace. An unfinished file is removed.
class NewFile final
{
public:
    // `shownName` is the name errors give (the name the operator knows).
    NewFile(const QString &target, const QString &shownName);
    ~NewFile();
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;

    [[nodiscard]] const QString &path() const { return m_path; }

    // Appends bytes; after the first failure nothing more is written.
    void write(QByteArrayView bytes);
    // Writes what is buffered, flushes the file to the disk and closes it.
    [[nodiscard]] FileResult finish();

private:
    void flush();
    void writeOut(QByteArrayView bytes);
    void fail(int error);

    QString m_path;
    QString m_shownName;
    int m_fd = -1;
    QByteArray m_buffer;
    qsizetype m_used = 0;
    QString m_error;
    bool m_finished = false;
};

// Renames the new file over the target, then flushes the target's folder.
[[nodiscard]] FileResult moveIntoPlace(const QString &newPath, const QString &target, const QString &shownName);

// Flushes a folder, so the names renamed or removed in it last a power cut.
void syncFolder(const QString &folder);

} // namespace durablefile
