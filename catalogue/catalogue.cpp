#include "catalogue/catalogue.h"

#include "platform/rowlist.h"

#include <QLoggingCategory>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcCatalogue, "valdrin.catalogue")

Catalogue::Catalogue(RowList &descriptions, RowList &addresses, DataFolder folder)
    : m_descriptions(descriptions), m_addresses(addresses), m_folder(std::move(folder))
{
}

QStringList Catalogue::load()
{
    QStringList problems;
    for (auto [path, list] : {std::pair{m_folder.descriptionsPath(), &m_descriptions},
                              std::pair{m_folder.addressesPath(), &m_addresses}}) {
        const FileResult loaded = addon::LoadList(path, *list);
        if (loaded.ok())
            continue;
        // Writing either list file now would put the two files out of step with
        // each other or destroy rows that only the unreadable file still holds.
        problems.append(loaded.error);
        if (m_heldBecause.isEmpty())
            m_heldBecause = loaded.error;
    }
    if (filesHeld()) {
        problems.append(u"The catalogue files will be left as they are: no change made in this run "
                        u"will be saved to them. Make the file readable and start the program again."_s);
    }
    if (m_descriptions.ListCount() != m_addresses.ListCount()) {
        qCWarning(lcCatalogue).noquote()
            << u"descriptions.dat holds %1 rows and urls.dat %2: an item without both rows cannot be sent"_s
                   .arg(m_descriptions.ListCount())
                   .arg(m_addresses.ListCount());
    }

    for (const QString &problem : std::as_const(problems))
        qCWarning(lcCatalogue).noquote() << problem;
    return problems;
}

FileResult Catalogue::reload()
{
    StringRowList descriptions;
    StringRowList addresses;
    for (auto [path, list] : {std::pair{m_folder.descriptionsPath(), &descriptions},
                              std::pair{m_folder.addressesPath(), &addresses}}) {
        if (const FileResult loaded = addon::LoadList(path, *list); !loaded.ok())
            return {loaded.error + u". The catalogue in use stays as it was."_s};
    }
    m_descriptions.setRows(descriptions);
    m_addresses.setRows(addresses);
    m_heldBecause.clear(); // both files could be read now
    m_unsaved = false;
    if (m_descriptions.ListCount() != m_addresses.ListCount()) {
        qCWarning(lcCatalogue).noquote()
            << u"descriptions.dat holds %1 rows and urls.dat %2: an item without both rows cannot be sent"_s
                   .arg(m_descriptions.ListCount())
                   .arg(m_addresses.ListCount());
    }
    return {};
}

FileResult Catalogue::save()
{
    if (filesHeld()) {
        return {u"The catalogue was not saved, because a catalogue file could not be read when the program "
                u"started (%1). Make the file readable and start the program again."_s.arg(m_heldBecause)};
    }
    // Descriptions first; when they cannot be written the addresses are not
    // written either, so the two files stay in step with each other.
    if (FileResult saved = addon::SaveList(m_folder.descriptionsPath(), m_descriptions); !saved.ok())
        return saved;
    FileResult saved = addon::SaveList(m_folder.addressesPath(), m_addresses);
    if (saved.ok())
        m_unsaved = false;
    return saved;
}

CatalogueEdit Catalogue::add(const QString &description, const QString &address)
{
    if (description.isEmpty() || address.isEmpty())
        return {};
    if (m_descriptions.ListCount() >= MaximumItems || m_addresses.ListCount() >= MaximumItems) {
        return {false, u"The item was not added: the catalogue already holds %1 items, the most it can hold. "
                       u"Remove an item before adding another."_s.arg(MaximumItems)};
    }
    m_descriptions.AddItem(description);
    m_addresses.AddItem(address);
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

int Catalogue::itemCount() const
{
    return m_descriptions.ListCount();
}

QString Catalogue::countCaption(int count)
{
    return u"Server Items: "_s + QString::number(count);
}

CatalogueEdit Catalogue::savedEdit()
{
    m_unsaved = true;
    if (filesHeld())
        return {true, {}}; // the operator was told at start that this run saves nothing
    const FileResult saved = save();
    if (saved.ok())
        return {true, {}};
    qCWarning(lcCatalogue).noquote() << saved.error;
    return {true, saved.error % u"\n\nThe change is kept in the program and will be saved again with the next "
                                 u"change and when the main window closes. Check the free space and the "
                                 u"permissions of the data folder."_s};
}
