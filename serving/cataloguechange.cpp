#include "serving/cataloguechange.h"

#include "serving/servingtexts.h"

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
Outcome saved(Target target, const CatalogueEdit &edit, QString told, const QString &nothing)
{
    if (target.catalogue.hasUnsavedChanges())
        return {Result::Unsaved, nothing + u" the files stay as they were."_s, edit.message};
    return {Result::Changed, std::move(told), edit.message};
}

// The rows the person saw, unless another change came first.
QString staleItem(Target target, const SeenItem &seen, int shownNumber)
{
    const RowList &descriptions = target.catalogue.descriptions();
    const RowList &addresses = target.catalogue.addresses();
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

Outcome add(Target target, const AddItem &change)
{
    // What a row cannot hold is refused before anything else, so the files never go out of step.
    for (const auto &[value, what] :
         {std::pair{&change.description, u"description"_s}, std::pair{&change.address, u"address"_s}}) {
        if (const QString wrong = Catalogue::checkValue(*value, what); !wrong.isEmpty())
            return refused(Result::Unstorable, u"Nothing was added: %1"_s.arg(wrong));
    }
    if (!change.address.isEmpty() && change.address.trimmed().isEmpty())
        return refused(Result::Unstorable, u"Nothing was added: the address is blank."_s);
    CatalogueEdit edit = target.catalogue.add(change.description, change.address);
    if (edit.done) {
        const int item = target.catalogue.descriptions().ListCount() - 1;
        if (const QString cut = cutReplies(target.catalogue, target.message.current(), item, item + 1); !cut.isEmpty())
            edit.message = edit.message.isEmpty() ? cut : edit.message + u"\n\n"_s + cut;
    }
    if (!edit.done) {
        return refused(Result::Refused, edit.message.isEmpty()
                                            ? u"Nothing was added: give a description and an address."_s
                                            : edit.message);
    }
    return saved(target, edit,
                 u"Added item %1: %2"_s.arg(target.catalogue.descriptions().ListCount() - 1).arg(change.description),
                 u"Nothing was added:"_s);
}

Outcome edit(Target target, const EditItem &change)
{
    if (const QString stale = staleItem(target, change.item, change.item.descriptionRow); !stale.isEmpty())
        return refused(Result::Refused, stale);
    const CatalogueEdit edit = target.catalogue.replace(change.item.descriptionRow, change.description, change.address);
    if (!edit.done)
        return refused(Result::Refused, edit.message);
    return saved(target, edit, u"Changed item %1: %2"_s.arg(change.item.descriptionRow).arg(change.description),
                 u"Nothing was changed:"_s);
}

Outcome remove(Target target, const RemoveItem &change)
{
    const SeenItem &item = change.item;
    const int number = std::max(item.descriptionRow, item.addressRow);
    if (const QString stale = staleItem(target, item, number); !stale.isEmpty())
        return refused(Result::Refused, stale);
    const QString description = target.catalogue.descriptions().List(item.descriptionRow);
    const CatalogueEdit edit = target.catalogue.remove(item.descriptionRow, item.addressRow);
    if (!edit.done)
        return refused(Result::Refused, u"There is no item %1."_s.arg(number));
    return saved(target, edit, u"Removed item %1: %2"_s.arg(number).arg(description), u"Nothing was removed:"_s);
}

Outcome setMessage(Target target, const SetMessage &change)
{
    // The message goes with every item reply: no control character but its
    // line breaks (a NUL, an escape sequence, a file of the wrong kind).
    for (const QChar c : change.text) {
        const char16_t code = c.unicode();
        if (code != u'\r' && code != u'\n' && (code < 0x20 || (code >= 0x7F && code <= 0x9F))) {
            return refused(Result::Unstorable,
                           u"The server message was not set: it holds a control character (U+%1); a message is "
                           u"text and line breaks."_s.arg(QString::number(code, 16).toUpper().rightJustified(4, u'0')));
        }
    }
    // A message that leaves no room for an item would cut every reply.
    using ServingTexts::LongestMessageBytes;
    const qsizetype fixed = ServingTexts::utf8Size(ServingTexts::itemReply({}, {}, change.text));
    if (fixed > LongestMessageBytes) {
        return refused(Result::Refused,
                       u"The server message was not set: an item reply with it is %1 bytes before the item, %2 more "
                       u"than the %3 bytes one message carries, so every reply would reach members cut short. "
                       u"Shorten it by at least %2 bytes."_s.arg(fixed)
                           .arg(fixed - LongestMessageBytes)
                           .arg(LongestMessageBytes));
    }
    if (const FileResult written = target.message.save(change.text); !written.ok())
        return refused(Result::FilesFailed, written.error);
    // Set, with a word on the replies this message makes too long.
    return {Result::Changed, u"Server message set."_s,
            cutReplies(target.catalogue, change.text, 0, target.catalogue.descriptions().ListCount())};
}

// What is wrong with one item of a file, as an add would refuse it; empty when nothing.
QString badItem(const CatalogueTransfer::Item &item, qsizetype fixedReplyBytes)
{
    if (item.description.isEmpty())
        return u"the description is empty"_s;
    if (item.address.trimmed().isEmpty())
        return u"the address is blank"_s;
    for (const auto &[value, what] :
         {std::pair{&item.description, u"description"_s}, std::pair{&item.address, u"address"_s}}) {
        if (const QString wrong = Catalogue::checkValue(*value, what); !wrong.isEmpty())
            return wrong;
    }
    const qsizetype reply =
        fixedReplyBytes + ServingTexts::utf8Size(item.description) + ServingTexts::utf8Size(item.address);
    if (reply > ServingTexts::LongestMessageBytes) {
        return u"its reply would be %1 bytes, more than the %2 one message carries"_s.arg(reply).arg(
            ServingTexts::LongestMessageBytes);
    }
    return {};
}

Outcome import(Target target, const ImportItems &change)
{
    // Every item is checked before any is taken: one bad row refuses the file.
    constexpr int NamedAtMost = 20;
    const qsizetype fixed = ServingTexts::utf8Size(ServingTexts::itemReply({}, {}, target.message.current()));
    QStringList bad;
    int badCount = 0;
    QStringList descriptions;
    QStringList addresses;
    descriptions.reserve(change.items.size());
    addresses.reserve(change.items.size());
    for (const CatalogueTransfer::Item &item : change.items) {
        if (const QString wrong = badItem(item, fixed); !wrong.isEmpty()) {
            if (++badCount <= NamedAtMost)
                bad.append(u"row %1: %2"_s.arg(item.row).arg(wrong));
            continue;
        }
        descriptions.append(item.description);
        addresses.append(item.address);
    }
    if (badCount > 0) {
        if (badCount > NamedAtMost)
            bad.append(u"and %1 more bad rows"_s.arg(badCount - NamedAtMost));
        return refused(Result::Unstorable,
                       u"Nothing was imported: %1 of the %2 rows cannot be items.\n%3"_s.arg(badCount)
                           .arg(change.items.size())
                           .arg(bad.join(u'\n')));
    }
    const int before = target.catalogue.itemCount();
    const qsizetype after = (change.replace ? 0 : before) + descriptions.size();
    const QString what = change.replace
                             ? u"%1 items in place of the %2 there were"_s.arg(descriptions.size()).arg(before)
                             : u"%1 items after the %2 there are"_s.arg(descriptions.size()).arg(before);
    if (after > Catalogue::MaximumItems) {
        return refused(Result::Refused, u"Nothing was imported: with %1 the catalogue would hold %2 items, more than "
                                        u"the %3 it can hold."_s.arg(what)
                                            .arg(after)
                                            .arg(Catalogue::MaximumItems));
    }
    if (change.dryRun)
        return {Result::Changed,
                u"The import would put %1: the catalogue would hold %2 items. Nothing was changed (a "
                u"check)."_s.arg(what)
                    .arg(after),
                {}};
    const CatalogueEdit edit = target.catalogue.addItems(descriptions, addresses, change.replace);
    if (!edit.done)
        return refused(Result::Refused, edit.message);
    return saved(target, edit, u"Imported %1: the catalogue holds %2 items."_s.arg(what).arg(after),
                 u"Nothing was imported:"_s);
}

} // namespace

QString cutReplies(const Catalogue &catalogue, const QString &serverMessage, int first, int end)
{
    using ServingTexts::LongestMessageBytes;
    const qsizetype fixed = ServingTexts::utf8Size(ServingTexts::itemReply({}, {}, serverMessage));
    if (fixed > LongestMessageBytes) {
        return u"The server message is %1 KiB, more than the %2 KiB one message carries: every item reply reaches "
               u"members cut short. Shorten the message."_s.arg((fixed + 1023) / 1024)
                   .arg(LongestMessageBytes / 1024);
    }
    QStringList items;
    int count = 0;
    for (int item = first; item < end; ++item) {
        if (fixed + ServingTexts::utf8Size(catalogue.descriptions().List(item)) +
                ServingTexts::utf8Size(catalogue.addresses().List(item)) <=
            LongestMessageBytes)
            continue;
        if (++count <= 10)
            items.append(QString::number(item));
    }
    if (count == 0)
        return {};
    if (count > 10)
        items.append(u"%1 more"_s.arg(count - 10));
    return u"The reply to item %1 is longer than the %2 KiB one message carries, so members get it cut short. "
           u"Shorten the description or the address."_s.arg(items.join(u", "_s))
               .arg(LongestMessageBytes / 1024);
}

Outcome apply(Target target, const Change &change, int lockWaitMs)
{
    // One change at a time, whichever program makes it.
    const DataFolder &folder = target.catalogue.folder();
    QLockFile lock(folder.lockPath());
    // A folder nobody can write in needs no lock: nobody changes it, and the
    // save says why it failed (the window keeps the change and tries again).
    if (!lock.tryLock(lockWaitMs) && durablefile::folderProblem(folder.path()).isEmpty()) {
        return refused(Result::FilesFailed,
                       u"Nothing was changed: another program is changing the catalogue in %1 "
                       u"(it holds %2). Try again in a moment."_s.arg(folder.path(), folder.lockPath()));
    }
    if (!std::holds_alternative<SetMessage>(change)) {
        if (const FileResult fresh = target.catalogue.refresh(); !fresh.ok())
            return refused(Result::FilesFailed, u"Nothing was changed: %1"_s.arg(fresh.error));
    }
    return std::visit(
        [&target](const auto &what) -> Outcome {
            using What = std::decay_t<decltype(what)>;
            if constexpr (std::is_same_v<What, AddItem>)
                return add(target, what);
            else if constexpr (std::is_same_v<What, EditItem>)
                return edit(target, what);
            else if constexpr (std::is_same_v<What, RemoveItem>)
                return remove(target, what);
            else if constexpr (std::is_same_v<What, ImportItems>)
                return import(target, what);
            else
                return setMessage(target, what);
        },
        change);
}

} // namespace CatalogueChange
