#pragma once

#include <QString>

class RowList;

// What a file routine did: nothing to report, or what failed and why.
struct FileResult
{
    // Empty when the routine succeeded; otherwise names the file and the reason.
    QString error;

    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};

// The text of a whole file, or what stopped it from being read.
struct TextFileContents
{
    QString text;
    QString error;

    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};

// Utility routines shared by the windows, the catalogue and the serving engine.
// Text files hold one value or one row per line; every line written ends in CR LF,
// and a line read ends at CR LF or at a lone CR (a lone LF stays in the line).
// The window routines (FormDrag, StayOnTop, OpenDocument) are in addonwindow.h.
namespace addon {

// Waits the given number of seconds while the program goes on handling its events.
// The wait sleeps on a timer, so it costs no CPU. Zero or less returns at once
// without handling any event; once the program is quitting it returns at once too.
void Pause(double seconds);

// True for a regular file that is not hidden; a folder or a hidden file counts as absent.
[[nodiscard]] bool FileExists(const QString &path);

// Replaces the file with the value followed by CR LF. The old file stays whole
// until the new one is complete, so a failed write never leaves half a file.
[[nodiscard]] FileResult WriteTextFile(const QString &path, const QString &value);

// The whole file less one final CR LF, or empty text when the file does not exist.
[[nodiscard]] TextFileContents ReadTextFile(const QString &path);

// Appends one row per line of the file to the list. A missing file adds nothing;
// a file that cannot be read adds nothing and says why.
[[nodiscard]] FileResult LoadList(const QString &path, RowList &list);

// Replaces the file with one line per row of the list, in order; no rows, no bytes.
[[nodiscard]] FileResult SaveList(const QString &path, const RowList &list);

} // namespace addon
