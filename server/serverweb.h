#pragma once

#include "networkconf/networksettings.h"
#include "serving/cataloguechange.h"
#include "web/adminchange.h"
#include "web/websnapshot.h"

#include <QHash>
#include <QList>
#include <QObject>

#include <memory>

class BackgroundLinkCheck;
class LinkServer;
class NetworkServer;
class ServedRooms;
class WebFace;
class WebMetrics;

// The headless server's web face: it publishes what the pages show whenever
// the catalogue or a room changes, and keeps the figures of /metrics, all from
// the chat thread. The HTTP side runs on a thread of its own (WebFace).
class ServerWeb final : public QObject
{
    Q_OBJECT

public:
    // The server, rooms, networks (none without libpurple) and link check must outlive it.
    ServerWeb(LinkServer &server, ServedRooms &rooms, NetworkServer *networks, const BackgroundLinkCheck &links,
              QObject *parent = nullptr);
    ~ServerWeb() override;

    // Listens as the settings say; what went wrong otherwise.
    [[nodiscard]] QString start(const NetworkConfig::Web &settings);
    // The catalogue or the server message changed (nothing to do while the face is off).
    void publish();

Q_SIGNALS:
    // The admin page changed the catalogue or the server message.
    void catalogueChanged();

private:
    // Makes a change asked for on the admin page; what to tell the operator,
    // and the item to show (the one added or changed).
    AdminChange::Told run(const AdminChange::Change &asked);
    AdminChange::Told change(const CatalogueChange::Change &change, int item);
    // Members of the connection's rooms type on IRC clients.
    [[nodiscard]] bool isIrc(const QString &connection) const;
    // The gauges: queues, muted members, connections and rooms, the links.
    void refreshFigures();
    // What the last link check found, item by item, as the admin page shows it.
    [[nodiscard]] WebSnapshot::LinkCheck linkCheck() const;

    // Counts a command answered in a room, by the hour.
    void count(const QString &connection, const QString &room);
    // The last 24 hours of a room's counts, the oldest first.
    [[nodiscard]] QList<int> lastDay(const QString &connection, const QString &room);

    LinkServer &m_server;
    // Commands answered by room and hour (hours since the epoch): the last 24 kept.
    QHash<QString, QHash<qint64, int>> m_hourly;
    bool m_countsChanged = false; // since the last snapshot
    bool m_started = false;
    ServedRooms &m_rooms;
    NetworkServer *m_networks;
    const BackgroundLinkCheck &m_links;
    std::unique_ptr<WebMetrics> m_metrics;
    std::unique_ptr<WebFace> m_face;
};
