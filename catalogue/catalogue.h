#pragma once

#include "catalogue/datafolder.h"

#include "platform/addon.h"

#include <QStringList>

#include <array>

class RowList;

// What an edit of the catalogue did, and what the operator should be told of it.
struct CatalogueEdit
{
    // True when the lists changed.
    bool done = false;
    // Why the edit was refused, or, after a change, why it could not be saved; empty when
    // there is nothing to tell (an add with an empty box is ignored without a word).
    QString message;
};

// The catalogue: two parallel row lists (descriptions and web addresses) and
// their files. Loads them at start, saves them after every change and at close.
class Catalogue final
{
public:
    // Item numbers are signed 16-bit in the files' world, so no add goes past this.
    static constexpr int MaximumItems = 32767;

    Catalogue(RowList &descriptions, RowList &addresses, DataFolder folder);

    // The start-up load: finishes or undoes a save that a crash interrupted, then appends
    // the rows of descriptions.dat and urls.dat. Returns what the operator should know: a
    // file that exists but could not be read (such files are never overwritten), rows
    // read as Windows-1252, a save that was lost.
    [[nodiscard]] QStringList load();

    // Reads both list files again, together, for a server whose files someone
    // else edits. The lists change only when both files could be read; the
    // error says why they did not.
    [[nodiscard]] FileResult reload();

    // Before a change: reads the files again when another program changed them
    // since this catalogue last read or wrote them, so the change applies to
    // what they hold now. A change of this catalogue's own not yet saved stays
    // (it is saved with the next one), and so do files held since the start.
    [[nodiscard]] FileResult refresh();

    // Writes both lists back to their files as one: after a failure or a crash the
    // two files are both old or both new. A failure says what the files hold.
    [[nodiscard]] FileResult save();

    // What is wrong with a description or address ("what" names it) that a row
    // of the files could not hold or a member would get apart: a control
    // character, a line or paragraph separator. Empty text when it can be stored.
    [[nodiscard]] static QString checkValue(const QString &text, const QString &what);

    // Appends an item at the end of both lists and saves. An empty description or
    // address is ignored; an add past the largest catalogue is refused, and so is
    // one while the lists are out of step (its address would pair with another row),
    // one that checkValue refuses, and a blank address.
    [[nodiscard]] CatalogueEdit add(const QString &description, const QString &address);

    // Appends the items, a description and an address each (or puts them in
    // place of every item), and saves once.
    // The caller has checked each value as add() does; refused past the
    // largest catalogue, or while the lists are out of step and kept.
    [[nodiscard]] CatalogueEdit addItems(const QStringList &descriptions, const QStringList &addresses, bool replace);

    // Removes the address row, then the description row, and saves.
    [[nodiscard]] CatalogueEdit remove(int descriptionRow, int addressRow);
    // Gives an item a new description and address, checked as add checks them, and saves.
    [[nodiscard]] CatalogueEdit replace(int item, const QString &description, const QString &address);

    // When the two lists hold different numbers of rows: what the operator should
    // know of the rows without a partner; empty when the lists are in step.
    [[nodiscard]] QString unmatchedRows() const;
    // Removes the rows that have no partner in the other list, and saves.
    [[nodiscard]] CatalogueEdit removeUnmatchedRows();

    [[nodiscard]] int itemCount() const;
    [[nodiscard]] const RowList &descriptions() const { return m_descriptions; }
    [[nodiscard]] const RowList &addresses() const { return m_addresses; }
    // True when a change made here has not reached the files yet.
    [[nodiscard]] bool hasUnsavedChanges() const { return m_unsaved; }
    [[nodiscard]] const DataFolder &folder() const { return m_folder; }
    // True when a list file could not be read at start, so the files are left alone.
    [[nodiscard]] bool filesHeld() const { return !m_heldBecause.isEmpty(); }

private:
    // What the list files are on disk (which file, its size and time), to tell
    // whether another program wrote them.
    struct FileStamp
    {
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modifiedNs = 0;
        bool operator==(const FileStamp &) const = default;
    };
    using FileStamps = std::array<FileStamp, 2>;
    [[nodiscard]] FileStamps stampFiles() const;

    [[nodiscard]] CatalogueEdit savedEdit();
    // Appends a file's rows, notes how it was written and tells of converted rows;
    // returns why the file could not be read, or empty text.
    [[nodiscard]] QString loadFile(const QString &path, RowList &list, RowFileFormat &format, QStringList &told);
    void logMismatch() const;

    RowList &m_descriptions;
    RowList &m_addresses;
    DataFolder m_folder;
    // How each file was written: a byte-order mark there stays there.
    RowFileFormat m_descriptionsFormat;
    RowFileFormat m_addressesFormat;
    QString m_heldBecause;
    bool m_unsaved = false;
    // The files as this catalogue last read or wrote them.
    FileStamps m_seen;
};
