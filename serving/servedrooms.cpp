#include "serving/servedrooms.h"

#include "serving/chatresponder.h"
#include "serving/floodguard.h"
#include "serving/linkserver.h"
#include "serving/roomlines.h"
#include "serving/roomserver.h"
#include "serving/sendscheduler.h"
#include "serving/servingswitch.h"

#include "catalogue/catalogue.h"
#include "platform/messenger.h"

#include <QLoggingCategory>

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <tuple>

using namespace Qt::StringLiterals;

Q_DECLARE_LOGGING_CATEGORY(lcServing)

struct ServedRooms::Connection
{
    SendScheduler *scheduler = nullptr;
    FloodGuard guard;
    int rooms = 0;
    int announceEveryMs = ServingSwitch::AdvertisementIntervalMs;
    int toldEveryMs = ServingSwitch::AdvertisementIntervalMs; // what the log said last
    bool search = false;                                      // chat-search: the rooms answer "send find"
};

namespace {

// The lines of one announcement: title, size, and the two commands.
constexpr int AnnouncementLines = 4;

} // namespace

struct ServedRooms::Room
{
    QString connection;
    QString name;
    QString label;
    RoomServer *server = nullptr;
    bool switchedOff = false; // by the operator: not switched on again at a join
    QString lastProblem;
};

ServedRooms::ServedRooms(LinkServer &server, QObject *parent) : QObject(parent), m_server(server)
{
    // Once the rooms added or removed together are all in place.
    m_paceCheck.setSingleShot(true);
    m_paceCheck.setInterval(0);
    connect(&m_paceCheck, &QTimer::timeout, this, &ServedRooms::paceAnnouncements);
}

ServedRooms::~ServedRooms() = default;

void ServedRooms::setSearch(const QString &connectionName, bool on)
{
    const auto found = m_connections.constFind(connectionName);
    if (found == m_connections.cend() || (*found)->search == on)
        return;
    (*found)->search = on;
    for (const std::shared_ptr<Room> &room : std::as_const(m_rooms)) {
        if (room->connection == connectionName)
            room->server->setSearch(on ? std::optional(m_server.searcher()) : std::nullopt);
    }
    m_paceCheck.start();
}

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
    room->switchedOff = !m_serveOnJoin && !m_allOn;
    room->server = new RoomServer(messenger, network.scheduler, &network.guard, m_server.descriptions(),
                                  m_server.addresses(), m_server.values(), this);
    room->server->setLabel(label);
    if (network.search)
        room->server->setSearch(m_server.searcher());
    connect(&room->server->responder(), &ChatResponder::answered, this,
            [this, connectionName, roomName](ChatCommand::Kind kind) {
                Q_EMIT commandAnswered(connectionName, roomName, kind);
            });
    connect(&room->server->responder(), &ChatResponder::searched, this,
            [this, connectionName, roomName](int matches) { Q_EMIT searched(connectionName, roomName, matches); });
    ++network.rooms;
    m_rooms.insert(messenger, room);
    m_paceCheck.start();
    // A tick over a changed pace starts the room's next round at the new one.
    QTimer *timer = room->server->timer();
    connect(timer, &QTimer::timeout, this, [this, timer, connectionName] {
        const std::shared_ptr<Connection> network = m_connections.value(connectionName);
        if (network && timer->interval() != network->announceEveryMs)
            timer->setInterval(network->announceEveryMs);
    });
    connect(room->server, &RoomServer::switchRefused, this,
            [label](const QString &text) { qCWarning(lcServing).noquote() << label << text; });
    // A join takes lines of the connection's pace the scheduler does not send;
    // the replies held while the connection was down go on.
    connect(messenger, &MorvexAIMOCX::AIM::roomJoined, network.scheduler,
            [scheduler = network.scheduler, cost = messenger->delivery().linesPerJoin] {
                scheduler->spend(cost);
                scheduler->resume();
            });
    connect(messenger, &MorvexAIMOCX::AIM::linesSent, network.scheduler, &SendScheduler::spend);
    // Once in the room, serving goes on as the "On" switch turns it on; after a
    // rejoin the room is still served and needs nothing more.
    connect(messenger, &MorvexAIMOCX::AIM::roomJoined, room->server, [this, weak = std::weak_ptr<Room>(room)] {
        if (const std::shared_ptr<Room> joined = weak.lock())
            serve(*joined);
    });
    // Left, kicked or refused: the room tells its problem.
    connect(messenger, &MorvexAIMOCX::AIM::problem, this,
            [this, weak = std::weak_ptr<Room>(room)](const QString &text) {
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
    if (room.switchedOff) {
        Q_EMIT changed(); // joined, and waiting for the operator's switch
        return;
    }
    if (room.server->isServing()) {
        Q_EMIT changed(); // joined again
        return;
    }
    room.server->switchOn(OpeningLines::Full);
    if (!room.server->isServing())
        return;
    spreadAnnouncement(room);
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
    m_paceCheck.start();
    if (--network->rooms == 0) {
        m_connections.remove(room->connection);
        // The last message keeps its scheduler alive until it is sent.
        connect(network->scheduler, &SendScheduler::roomFinished, network->scheduler, &QObject::deleteLater);
    }
    // The scheduler finishes the message on its way, then lets the messenger go.
    network->scheduler->dropRoom(messenger);
}

// Every room of a connection is announced once a minute, or less often when
// its pace is short (see RoomLines).
void ServedRooms::paceAnnouncements()
{
    for (auto found = m_connections.cbegin(); found != m_connections.cend(); ++found) {
        Connection &network = **found;
        const double rate = network.scheduler->linesPerSecond();
        const int linesPerRoom = AnnouncementLines + (network.search ? 1 : 0);
        network.announceEveryMs =
            RoomLines::announceEveryMs(ServingSwitch::AdvertisementIntervalMs, rate, network.rooms, linesPerRoom);
        for (const std::shared_ptr<Room> &room : std::as_const(m_rooms)) {
            if (room->connection == found.key() && !room->server->timer()->isActive())
                room->server->timer()->setInterval(network.announceEveryMs);
        }
        if (network.announceEveryMs == network.toldEveryMs)
            continue;
        network.toldEveryMs = network.announceEveryMs;
        if (network.announceEveryMs == ServingSwitch::AdvertisementIntervalMs) {
            qCInfo(lcServing).noquote() << u"[%1] Each room is announced every minute again"_s.arg(found.key());
            continue;
        }
        qCWarning(lcServing).noquote()
            << u"[%1] The %2 rooms need %3 lines a minute for their announcements, more than the %4 they may take "
               u"of send-rate %5 (the rest is kept for members' replies and the server's own pace): each room is "
               u"announced every %6 s "
               u"instead of every minute. Serve fewer rooms on this connection, or raise send-rate if the server "
               u"allows it."_s.arg(found.key())
                   .arg(network.rooms)
                   .arg(network.rooms * linesPerRoom)
                   .arg(int(rate * RoomLines::AnnouncementShare * 60))
                   .arg(rate)
                   .arg(network.announceEveryMs / 1000);
    }
}

// A room that starts serving is announced in the widest gap between the
// announcements of its connection's other rooms: fifty rooms joined together
// would otherwise all announce in one burst. Its first announcement comes
// within a round of its opening lines (identical lines still waiting are not
// sent twice).
void ServedRooms::spreadAnnouncement(Room &room)
{
    const std::shared_ptr<Connection> network = m_connections.value(room.connection);
    if (!network)
        return;
    std::vector<int> othersLeftMs;
    for (const std::shared_ptr<Room> &other : std::as_const(m_rooms)) {
        const QTimer *timer = other->server->timer();
        if (other.get() != &room && other->connection == room.connection && timer->isActive())
            othersLeftMs.push_back(timer->remainingTime());
    }
    // Alone, a room is announced a round after its opening lines.
    if (const int first = RoomLines::announcementSlot(othersLeftMs, network->announceEveryMs); first >= 0)
        room.server->timer()->start(first);
}

RoomServer *ServedRooms::roomServer(MorvexAIMOCX::AIM *room) const
{
    const std::shared_ptr<Room> found = m_rooms.value(room);
    return found ? found->server : nullptr;
}

QList<std::shared_ptr<ServedRooms::Room>> ServedRooms::sortedRooms() const
{
    QList<std::shared_ptr<Room>> rooms = m_rooms.values();
    std::sort(rooms.begin(), rooms.end(), [](const auto &a, const auto &b) {
        return std::tie(a->connection, a->name) < std::tie(b->connection, b->name);
    });
    return rooms;
}

QList<ServedRooms::RoomState> ServedRooms::states() const
{
    QList<RoomState> states;
    for (const std::shared_ptr<Room> &room : sortedRooms()) {
        MorvexAIMOCX::AIM *messenger = room->server->room();
        states.append({room->connection, room->name, messenger ? messenger->ScreenName() : QString(),
                       messenger && messenger->ChatRoom() != 0, room->server->isServing(), room->lastProblem});
    }
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
            const QString refused = switchRoom(*room->server, on, OpeningLines::Full, StopLine::NoLongerServing);
            if (room->server->isServing() != on)
                return refused.isEmpty() ? u"The room's serving could not be switched."_s : refused;
        }
        qCInfo(lcServing).noquote() << room->label
                                    << (on ? "Serving switched on by the operator"
                                           : "Serving switched off by the operator");
        Q_EMIT changed();
        return {};
    }
    return u"There is no room %1 on %2."_s.arg(roomName, connection);
}

QString ServedRooms::switchRoom(RoomServer &server, bool on, OpeningLines lines, StopLine line)
{
    QString refused;
    const QMetaObject::Connection told =
        connect(&server, &RoomServer::switchRefused, this, [&refused](const QString &text) { refused = text; });
    if (on)
        server.switchOn(lines);
    else
        server.switchOff(line);
    disconnect(told);
    return refused;
}

QString ServedRooms::switchAllOn(OpeningLines lines)
{
    QString refused;
    bool served = false;
    for (const std::shared_ptr<Room> &room : std::as_const(m_rooms)) {
        room->switchedOff = false;
        MorvexAIMOCX::AIM *messenger = room->server->room();
        // A room not joined yet gets its opening lines when it is.
        if (lines == OpeningLines::Short && (!messenger || messenger->ChatRoom() == 0))
            continue;
        const bool wasServing = room->server->isServing();
        if (const QString told = switchRoom(*room->server, true, lines, StopLine::NoLongerServing); refused.isEmpty())
            refused = told;
        if (!room->server->isServing())
            continue;
        served = true;
        if (!wasServing) {
            spreadAnnouncement(*room);
            qCInfo(lcServing).noquote() << room->label << "Serving switched on by the operator";
            Q_EMIT roomServing(messenger);
        }
    }
    if (!served) {
        for (const std::shared_ptr<Room> &room : std::as_const(m_rooms))
            room->switchedOff = true;
        Q_EMIT changed();
        return refused.isEmpty() ? u"There is no room to serve yet: the program is not in any chat room."_s : refused;
    }
    m_allOn = true;
    Q_EMIT changed();
    return {};
}

bool ServedRooms::switchAllOff(StopLine line)
{
    m_allOn = false;
    bool done = true;
    for (const std::shared_ptr<Room> &room : std::as_const(m_rooms)) {
        room->switchedOff = true;
        const bool wasServing = room->server->isServing();
        MorvexAIMOCX::AIM *messenger = room->server->room();
        // A room never joined has nobody to tell.
        if (!wasServing && m_rooms.size() > 1 && (!messenger || messenger->ChatRoom() == 0))
            continue;
        done = room->server->switchOff(line) && done;
        if (wasServing)
            qCInfo(lcServing).noquote() << room->label << "Serving switched off by the operator";
    }
    Q_EMIT changed();
    return done;
}

void ServedRooms::advertise()
{
    for (const std::shared_ptr<Room> &room : std::as_const(m_rooms)) {
        if (room->server->isServing())
            room->server->advertise();
    }
}

QList<QTimer *> ServedRooms::timers() const
{
    QList<QTimer *> timers;
    for (const std::shared_ptr<Room> &room : sortedRooms())
        timers.append(room->server->timer());
    return timers;
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
