#pragma once

#include "platform/messenger.h"
#include "serving/chatcommand.h"
#include "serving/chatresponder.h"
#include "serving/servingswitch.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

class FloodGuard;
class LinkServer;
class RoomServer;
class SendScheduler;

// The rooms the program serves, on any number of connections: one serving unit
// a room, each room's chat lines to its own unit, and serving switched on as
// soon as a room is joined. The rooms of one connection share its pace (one
// send scheduler) and its flood guard. The catalogue, the list pages and the
// server message are the link server's, one for every room.
class ServedRooms final : public QObject
{
    Q_OBJECT

public:
    explicit ServedRooms(LinkServer &server, QObject *parent = nullptr);
    ~ServedRooms() override;

    // Serves the room of a connection from now on; the log names it by both,
    // "[libera #links]". The messenger must outlive its serving (see released).
    RoomServer *addRoom(const QString &connection, const QString &roomName, MorvexAIMOCX::AIM *room);
    // chat-search for every room of the connection, those added later too.
    void setSearch(const QString &connection, bool on);
    // Stops serving the room at once: a reply on its way there ends after its
    // page. released() tells when nothing more is sent through its messenger.
    void removeRoom(MorvexAIMOCX::AIM *room);

    [[nodiscard]] RoomServer *roomServer(MorvexAIMOCX::AIM *room) const;

    // How every room is doing, for status pages and health checks.
    struct RoomState
    {
        QString connection;
        QString room;
        QString nick; // the name members address the program by
        bool joined = false;
        bool serving = false;
        QString lastProblem; // what the room or its connection last reported
    };
    [[nodiscard]] QList<RoomState> states() const;
    [[nodiscard]] int roomCount() const { return int(m_rooms.size()); }
    [[nodiscard]] int servingCount() const;
    // The scheduler of a connection's rooms, or none.
    [[nodiscard]] SendScheduler *scheduler(const QString &connection) const;
    [[nodiscard]] QStringList connections() const { return m_connections.keys(); }
    // Members the connection's flood guard ignores now.
    [[nodiscard]] int mutedCount(const QString &connection) const;

    // The operator switches a room's serving off or on (as its switch would);
    // a room switched off stays off when it is joined again. What went wrong otherwise.
    [[nodiscard]] QString setServing(const QString &connection, const QString &room, bool on);

    // Who switches serving on in a joined room: the rooms themselves, as soon
    // as they are joined (the default), or the operator's switch (switchAll).
    void setServeOnJoin(bool on) { m_serveOnJoin = on; }
    // The operator's switch for every room at once. On: every joined room is
    // switched on with the lines given, and every other room once it is joined;
    // what refused it when no room could be served now (then nothing is on).
    // Off: every room is switched off with the stop line; false when one failed.
    [[nodiscard]] QString switchAllOn(OpeningLines lines);
    bool switchAllOff(StopLine line);

    // Every served room's advertisement, now.
    void advertise();
    // The rooms' advertisement timers, in the order of states().
    [[nodiscard]] QList<QTimer *> timers() const;

    // The program is closing: nothing more is answered or sent in any room.
    void stopReplies();

Q_SIGNALS:
    // A removed room's messenger is no longer used; it may go now.
    void released(MorvexAIMOCX::AIM *room);
    // The room is served (again): serving switched on after it was joined.
    void roomServing(MorvexAIMOCX::AIM *room);
    // A room came or went, was joined, left or refused: states() changed.
    void changed();
    // A command answered in a room (a list, or an item).
    void commandAnswered(const QString &connection, const QString &room, ChatCommand::Kind kind);
    // A search in the room was answered with this many matches.
    void searched(const QString &connection, const QString &room, int matches);
    // An item reply starts on its way, this long after it was asked for.
    void itemReplyStarted(qint64 waitedMs);

private:
    struct Connection;
    struct Room;

    Connection &connection(const QString &name, MorvexAIMOCX::AIM *firstRoom);
    // The rooms in the order of states().
    [[nodiscard]] QList<std::shared_ptr<Room>> sortedRooms() const;
    // Switches one room as its own switch would; what refused it, if anything.
    QString switchRoom(RoomServer &server, bool on, OpeningLines lines, StopLine line);
    void serve(Room &room);
    void paceAnnouncements();
    void spreadAnnouncement(Room &room);

    LinkServer &m_server;
    QHash<QString, std::shared_ptr<Connection>> m_connections;
    QHash<MorvexAIMOCX::AIM *, std::shared_ptr<Room>> m_rooms;
    QTimer m_paceCheck;
    bool m_serveOnJoin = true;
    bool m_allOn = false; // the operator's switch is on: rooms joined later are served
};
