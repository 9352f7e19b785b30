#pragma once

#include "catalogue/datafolder.h"

#include "platform/addon.h"

#include <QStringList>

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

    // The start-up load: appends the rows of descriptions.dat and urls.dat. Returns one
    // sentence per file that exists but could not be read; such files are never overwritten.
    [[nodiscard]] QStringList load();

    // Reads both list files again, together, for a server whose files someone
    // else edits. The lists change only when both files could be read; the
    // error says why they did not.
    [[nodiscard]] FileResult reload();

    // Writes both lists back to their files, descriptions first.
    [[nodiscard]] FileResult save();

    // Appends an item at the end of both lists and saves. An empty description or
    // address is ignored; an add past the largest catalogue is refused.
    [[nodiscard]] CatalogueEdit add(const QString &description, const QString &address);

    // Removes the address row, then the description row, and saves.
    [[nodiscard]] CatalogueEdit remove(int descriptionRow, int addressRow);

    [[nodiscard]] int itemCount() const;
    // True when a change made here has not reached the files yet.
    [[nodiscard]] bool hasUnsavedChanges() const { return m_unsaved; }
    [[nodiscard]] const DataFolder &folder() const { return m_folder; }
    // True when a list file could not be read at start, so the files are left alone.
    [[nodiscard]] bool filesHeld() const { return !m_heldBecause.isEmpty(); }

    // The caption of the item count label: "Server Items: " and the count.
    [[nodiscard]] static QString countCaption(int count);

private:
    [[nodiscard]] CatalogueEdit savedEdit();

    RowList &m_descriptions;
    RowList &m_addresses;
    DataFolder m_folder;
    QString m_heldBecause;
    bool m_unsaved = false;
};
