#pragma once

#include "networkconf/networksettings.h"

#include <QList>
#include <QStringList>

#include <utility>

// What a changed network.conf asks of the running connections, worked out as
// data before anything is touched: the server then applies it in one walk.
struct SettingsChange
{
    struct RoomOf
    {
        QString connection;
        NetworkSettings::Room room;
    };

    // Connections signed off: gone from the settings, or changed in more than their rooms.
    QStringList closed;
    // Connections signed on: new, or changed (closed first).
    QList<NetworkSettings> opened;
    // On connections that stay: rooms left (gone, or their key changed) and rooms joined (new, or joined again).
    QList<RoomOf> left;
    QList<RoomOf> joined;
    // chat-search of every connection that stays, which changes without signing on again.
    QList<std::pair<QString, bool>> search;

    // running: each connection's settings, with the rooms it is in now.
    [[nodiscard]] static SettingsChange between(const QList<NetworkSettings> &running, const NetworkConfig &wanted);
    // Two settings of one connection that differ only in their rooms (and
    // chat-search): the connection stays.
    [[nodiscard]] static bool sameConnection(const NetworkSettings &one, const NetworkSettings &other);
};
