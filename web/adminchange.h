#pragma once

#include "catalogue/cataloguechanges.h"

#include <QString>

#include <variant>

// A change the operator asks for on the admin page (of the catalogue, or of a
// room's serving); the chat thread makes it and answers with what to tell the operator.
namespace AdminChange {

// Serving in one room switched on or off.
struct SwitchRoom
{
    QString connection;
    QString room;
    bool on = false;
};

using Change = std::variant<CatalogueChange::AddItem, CatalogueChange::EditItem, CatalogueChange::RemoveItem,
                            CatalogueChange::SetMessage, SwitchRoom>;

// What the chat thread answers: what to tell the operator, and the item the
// change left in view (the one added or changed), so the page opens there.
struct Told
{
    QString text;
    int item = -1;
    bool refused = false; // nothing was changed
};

} // namespace AdminChange
