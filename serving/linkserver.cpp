#include "serving/linkserver.h"

#include "serving/cataloguechange.h"
#include "serving/listpagebuilder.h"
#include "serving/servingtexts.h"
#include "serving/valdrinbas.h"

using namespace Qt::StringLiterals;

LinkServer::LinkServer(RowList &descriptions, RowList &addresses, DataFolder folder, QObject *parent)
    : QObject(parent), m_descriptions(descriptions), m_addresses(addresses), m_values(std::make_shared<ValdrinBas>()),
      m_catalogue(descriptions, addresses, folder), m_message(folder, m_values)
{}

LinkServer::~LinkServer() = default;

QStringList LinkServer::load()
{
    QStringList problems = m_catalogue.load();
    if (const FileResult message = m_message.load(); !message.ok())
        problems.append(message.error);
    m_values->ListPages = ListPageSet();
    m_search.reset();
    if (const QString cut =
            CatalogueChange::cutReplies(m_catalogue, m_values->ServerMessage, 0, m_descriptions.ListCount());
        !cut.isEmpty())
        problems.append(cut);
    return problems;
}

QStringList LinkServer::reload()
{
    QStringList told;
    if (const FileResult catalogue = m_catalogue.reload(); !catalogue.ok()) {
        told.append(catalogue.error);
    } else {
        BuildList();
        told.append(u"Catalogue reloaded: %1 items"_s.arg(m_catalogue.itemCount()));
        if (const QString cut =
                CatalogueChange::cutReplies(m_catalogue, m_values->ServerMessage, 0, m_descriptions.ListCount());
            !cut.isEmpty())
            told.append(cut);
    }
    if (const FileResult message = m_message.load(); !message.ok())
        told.append(message.error);
    return told;
}

void LinkServer::BuildList()
{
    ListPageBuilder::BuildList(m_descriptions, m_values->ListPages);
    m_search.reset();
}

std::shared_ptr<const CatalogueSearch> LinkServer::search()
{
    if (!m_search)
        m_search = std::make_shared<const CatalogueSearch>(m_descriptions, m_addresses);
    return m_search;
}

void LinkServer::BuildList2()
{
    ListPageBuilder::BuildList2(m_values->ListPages);
}
