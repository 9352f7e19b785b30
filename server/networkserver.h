#pragma once

#include "networkconf/networksettings.h"

#include <QObject>

#include <map>
#include <memory>

class ChatConnection;
class PurpleMessenger;
class ServedRooms;

// The chat networks of the headless server, as network.conf has them: a
// connection for every section, each of its rooms served by ServedRooms. A
// connection that is refused stays down while the others serve; a changed
// file is applied as a difference, leaving what did not change untouched.
class NetworkServer final : public QObject
{
    Q_OBJECT

public:
    // The rooms are served by the owner given; it must outlive this server.
    explicit NetworkServer(ServedRooms &rooms, QObject *parent = nullptr);
    ~NetworkServer() override;

    // Signs on to every connection of the settings; what is wrong with them
    // otherwise (nothing is started then).
    [[nodiscard]] QString start(const NetworkConfig &config);
    // Applies changed settings: new connections sign on, new rooms are joined,
    // removed ones left, and the rest goes on untouched. A mistake refuses the
    // change as a whole. Returns what to log.
    [[nodiscard]] QStringList apply(const NetworkConfig &config);

    [[nodiscard]] int connectionCount() const { return int(m_connections.size()); }
    [[nodiscard]] ChatConnection *connection(const QString &name) const;

    // For tests: shorter waits before signing on or joining again.
    void setReconnectDelay(int milliseconds) { m_reconnectDelayMs = milliseconds; }

Q_SIGNALS:
    // Every connection was turned away for good: nothing is served, nor will be.
    void allRefused();
    // A lost connection signed on again; a room was joined again.
    void reconnected(const QString &connection);
    void rejoined(const QString &connection, const QString &room);

private:
    // Makes and signs on a connection; what is wrong otherwise (the connection is gone then).
    [[nodiscard]] QString open(const NetworkSettings &settings);
    void close(const QString &name);
    void addRoom(ChatConnection *connection, const NetworkSettings::Room &room);
    void countJoins(ChatConnection *connection, PurpleMessenger *room);
    void removeRoom(ChatConnection *connection, const QString &room);
    void checkRefused();

    ServedRooms &m_rooms;
    std::map<QString, std::unique_ptr<ChatConnection>> m_connections;
    int m_reconnectDelayMs = 0;
};
