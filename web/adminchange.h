#pragma once

#include <QString>

#include <variant>

// A change the operator asks for on the admin page; the chat thread makes it
// and answers with what to tell the operator.
namespace AdminChange {

struct AddItem
{
    QString description;
    QString address;
};

// An item as the operator's page showed it: its number, and what it held
// then. A change is made only while the item still holds that.
struct SeenItem
{
    int item = -1;
    QString description;
    QString address;
};

struct EditItem
{
    SeenItem seen;
    QString description;
    QString address;
};

struct RemoveItem
{
    SeenItem seen;
};

struct SetMessage
{
    QString text;
};

// Serving in one room switched on or off.
struct SwitchRoom
{
    QString connection;
    QString room;
    bool on = false;
};

using Change = std::variant<AddItem, EditItem, RemoveItem, SetMessage, SwitchRoom>;

// What the chat thread answers: what to tell the operator, and the item the
// change left in view (the one added or changed), so the page opens there.
struct Told
{
    QString text;
    int item = -1;
    bool refused = false; // nothing was changed
};

} // namespace AdminChange
