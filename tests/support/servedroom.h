#pragma once

#include "messengers/purple/purplemessenger.h"
#include "networkconf/networksettings.h"
#include "platform/rowlist.h"
#include "serving/linkserver.h"
#include "serving/roomserver.h"
#include "serving/sendscheduler.h"
#include "serving/servingswitch.h"

#include <QTemporaryDir>

#include <memory>

// The program serving a room of a real chat network, set up as the windowless
// server sets itself up: a catalogue of "Item N about links" rows in memory, a
// data folder of its own, a libpurple messenger and the link server.
class ServedRoom final
{
public:
    explicit ServedRoom(int items);
    ~ServedRoom();

    // What a throttled ngircd passes from one client: three lines a second.
    static constexpr double NgircdLinesPerSecond = 3;
    // An account on a test IRC server; the program sends this many lines a
    // second (0: as fast as it can, for a server without flood penalties).
    [[nodiscard]] static NetworkSettings ircSettings(quint16 port, const QString &room, double linesPerSecond = 0,
                                                     const QString &nick = QStringLiteral("linkdesk"));
    // An account of the user (password "secret") on a test XMPP server, in its room "links".
    [[nodiscard]] static NetworkSettings xmppSettings(const QString &user, quint16 port);

    // Starts libpurple once for the whole test process, in a folder of its own.
    [[nodiscard]] static QString startPurple();
    [[nodiscard]] static QString purpleFolder();

    // Signs on with the settings and waits until the program is in its room
    // (no wait for a timeout of 0); the error otherwise.
    [[nodiscard]] QString start(const NetworkSettings &settings, int timeoutMs = 20000);
    // Turns serving on as the "On" switch does; false when it stayed off.
    bool switchOn();
    // Answers "send find" (on) or ignores it (off), as chat-search sets it; the
    // search reads the rows as they are now.
    void setSearch(bool on);

    [[nodiscard]] PurpleMessenger &messenger() { return *m_messenger; }
    // The catalogue and the values; the room's serving, and the scheduler it sends through.
    [[nodiscard]] LinkServer &server() { return *m_server; }
    [[nodiscard]] RoomServer &room() { return *m_room; }
    [[nodiscard]] SendScheduler &scheduler() { return *m_scheduler; }
    [[nodiscard]] StringRowList &descriptions() { return m_descriptions; }
    [[nodiscard]] StringRowList &addresses() { return m_addresses; }

private:
    QTemporaryDir m_dataFolder;
    StringRowList m_descriptions;
    StringRowList m_addresses;
    std::unique_ptr<PurpleMessenger> m_messenger;
    std::unique_ptr<LinkServer> m_server;
    std::unique_ptr<SendScheduler> m_scheduler;
    std::unique_ptr<RoomServer> m_room;
};
