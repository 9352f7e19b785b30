#pragma once

#include "platform/result.h"

#include <QString>

class RowList;

namespace durablefile {
class NewFile;
}

// What a file routine did: nothing to report, or what failed and why (the
// file and the reason).
using FileResult = Result<>;

// The text of a whole file, or what stopped it from being read.
using TextFileContents = Result<QString>;

// How a row file was written, as far as writing it back needs to know.
struct RowFileFormat
{
    // The file began with a UTF-8 byte-order mark (kept out of the first row).
    bool byteOrderMark = false;
    // Rows that were not UTF-8 and were read as Windows-1252; they are written back as UTF-8.
    int convertedRows = 0;
};

// Utility routines shared by the windows, the catalogue and the serving engine.
// Text files hold one value or one row per line; every line written ends in CR LF,
// and a line read ends at CR LF or at a lone CR (a lone LF stays in the line).
// Files are written in UTF-8; a line read that is not valid UTF-8 is read as
// Windows-1252, so no byte is lost or replaced.
// The window routines (FormDrag, StayOnTop, OpenDocument) are in windows/addonwindow.h.
namespace addon {

// The text of bytes that are not valid UTF-8: Windows-1252, the code page old
// Windows systems wrote; its five undefined bytes stand for the Latin-1 code
// points of the same value.
[[nodiscard]] QString fromWindows1252(QByteArrayView bytes);
// The text of a line or a cell: UTF-8 when it is valid UTF-8, otherwise
// Windows-1252 (and converted, when given, is set).
[[nodiscard]] QString textOfBytes(QByteArrayView bytes, bool *converted = nullptr);

// Waits the given number of seconds while the program goes on handling its events.
// The wait sleeps on a timer, so it costs no CPU. Zero or less returns at once
// without handling any event; once the program is quitting it returns at once too.
void Pause(double seconds);

// True for a regular file that is not hidden; a folder or a hidden file counts as absent.
[[nodiscard]] bool FileExists(const QString &path);

// Replaces the file with the value followed by CR LF. The old file stays whole
// until the new one is complete and on the disk, so a failed write or a crash
// never leaves half a file. A folder, pipe or broken link under the name is never
// replaced; a symbolic link to a file has its file replaced.
[[nodiscard]] FileResult WriteTextFile(const QString &path, const QString &value);

// The whole file less one final CR LF, or empty text when the file does not exist.
[[nodiscard]] TextFileContents ReadTextFile(const QString &path);

// Appends one row per line of the file to the list. A missing file adds nothing;
// a file that cannot be read (or a folder, pipe or broken link under its name)
// adds nothing and says why. `format`, when given, learns how the file was written.
[[nodiscard]] FileResult LoadList(const QString &path, RowList &list, RowFileFormat *format = nullptr);

// Replaces the file, as WriteTextFile does, with one line per row of the list,
// in order; no rows, no bytes (but the byte-order mark, when asked for).
[[nodiscard]] FileResult SaveList(const QString &path, const RowList &list, bool byteOrderMark = false);

// Writes the lines SaveList writes into a new file that is not in place yet.
void WriteRows(durablefile::NewFile &file, const RowList &list, bool byteOrderMark);

} // namespace addon
