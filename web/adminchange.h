#pragma once

#include "catalogue/cataloguechanges.h"

#include <QByteArray>
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

// A catalogue file sent from the browser, to read and import (as --import
// does): its name tells its format.
struct ImportFile
{
    QString fileName;
    QByteArray bytes;
    bool replace = false;
    bool dryRun = false;
};

using Change = std::variant<CatalogueChange::AddItem, CatalogueChange::EditItem, CatalogueChange::RemoveItem,
                            CatalogueChange::SetMessage, SwitchRoom, ImportFile>;

// What the chat thread answers: what to tell the operator, and the item the
// change left in view (the one added or changed), so the page opens there.
struct Told
{
    QString text;
    int item = -1;
    bool refused = false; // nothing was changed
};

} // namespace AdminChange
