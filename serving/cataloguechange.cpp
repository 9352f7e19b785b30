#include "serving/cataloguechange.h"

#include "serving/linkserver.h"

#include "platform/durablefile.h"
#include "platform/rowlist.h"

#include <QLockFile>

using namespace Qt::StringLiterals;

namespace CatalogueChange {

namespace {

using Result = Outcome::Result;

Outcome refused(Result result, QString told)
{
    return {result, std::move(told), {}};
}

// After a change made in memory: saved, or why the files stay as they were.
Outcome saved(LinkServer &server, const CatalogueEdit &edit, QString told, const QString &nothing)
{
    if (server.catalogue().hasUnsavedChanges())
        return {Result::Unsaved, nothing + u" the files stay as they were."_s, edit.message};
    return {Result::Changed, std::move(told), edit.message};
}

// The rows the person saw, unless another change came first.
QString staleItem(LinkServer &server, const SeenItem &seen, int shownNumber)
{
    const RowList &descriptions = server.descriptions();
    const RowList &addresses = server.addresses();
    const bool inDescriptions = seen.descriptionRow >= 0 && seen.descriptionRow < descriptions.ListCount();
    const bool inAddresses = seen.addressRow >= 0 && seen.addressRow < addresses.ListCount();
    if (!inDescriptions && !inAddresses)
        return u"There is no item %1."_s.arg(shownNumber);
    const auto differs = [](const std::optional<QString> &seenText, bool there, const RowList &rows, int row) {
        return seenText && *seenText != (there ? rows.List(row) : QString());
    };
    if (differs(seen.description, inDescriptions, descriptions, seen.descriptionRow) ||
        differs(seen.address, inAddresses, addresses, seen.addressRow))
        return u"The catalogue changed since this page was loaded; nothing was changed."_s;
    return {};
}

Outcome add(LinkServer &server, const AddItem &change)
{
    // What a row cannot hold is refused before anything else, so the files never go out of step.
    for (const auto &[value, what] :
         {std::pair{&change.description, u"description"_s}, std::pair{&change.address, u"address"_s}}) {
        if (const QString wrong = Catalogue::checkValue(*value, what); !wrong.isEmpty())
            return refused(Result::Unstorable, u"Nothing was added: %1"_s.arg(wrong));
    }
    if (!change.address.isEmpty() && change.address.trimmed().isEmpty())
        return refused(Result::Unstorable, u"Nothing was added: the address is blank."_s);
    const CatalogueEdit edit = server.add(change.description, change.address);
    if (!edit.done) {
        return refused(Result::Refused, edit.message.isEmpty()
                                            ? u"Nothing was added: give a description and an address."_s
                                            : edit.message);
    }
    return saved(server, edit,
                 u"Added item %1: %2"_s.arg(server.descriptions().ListCount() - 1).arg(change.description),
                 u"Nothing was added:"_s);
}

Outcome edit(LinkServer &server, const EditItem &change)
{
    if (const QString stale = staleItem(server, change.item, change.item.descriptionRow); !stale.isEmpty())
        return refused(Result::Refused, stale);
    const CatalogueEdit edit =
        server.catalogue().replace(change.item.descriptionRow, change.description, change.address);
    if (!edit.done)
        return refused(Result::Refused, edit.message);
    return saved(server, edit, u"Changed item %1: %2"_s.arg(change.item.descriptionRow).arg(change.description),
                 u"Nothing was changed:"_s);
}

Outcome remove(LinkServer &server, const RemoveItem &change)
{
    const SeenItem &item = change.item;
    const int number = std::max(item.descriptionRow, item.addressRow);
    if (const QString stale = staleItem(server, item, number); !stale.isEmpty())
        return refused(Result::Refused, stale);
    const QString description = server.descriptions().List(item.descriptionRow);
    const CatalogueEdit edit = server.catalogue().remove(item.descriptionRow, item.addressRow);
    if (!edit.done)
        return refused(Result::Refused, u"There is no item %1."_s.arg(number));
    return saved(server, edit, u"Removed item %1: %2"_s.arg(number).arg(description), u"Nothing was removed:"_s);
}

Outcome setMessage(LinkServer &server, const SetMessage &change)
{
    if (const FileResult written = server.saveServerMessage(change.text); !written.ok())
        return refused(Result::FilesFailed, written.error);
    return {Result::Changed, u"Server message set."_s, {}};
}

} // namespace

Outcome apply(LinkServer &server, const Change &change, int lockWaitMs)
{
    // One change at a time, whichever program makes it.
    const DataFolder &folder = server.catalogue().folder();
    QLockFile lock(folder.lockPath());
    // A folder nobody can write in needs no lock: nobody changes it, and the
    // save says why it failed (the window keeps the change and tries again).
    if (!lock.tryLock(lockWaitMs) && durablefile::folderProblem(folder.path()).isEmpty()) {
        return refused(Result::FilesFailed,
                       u"Nothing was changed: another program is changing the catalogue in %1 "
                       u"(it holds %2). Try again in a moment."_s.arg(folder.path(), folder.lockPath()));
    }
    if (!std::holds_alternative<SetMessage>(change)) {
        if (const FileResult fresh = server.catalogue().refresh(); !fresh.ok())
            return refused(Result::FilesFailed, u"Nothing was changed: %1"_s.arg(fresh.error));
    }
    return std::visit(
        [&server](const auto &what) -> Outcome {
            using What = std::decay_t<decltype(what)>;
            if constexpr (std::is_same_v<What, AddItem>)
                return add(server, what);
            else if constexpr (std::is_same_v<What, EditItem>)
                return edit(server, what);
            else if constexpr (std::is_same_v<What, RemoveItem>)
                return remove(server, what);
            else
                return setMessage(server, what);
        },
        change);
}

} // namespace CatalogueChange
