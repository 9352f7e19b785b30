#pragma once

#include "serving/chatresponder.h"
#include "serving/servermessage.h"
#include "serving/servingswitch.h"
#include "serving/valdrinbas.h"

#include "catalogue/catalogue.h"
#include "catalogue/cataloguesearch.h"

#include <QObject>

#include <memory>

class QTimer;
class RoomServer;
class RowList;
class SendScheduler;

namespace MorvexAIMOCX {
class AIM;
}

// The link server: the catalogue, the list pages, the server message, and the
// serving of the messenger's room (its responder, and its serving switch with
// the advertisement timer), owned together. The main window forwards its
// handlers here; the windowless server serves more rooms through ServedRooms.
class LinkServer final : public QObject
{
    Q_OBJECT

public:
    // The rows are the catalogue's two lists (the window's list boxes, or rows in
    // memory); they and the messenger must outlive the server. Without a messenger
    // the server only keeps the catalogue and nothing reaches a room.
    LinkServer(MorvexAIMOCX::AIM *messenger, RowList &descriptions, RowList &addresses, DataFolder folder,
               QObject *parent = nullptr);
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

    // The messenger's room: serving switched on and off, and the advertisement
    // (see ServingSwitch).
    bool switchOn(OpeningLines lines);
    bool switchOff(StopLine line);
    void advertise();
    [[nodiscard]] bool isServing() const;
    // What a room answers "send find" from: this catalogue's search.
    [[nodiscard]] ChatResponder::Search searcher()
    {
        return {[this] { return search(); }};
    }

    // The program is closing: list replies in progress end after their current
    // page and no new command is answered.
    void stopReplies();

    [[nodiscard]] Catalogue &catalogue() { return m_catalogue; }
    // The list pages and the server message every room of this server reads.
    [[nodiscard]] ValdrinBas &values() { return *m_values; }
    // The catalogue's rows, for the serving of more rooms.
    [[nodiscard]] const RowList &descriptions() const { return m_descriptions; }
    [[nodiscard]] const RowList &addresses() const { return m_addresses; }
    [[nodiscard]] RoomServer &room() { return *m_room; }
    [[nodiscard]] ChatResponder &responder();
    // Everything this server sends leaves through it, fairly and at the network's rate.
    [[nodiscard]] SendScheduler &scheduler() { return *m_scheduler; }
    // The advertisement timer: 60000 ms, running only while serving.
    [[nodiscard]] QTimer *timer() const;

Q_SIGNALS:
    // Serving could not be switched on; the text says why.
    void switchRefused(const QString &text);
    void servingChanged(bool serving);

private:
    const RowList &m_descriptions;
    const RowList &m_addresses;
    // Shared with the message editor, which may outlive the main window.
    std::shared_ptr<ValdrinBas> m_values;
    Catalogue m_catalogue;
    ServerMessageFile m_message;
    std::shared_ptr<const CatalogueSearch> m_search;
    SendScheduler *m_scheduler;
    RoomServer *m_room;
};
