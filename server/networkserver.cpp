#include "server/networkserver.h"

#include "server/serverlog.h"

#include "messengers/purple/chatconnection.h"
#include "messengers/purple/purplemessenger.h"
#include "networkconf/settingschange.h"
#include "serving/servedrooms.h"

#include <QLoggingCategory>

#include <algorithm>

using namespace Qt::StringLiterals;

NetworkServer::NetworkServer(ServedRooms &rooms, QObject *parent) : QObject(parent), m_rooms(rooms)
{
    // A removed room's messenger goes once its last reply is out.
    connect(&m_rooms, &ServedRooms::released, this, [](MorvexAIMOCX::AIM *room) {
        auto *messenger = qobject_cast<PurpleMessenger *>(room);
        if (messenger)
            messenger->connection().removeRoom(messenger);
    });
}

NetworkServer::~NetworkServer()
{
    // The program is closing: the rooms stop being served, then their
    // messengers go with their connections.
    disconnect(&m_rooms, nullptr, this, nullptr);
    for (const auto &[name, connection] : m_connections) {
        for (PurpleMessenger *room : connection->rooms())
            m_rooms.removeRoom(room);
    }
    m_connections.clear();
}

ChatConnection *NetworkServer::connection(const QString &name) const
{
    const auto found = m_connections.find(name);
    return found == m_connections.end() ? nullptr : found->second.get();
}

QString NetworkServer::start(const NetworkConfig &config)
{
    for (const NetworkSettings &settings : config.connections) {
        if (const QString wrong = open(settings); !wrong.isEmpty()) {
            m_connections.clear();
            return wrong;
        }
    }
    qCInfo(lcServer) << "Serving" << config.roomCount() << "room(s) on" << config.connections.size() << "connection(s)";
    return {};
}

QString NetworkServer::open(const NetworkSettings &settings)
{
    auto owned = std::make_unique<ChatConnection>(settings);
    ChatConnection *connection = owned.get();
    if (m_reconnectDelayMs > 0)
        connection->setReconnectDelay(m_reconnectDelayMs);
    if (const QString wrong = connection->start(); !wrong.isEmpty())
        return settings.name.isEmpty() ? wrong : u"[%1] %2"_s.arg(settings.name, wrong);
    if (const Delivery delivery = connection->delivery(); delivery.linesPerSecond > 0) {
        qCInfo(lcServer).noquote() << connection->label()
                                   << u"Sending at most %1 line(s) a second after %2 at once (send-rate, "
                                      u"send-burst)"_s.arg(delivery.linesPerSecond)
                                          .arg(delivery.burst);
    }
    // A refused connection is told once (by the connection) and stays down.
    connect(connection, &ChatConnection::signOnRefused, this, &NetworkServer::checkRefused);
    connect(connection, &ChatConnection::signedOn, this, [this, connection, first = true]() mutable {
        if (!std::exchange(first, false))
            Q_EMIT reconnected(connection->settings().name);
    });
    m_connections[settings.name] = std::move(owned);
    for (PurpleMessenger *room : connection->rooms()) {
        countJoins(connection, room);
        m_rooms.addRoom(settings.name, room->roomName(), room);
    }
    m_rooms.setSearch(settings.name, settings.chatSearch);
    return {};
}

void NetworkServer::close(const QString &name)
{
    ChatConnection *connection = this->connection(name);
    if (!connection)
        return;
    qCInfo(lcServer).noquote() << connection->label() << "Signing off: the connection is no longer in the settings";
    for (PurpleMessenger *room : connection->rooms())
        m_rooms.removeRoom(room);
    std::unique_ptr<ChatConnection> closed = std::move(m_connections.at(name));
    m_connections.erase(name);
    // Off the network now, so that the same account, changed, signs on again
    // at once; the object goes once the event loop is back (a reply may still
    // be on its way in this call).
    closed->signOff();
    closed.release()->deleteLater();
}

void NetworkServer::addRoom(ChatConnection *connection, const NetworkSettings::Room &room)
{
    PurpleMessenger *messenger = connection->addRoom(room);
    qCInfo(lcServer).noquote() << messenger->label() << "Joining the room: it is new in the settings";
    countJoins(connection, messenger);
    m_rooms.addRoom(connection->settings().name, messenger->roomName(), messenger);
}

void NetworkServer::countJoins(ChatConnection *connection, PurpleMessenger *room)
{
    connect(room, &MorvexAIMOCX::AIM::roomJoined, this, [this, connection, room, first = true]() mutable {
        if (!std::exchange(first, false))
            Q_EMIT rejoined(connection->settings().name, room->roomName());
    });
}

void NetworkServer::removeRoom(ChatConnection *connection, const QString &room)
{
    if (PurpleMessenger *messenger = connection->room(room)) {
        qCInfo(lcServer).noquote() << messenger->label() << "Leaving the room: it is no longer in the settings";
        m_rooms.removeRoom(messenger);
        // Gone from the connection's rooms at once, so a room of that name (a new key) can join again.
        connection->leaveRoom(messenger);
    }
}

QStringList NetworkServer::apply(const NetworkConfig &config)
{
    QList<NetworkSettings> running;
    for (const auto &[name, connection] : m_connections) {
        NetworkSettings now = connection->settings();
        now.rooms.clear();
        for (const PurpleMessenger *room : connection->rooms())
            now.rooms.append(room->roomSettings());
        running.append(now);
    }
    const SettingsChange change = SettingsChange::between(running, config);
    // A setting libpurple cannot take leaves every connection as it was.
    for (const NetworkSettings &settings : change.opened) {
        if (const QString wrong = ChatConnection::check(settings); !wrong.isEmpty()) {
            return {u"[%1] %2 The changed %3 was not applied; the rooms go on as they were."_s.arg(
                settings.name, wrong, NetworkSettings::fileName())};
        }
    }

    for (const QString &name : change.closed)
        close(name);
    for (const SettingsChange::RoomOf &room : change.left)
        removeRoom(connection(room.connection), room.room.name);
    for (const SettingsChange::RoomOf &room : change.joined)
        addRoom(connection(room.connection), room.room);
    for (const auto &[name, on] : change.search)
        m_rooms.setSearch(name, on);
    QStringList told;
    for (const NetworkSettings &settings : change.opened) {
        if (const QString wrong = open(settings); !wrong.isEmpty())
            told.append(wrong);
        else
            told.append(u"[%1] Signing on: the connection is new or changed in the settings"_s.arg(settings.name));
    }
    checkRefused();
    return told;
}

void NetworkServer::checkRefused()
{
    if (m_connections.empty())
        return;
    const bool all = std::all_of(m_connections.cbegin(), m_connections.cend(),
                                 [](const auto &entry) { return entry.second->isRefused(); });
    if (all)
        Q_EMIT allRefused();
}
