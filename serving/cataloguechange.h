#pragma once

#include <QString>

#include <optional>
#include <variant>

#include "catalogue/catalogue.h"
#include "serving/servermessage.h"

// One change of the catalogue or the server message, whichever face asks for
// it: the main window, a catalogue command, the admin page.
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

using Change = std::variant<AddItem, EditItem, RemoveItem, SetMessage>;

// How a change went, and what to tell the person who asked for it.
struct Outcome
{
    enum class Result {
        Changed,
        // The catalogue refused: no such item, the catalogue changed since it
        // was seen, full, or nothing given.
        Refused,
        // A value no row of the files can hold (a line break, a blank address).
        Unstorable,
        // The change was made in memory but could not be saved; notes say why.
        Unsaved,
        // The files could not be locked or read, or the message not written;
        // nothing was changed.
        FilesFailed,
    };
    Result result = Result::Changed;
    // What happened: "Added item 3: …", or why nothing was changed.
    QString told;
    // What else the person should know: an item whose reply reaches members
    // cut, or why a change made in memory could not be saved.
    QString notes;

    [[nodiscard]] bool changed() const { return result == Result::Changed; }
};

// What a change works on: the catalogue and the server message's file (a
// LinkServer's, or a catalogue command's own).
struct Target
{
    Catalogue &catalogue;
    const ServerMessageFile &message;
};

// What to tell the operator about the items in [first, end) whose reply is
// longer than one message carries (they reach members cut); empty when none is.
[[nodiscard]] QString cutReplies(const Catalogue &catalogue, const QString &serverMessage, int first, int end);

// Takes the catalogue's lock (waiting up to lockWaitMs for another program's
// change), reads the files again when another program changed them, applies
// the change and saves the two list files as one. The list pages stay as they
// are: each face rebuilds them when its own rules say.
[[nodiscard]] Outcome apply(Target target, const Change &change, int lockWaitMs);

} // namespace CatalogueChange
