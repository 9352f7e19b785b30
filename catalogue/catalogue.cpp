#include "catalogue/catalogue.h"

#include "catalogue/pairsave.h"

#include "platform/rowlist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcCatalogue, "valdrin.catalogue")

namespace {

// The rows of the unmatched list shown by name; the rest are counted.
constexpr int ShownUnmatchedRows = 10;

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

Catalogue::Catalogue(RowList &descriptions, RowList &addresses, DataFolder folder)
    : m_descriptions(descriptions), m_addresses(addresses), m_folder(std::move(folder))
{}

QString Catalogue::loadFile(const QString &path, RowList &list, RowFileFormat &format, QStringList &told)
{
    const FileResult loaded = addon::LoadList(path, list, &format);
    if (!loaded.ok())
        return loaded.error;
    if (format.convertedRows > 0) {
        told.append(u"%1: %2 not UTF-8 text, so %3 read as Windows-1252 (the code page of older Windows "
                    u"systems). The next save writes the file as UTF-8."_s.arg(
                        shown(path),
                        format.convertedRows == 1 ? u"1 row was"_s : u"%1 rows were"_s.arg(format.convertedRows),
                        format.convertedRows == 1 ? u"it was"_s : u"they were"_s));
    }
    return {};
}

QStringList Catalogue::load()
{
    QStringList problems;
    const pairsave::Recovery recovery =
        pairsave::recover(m_folder.journalPath(), {m_folder.descriptionsPath(), m_folder.addressesPath()}, true);
    if (!recovery.value.isEmpty())
        qCInfo(lcCatalogue).noquote() << recovery.value;
    if (!recovery.error.isEmpty())
        problems.append(recovery.error);

    for (auto [path, list, format] : {std::tuple{m_folder.descriptionsPath(), &m_descriptions, &m_descriptionsFormat},
                                      std::tuple{m_folder.addressesPath(), &m_addresses, &m_addressesFormat}}) {
        const QString error = loadFile(path, *list, *format, problems);
        if (error.isEmpty())
            continue;
        // Writing either list file now would put the two files out of step with
        // each other or destroy rows that only the unreadable file still holds.
        problems.append(error);
        if (m_heldBecause.isEmpty())
            m_heldBecause = error;
    }
    if (filesHeld()) {
        problems.append(u"The catalogue files will be left as they are: no change made in this run "
                        u"will be saved to them. Make the file readable and start the program again."_s);
    }
    m_seen = stampFiles();
    logMismatch();

    for (const QString &problem : std::as_const(problems))
        qCWarning(lcCatalogue).noquote() << problem;
    return problems;
}

FileResult Catalogue::reload()
{
    // A save another program left half done is finished first.
    const pairsave::Recovery recovery =
        pairsave::recover(m_folder.journalPath(), {m_folder.descriptionsPath(), m_folder.addressesPath()}, false);
    if (!recovery.value.isEmpty())
        qCInfo(lcCatalogue).noquote() << recovery.value;
    if (!recovery.error.isEmpty())
        qCWarning(lcCatalogue).noquote() << recovery.error;

    StringRowList descriptions;
    StringRowList addresses;
    RowFileFormat descriptionsFormat;
    RowFileFormat addressesFormat;
    QStringList told;
    for (auto [path, list, format] : {std::tuple{m_folder.descriptionsPath(), &descriptions, &descriptionsFormat},
                                      std::tuple{m_folder.addressesPath(), &addresses, &addressesFormat}}) {
        if (const QString error = loadFile(path, *list, *format, told); !error.isEmpty())
            return {error + u". The catalogue in use stays as it was."_s};
    }
    // Files out of step are an edit half done (one file written, the other not
    // yet) or a file removed: serving them would pair descriptions with the
    // wrong addresses, or answer nothing. The catalogue in use stays until the
    // files are in step again; both empty is an empty catalogue.
    if (descriptions.ListCount() != addresses.ListCount()) {
        return {u"%1 holds %2 row(s) and %3 holds %4: the two files are out of step (an edit not finished, or a "
                u"file removed). The catalogue in use stays as it was, %5 item(s), until they are in step again."_s
                    .arg(QFileInfo(m_folder.descriptionsPath()).fileName())
                    .arg(descriptions.ListCount())
                    .arg(QFileInfo(m_folder.addressesPath()).fileName())
                    .arg(addresses.ListCount())
                    .arg(std::min(m_descriptions.ListCount(), m_addresses.ListCount()))};
    }
    for (const QString &line : std::as_const(told))
        qCWarning(lcCatalogue).noquote() << line;
    m_descriptions.setRows(descriptions);
    m_addresses.setRows(addresses);
    m_descriptionsFormat = descriptionsFormat;
    m_addressesFormat = addressesFormat;
    m_heldBecause.clear(); // both files could be read now
    m_unsaved = false;
    m_seen = stampFiles();
    return {};
}

FileResult Catalogue::refresh()
{
    if (m_unsaved || filesHeld() || stampFiles() == m_seen)
        return {};
    return reload();
}

Catalogue::FileStamps Catalogue::stampFiles() const
{
    FileStamps stamps;
    const QString paths[] = {m_folder.descriptionsPath(), m_folder.addressesPath()};
    for (std::size_t file = 0; file < stamps.size(); ++file) {
        struct stat status
        {
        };
        if (::stat(QFile::encodeName(paths[file]).constData(), &status) != 0)
            continue; // no file: the stamp of none
        stamps[file] = {static_cast<quint64>(status.st_ino), static_cast<qint64>(status.st_size),
                        static_cast<qint64>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
    }
    return stamps;
}

void Catalogue::logMismatch() const
{
    if (const QString unmatched = unmatchedRows(); !unmatched.isEmpty())
        qCWarning(lcCatalogue).noquote() << unmatched;
}

FileResult Catalogue::save()
{
    if (filesHeld()) {
        return {u"The catalogue was not saved, because a catalogue file could not be read when the program "
                u"started (%1). The files on disk were left as they were. Make the file readable and start the "
                u"program again."_s.arg(m_heldBecause)};
    }
    FileResult saved = pairsave::save(
        m_folder.journalPath(),
        {pairsave::ListFile{m_folder.descriptionsPath(), &m_descriptions, m_descriptionsFormat.byteOrderMark},
         pairsave::ListFile{m_folder.addressesPath(), &m_addresses, m_addressesFormat.byteOrderMark}});
    if (saved.ok()) {
        m_unsaved = false;
        m_seen = stampFiles();
    }
    return saved;
}

QString Catalogue::checkValue(const QString &text, const QString &what)
{
    // A row of the files is one line: a line break would split it in two and
    // put the pair out of step, and other control characters cannot be typed
    // back. NEL (U+0085) and the line and paragraph separators are line breaks
    // too: members would get the row in pieces.
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029) {
            return u"the %1 holds a line break or another control character (U+%2); a catalogue row is one "
                   u"line of text."_s.arg(what, QString::number(code, 16).toUpper().rightJustified(4, u'0'));
        }
    }
    // Half of a surrogate pair (JSON can spell one: "\ud800") is no character:
    // the files would keep a "?" in its place.
    if (!text.isValidUtf16())
        return u"the %1 holds half of a UTF-16 surrogate pair, which is no character; a catalogue row is text."_s.arg(
            what);
    return {};
}

CatalogueEdit Catalogue::add(const QString &description, const QString &address)
{
    if (description.isEmpty() || address.isEmpty())
        return {};
    for (const auto &[value, what] : {std::pair{&description, u"description"_s}, std::pair{&address, u"address"_s}}) {
        if (const QString wrong = checkValue(*value, what); !wrong.isEmpty())
            return {false, u"The item was not added: %1"_s.arg(wrong)};
    }
    // A blank description is the operator's choice; a blank address leads nowhere.
    if (address.trimmed().isEmpty())
        return {false, u"The item was not added: the address is blank."_s};
    if (m_descriptions.ListCount() >= MaximumItems || m_addresses.ListCount() >= MaximumItems) {
        return {false, u"The item was not added: the catalogue already holds %1 items, the most it can hold. "
                       u"Remove an item before adding another."_s.arg(MaximumItems)};
    }
    if (m_descriptions.ListCount() != m_addresses.ListCount()) {
        return {false, u"The item was not added, because its description and its address would land in rows of "
                       u"different items. %1"_s.arg(unmatchedRows())};
    }
    m_descriptions.AddItem(description);
    m_addresses.AddItem(address);
    return savedEdit();
}

CatalogueEdit Catalogue::addItems(const QStringList &descriptions, const QStringList &addresses, bool replace)
{
    const qsizetype total = (replace ? 0 : m_descriptions.ListCount()) + descriptions.size();
    if (total > MaximumItems) {
        return {false,
                u"Nothing was added: the catalogue would hold %1 items, more than the %2 it can hold."_s.arg(total).arg(
                    MaximumItems)};
    }
    if (!replace && m_descriptions.ListCount() != m_addresses.ListCount()) {
        return {false, u"Nothing was added, because descriptions and addresses would land in rows of different "
                       u"items. %1"_s.arg(unmatchedRows())};
    }
    if (replace) {
        m_descriptions.setRows(StringRowList(descriptions));
        m_addresses.setRows(StringRowList(addresses));
    } else {
        m_descriptions.addItems(descriptions);
        m_addresses.addItems(addresses);
    }
    return savedEdit();
}

CatalogueEdit Catalogue::remove(int descriptionRow, int addressRow)
{
    const int before = m_descriptions.ListCount() + m_addresses.ListCount();
    m_addresses.RemoveItem(addressRow);
    m_descriptions.RemoveItem(descriptionRow);
    if (m_descriptions.ListCount() + m_addresses.ListCount() == before)
        return {};
    return savedEdit();
}

QString Catalogue::unmatchedRows() const
{
    const int descriptions = m_descriptions.ListCount();
    const int addresses = m_addresses.ListCount();
    if (descriptions == addresses)
        return {};
    const bool moreDescriptions = descriptions > addresses;
    const RowList &longer = moreDescriptions ? m_descriptions : m_addresses;
    const QString longerName =
        QFileInfo(moreDescriptions ? m_folder.descriptionsPath() : m_folder.addressesPath()).fileName();
    const int first = std::min(descriptions, addresses);
    const int count = longer.ListCount() - first;
    QString rows;
    for (int row = first; row < first + std::min(count, ShownUnmatchedRows); ++row)
        rows += u"\n    row %1: %2"_s.arg(row + 1).arg(longer.List(row).left(80));
    if (count > ShownUnmatchedRows)
        rows += u"\n    and %1 more"_s.arg(count - ShownUnmatchedRows);
    return u"descriptions.dat holds %1 rows and urls.dat %2, so the last %3 of %4 %5 no partner in the other "
           u"file:%6\n\nAn item is a description and the address in the same row of the other file. Remove the "
           u"unmatched rows (in the window, double-click one; with --remove N, item N is row N+1), or add the "
           u"missing rows to the other file with an editor."_s.arg(descriptions)
               .arg(addresses)
               .arg(count == 1 ? u"row"_s : u"%1 rows"_s.arg(count), longerName, count == 1 ? u"has"_s : u"have"_s,
                    rows);
}

CatalogueEdit Catalogue::removeUnmatchedRows()
{
    const int keep = std::min(m_descriptions.ListCount(), m_addresses.ListCount());
    for (RowList *list : {&m_descriptions, &m_addresses}) {
        while (list->ListCount() > keep)
            list->RemoveItem(list->ListCount() - 1);
    }
    return savedEdit();
}

int Catalogue::itemCount() const
{
    return m_descriptions.ListCount();
}

CatalogueEdit Catalogue::replace(int item, const QString &description, const QString &address)
{
    if (item < 0 || item >= m_descriptions.ListCount() || item >= m_addresses.ListCount())
        return {false, u"The item was not changed: there is no item %1."_s.arg(item)};
    if (description.isEmpty() || address.trimmed().isEmpty())
        return {false, u"The item was not changed: give a description and an address."_s};
    for (const auto &[value, what] : {std::pair{&description, u"description"_s}, std::pair{&address, u"address"_s}}) {
        if (const QString wrong = checkValue(*value, what); !wrong.isEmpty())
            return {false, u"The item was not changed: %1"_s.arg(wrong)};
    }
    QStringList descriptions = m_descriptions.allRows();
    QStringList addresses = m_addresses.allRows();
    descriptions[item] = description;
    addresses[item] = address;
    m_descriptions.setRows(StringRowList(descriptions));
    m_addresses.setRows(StringRowList(addresses));
    return savedEdit();
}

CatalogueEdit Catalogue::savedEdit()
{
    m_unsaved = true;
    if (filesHeld()) {
        return {true,
                u"This change is kept in the program but is not saved: a catalogue file could not be read "
                u"when the program started (%1), so the files on disk are left as they were."_s.arg(m_heldBecause)};
    }
    const FileResult saved = save();
    if (saved.ok())
        return {true, {}};
    qCWarning(lcCatalogue).noquote() << saved.error;
    return {true, saved.error % u"\n\nCheck the free space and the permissions of the data folder."_s};
}
