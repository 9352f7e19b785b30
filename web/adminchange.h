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

struct EditItem
{
    int item = -1;
    QString description;
    QString address;
};

struct RemoveItem
{
    int item = -1;
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

} // namespace AdminChange
