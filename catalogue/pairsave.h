#pragma once

#include "platform/addon.h"

#include <array>

class RowList;

// The two list files saved as one. Both new files are written and flushed
// first; then a journal file marks that both are complete; then each replaces
// its file, and the journal goes. A start that finds the journal finishes the
// replacing; one that finds new files without a journal removes them. After a
// crash at any moment the two files are both old or both new.
namespace pairsave {

struct ListFile
{
    QString path;
    const RowList *rows = nullptr;
    bool byteOrderMark = false;
};

// Saves both files; on failure the error says what the files on disk hold.
[[nodiscard]] FileResult save(const QString &journalPath, const std::array<ListFile, 2> &files);

// What the start found of a save that did not finish: for the log, what was
// done (the value; empty when no save was interrupted), and for the operator a
// save that was lost or a journal that could not be followed (the error).
using Recovery = Result<QString>;
// Finishes a save the journal marks complete. New files without a journal are
// removed only when `removeUnfinished` (at start: another program saving into
// the folder right now would lose its files).
[[nodiscard]] Recovery recover(const QString &journalPath, const std::array<QString, 2> &paths, bool removeUnfinished);

} // namespace pairsave
