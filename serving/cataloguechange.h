#pragma once

#include <QString>

#include <optional>
#include <variant>

#include "catalogue/catalogue.h"
#include "catalogue/cataloguechanges.h"
#include "serving/servermessage.h"

// Makes one change of the catalogue or the server message (cataloguechanges.h),
// whichever face asks for it: the main window, a catalogue command, the admin page.
namespace CatalogueChange {

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
