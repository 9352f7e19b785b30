#include "serving/servedrooms.h"

#include "serving/chatresponder.h"
#include "serving/floodguard.h"
#include "serving/linkserver.h"
#include "serving/roomserver.h"
#include "serving/sendscheduler.h"
#include "serving/servingswitch.h"

#include "catalogue/catalogue.h"
#include "platform/messenger.h"

#include <QLoggingCategory>

#include <algorithm>
#include <tuple>

using namespace Qt::StringLiterals;

Q_DECLARE_LOGGING_CATEGORY(lcServing)

struct ServedRooms::Connection
{
    SendScheduler *scheduler = nullptr;
    FloodGuard guard;
    int rooms = 0;
};

struct ServedRooms::Room
{
    QString connection;
    QString name;
    QString label;
    RoomServer *server = nullptr;
    PlainCaption caption;
    bool switchedOff = false; // by the operator: not switched on again at a join
    QString lastProblem;
};

ServedRooms::ServedRooms(LinkServer &server, QObject *parent) : QObject(parent), m_server(server) {}

ServedRooms::~ServedRooms() = default;

ServedRooms::Connection &ServedRooms::connection(const QString &name, MorvexAIMOCX::AIM *firstRoom)
{
    std::shared_ptr<Connection> &found = m_connections[name];
    if (!found) {
        found = std::make_shared<Connection>();
        // Every room of a connection goes at the pace its network takes.
        found->scheduler = new SendScheduler(firstRoom->delivery(), this);
        found->scheduler->setLabel(u"[%1]"_s.arg(name));
        connect(found->scheduler, &SendScheduler::roomFinished, this, &ServedRooms::released);
        connect(found->scheduler, &SendScheduler::itemStarted, this, &ServedRooms::itemReplyStarted);
    }
    return *found;
}

RoomServer *ServedRooms::addRoom(const QString &connectionName, const QString &roomName, MorvexAIMOCX::AIM *messenger)
{
    const QString label = u"[%1 %2]"_s.arg(connectionName, roomName);
    if (!messenger || m_rooms.contains(messenger))
        return roomServer(messenger);
    Connection &network = connection(connectionName, messenger);
    auto room = std::make_shared<Room>();
    room->connection = connectionName;
    room->name = roomName;
    room->label = label;
    room->server = new RoomServer(messenger, network.scheduler, &network.guard, m_server.descriptions(),
                                  m_server.addresses(), this);
    room->server->responder().setLabel(label);
    connect(&room->server->responder(), &ChatResponder::answered, this,
            [this, connectionName, roomName](bool list) { Q_EMIT commandAnswered(connectionName, roomName, list); });
    ++network.rooms;
    m_rooms.insert(messenger, room);
    connect(room->server, &RoomServer::switchRefused, this,
            [label](const QString &text) { qCWarning(lcServing).noquote() << label << text; });
    // Once in the room, serving goes on as the "On" switch turns it on; after a
    // rejoin the room is still served and needs nothing more.
    connect(messenger, &MorvexAIMOCX::AIM::roomJoined, room->server, [this, weak = std::weak_ptr<Room>(room)] {
        if (const std::shared_ptr<Room> joined = weak.lock())
            serve(*joined);
    });
    // Left, kicked or refused: the room tells its problem.
    connect(messenger, &MorvexAIMOCX::AIM::problem, this, [this, weak = std::weak_ptr<Room>(room)](const QString &text) {
        if (const std::shared_ptr<Room> told = weak.lock())
            told->lastProblem = text;
        Q_EMIT changed();
    });
    if (messenger->ChatRoom() != 0)
        serve(*room);
    Q_EMIT changed();
    return room->server;
}

void ServedRooms::serve(Room &room)
{
    if (room.switchedOff)
        return;
    if (room.server->isServing()) {
        Q_EMIT changed(); // joined again
        return;
    }
    room.server->Label2_Click(room.caption);
    if (!room.server->isServing())
        return;
    qCInfo(lcServing).noquote() << room.label << "Serving" << m_server.catalogue().itemCount() << "items";
    Q_EMIT roomServing(room.server->room());
    Q_EMIT changed();
}

void ServedRooms::removeRoom(MorvexAIMOCX::AIM *messenger)
{
    const std::shared_ptr<Room> room = m_rooms.take(messenger);
    if (!room)
        return;
    // Its commands, its announcements and its timer end now.
    delete room->server;
    disconnect(messenger, nullptr, this, nullptr);
    Q_EMIT changed();
    const std::shared_ptr<Connection> network = m_connections.value(room->connection);
    if (!network)
        return;
    if (--network->rooms == 0) {
        m_connections.remove(room->connection);
        // The last message keeps its scheduler alive until it is sent.
        connect(network->scheduler, &SendScheduler::roomFinished, network->scheduler, &QObject::deleteLater);
    }
    // The scheduler finishes the message on its way, then lets the messenger go.
    network->scheduler->dropRoom(messenger);
}

RoomServer *ServedRooms::roomServer(MorvexAIMOCX::AIM *room) const
{
    const std::shared_ptr<Room> found = m_rooms.value(room);
    return found ? found->server : nullptr;
}

QList<ServedRooms::RoomState> ServedRooms::states() const
{
    QList<RoomState> states;
    for (const std::shared_ptr<Room> &room : m_rooms) {
        MorvexAIMOCX::AIM *messenger = room->server->room();
        states.append({room->connection, room->name, messenger ? messenger->ScreenName() : QString(),
                       messenger && messenger->ChatRoom() != 0, room->server->isServing(), room->lastProblem});
    }
    std::sort(states.begin(), states.end(), [](const RoomState &a, const RoomState &b) {
        return std::tie(a.connection, a.room) < std::tie(b.connection, b.room);
    });
    return states;
}

int ServedRooms::servingCount() const
{
    int serving = 0;
    for (const std::shared_ptr<Room> &room : m_rooms)
        serving += room->server->isServing() ? 1 : 0;
    return serving;
}

QString ServedRooms::setServing(const QString &connection, const QString &roomName, bool on)
{
    for (const std::shared_ptr<Room> &room : std::as_const(m_rooms)) {
        if (room->connection != connection || room->name != roomName)
            continue;
        room->switchedOff = !on;
        if (room->server->isServing() != on) {
            QString refused;
            const QMetaObject::Connection told =
                connect(room->server, &RoomServer::switchRefused, this, [&refused](const QString &text) { refused = text; });
            room->server->Label2_Click(room->caption);
            disconnect(told);
            if (room->server->isServing() != on)
                return refused.isEmpty() ? u"The room's serving could not be switched."_s : refused;
        }
        qCInfo(lcServing).noquote() << room->label << (on ? "Serving switched on by the operator"
                                                          : "Serving switched off by the operator");
        Q_EMIT changed();
        return {};
    }
    return u"There is no room %1 on %2."_s.arg(roomName, connection);
}

int ServedRooms::mutedCount(const QString &connection) const
{
    const std::shared_ptr<Connection> found = m_connections.value(connection);
    return found ? found->guard.mutedCount() : 0;
}

SendScheduler *ServedRooms::scheduler(const QString &connection) const
{
    const std::shared_ptr<Connection> found = m_connections.value(connection);
    return found ? found->scheduler : nullptr;
}

void ServedRooms::stopReplies()
{
    for (const std::shared_ptr<Room> &room : std::as_const(m_rooms))
        room->server->stopReplies();
}
