#pragma once

#include "catalogue/cataloguetransfer.h"

#include <QList>
#include <QString>

#include <optional>
#include <variant>

// The changes of the catalogue or the server message that a person asks for,
// in the main window, with a catalogue command or on the admin page. Below
// both the engine, which makes them, and the web face, which asks for them.
namespace CatalogueChange {

struct AddItem
{
    QString description;
    QString address;
};

// An item as the person saw it when asking: its rows, and what they held then
// (none: whatever they hold). When the rows hold something else now (another
// change came first), nothing is changed.
struct SeenItem
{
    int descriptionRow = -1;
    int addressRow = -1;
    std::optional<QString> description;
    std::optional<QString> address;

    // The same item in both lists, as the commands and the admin page name it.
    [[nodiscard]] static SeenItem numbered(int item, std::optional<QString> description = {},
                                           std::optional<QString> address = {})
    {
        return {item, item, std::move(description), std::move(address)};
    }
};

struct EditItem
{
    SeenItem item;
    QString description;
    QString address;
};

struct RemoveItem
{
    SeenItem item;
};

struct SetMessage
{
    QString text;
};

// Many items at once, from a file: appended, or in place of the whole
// catalogue. Every item is checked as an add is before any is taken; one that
// cannot be refuses them all.
struct ImportItems
{
    QList<CatalogueTransfer::Item> items;
    bool replace = false;
    // Only say what would change.
    bool dryRun = false;
};

using Change = std::variant<AddItem, EditItem, RemoveItem, SetMessage, ImportItems>;

} // namespace CatalogueChange
