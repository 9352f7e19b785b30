#pragma once

#include "serving/chatresponder.h"
#include "serving/servermessage.h"
#include "serving/servingswitch.h"
#include "serving/valdrinbas.h"

#include "catalogue/catalogue.h"
#include "catalogue/cataloguesearch.h"

#include <QObject>

#include <memory>

class RowList;

// The link server's values: the catalogue, the list pages, the server message
// and the search, which every room reads (see RoomServer and ServedRooms).
class LinkServer final : public QObject
{
    Q_OBJECT

public:
    // The rows are the catalogue's two lists; they must outlive the server.
    LinkServer(RowList &descriptions, RowList &addresses, DataFolder folder, QObject *parent = nullptr);
    ~LinkServer() override;

    // The start-up load: the catalogue, the server message, and one empty list page.
    // Returns a sentence for every file that exists but could not be read.
    [[nodiscard]] QStringList load();

    // Reads the catalogue files and message.txt again, for a server whose files
    // someone else edits; the new list pages serve the next request, and a list
    // reply in progress keeps its own. A file that cannot be read leaves the
    // catalogue in use as it was. Returns what to tell the operator.
    [[nodiscard]] QStringList reload();

    // Rebuilds the list pages from the descriptions as they are now.
    void BuildList();
    // Appends one empty list page.
    void BuildList2();
    // The search of the catalogue as it was at the last BuildList (or load),
    // made when first asked for and then kept until the catalogue changes.
    [[nodiscard]] std::shared_ptr<const CatalogueSearch> search();

    // Writes message.txt, then makes the text the server message.
    [[nodiscard]] FileResult saveServerMessage(const QString &text) const { return m_message.save(text); }
    [[nodiscard]] const ServerMessageFile &serverMessageFile() const { return m_message; }

    // What a room answers "send find" from: this catalogue's search.
    [[nodiscard]] ChatResponder::Search searcher()
    {
        return {[this] { return search(); }};
    }

    [[nodiscard]] Catalogue &catalogue() { return m_catalogue; }
    // The list pages and the server message every room of this server reads.
    [[nodiscard]] ValdrinBas &values() { return *m_values; }
    // The catalogue's rows, for the serving of more rooms.
    [[nodiscard]] const RowList &descriptions() const { return m_descriptions; }
    [[nodiscard]] const RowList &addresses() const { return m_addresses; }

private:
    const RowList &m_descriptions;
    const RowList &m_addresses;
    // Shared with the message editor, which may outlive the main window.
    std::shared_ptr<ValdrinBas> m_values;
    Catalogue m_catalogue;
    ServerMessageFile m_message;
    std::shared_ptr<const CatalogueSearch> m_search;
};
