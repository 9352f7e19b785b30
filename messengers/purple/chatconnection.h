#pragma once

#include "networkconf/networksettings.h"
#include "platform/messenger.h"

#include <QList>
#include <QObject>

#include <memory>

class PurpleMessenger;

// One account on a chat network through libpurple: signs on, stays signed on
// through dropped connections and server restarts, and keeps its rooms, a
// messenger each. Several connections share the one libpurple of the process.
class ChatConnection final : public QObject
{
    Q_OBJECT

public:
    // Makes a messenger for every room of the settings; start() signs on.
    explicit ChatConnection(NetworkSettings settings, QObject *parent = nullptr);
    ~ChatConnection() override;

    // Checks the settings against libpurple and signs on; the error otherwise.
    [[nodiscard]] QString start();
    // What libpurple cannot take in the settings (a protocol it lacks, an
    // option the protocol does not have), without signing on; empty when nothing.
    [[nodiscard]] static QString check(const NetworkSettings &settings);

    [[nodiscard]] const NetworkSettings &settings() const;
    // The connection's name in the log: "[libera]".
    [[nodiscard]] QString label() const;
    // The rooms, in the order of the settings; the connection owns them.
    [[nodiscard]] QList<PurpleMessenger *> rooms() const;
    [[nodiscard]] PurpleMessenger *room(const QString &name) const;
    // Joins one more room (now, or once signed on).
    PurpleMessenger *addRoom(const NetworkSettings::Room &room);
    // Leaves the room now: it is no longer one of rooms(), and a room of the
    // same name may be added at once. Its messenger stays for a reply on its way.
    void leaveRoom(PurpleMessenger *room);
    // Leaves the room if need be and deletes its messenger once the event loop is back.
    void removeRoom(PurpleMessenger *room);

    // Signs off now and lets the account go, for good: a connection made anew
    // with the same account may sign on at once. The rooms stay (without a
    // network) until the replies on their way are given up.
    void signOff();

    [[nodiscard]] bool isSignedOn() const;
    // The network turned the account away for good; it is not asked again.
    [[nodiscard]] bool isRefused() const;
    [[nodiscard]] Delivery delivery() const;

    // The first wait before signing on again after a lost connection; it doubles
    // with every failed try up to a minute. A room that does not let the program
    // in is tried again after five times as long, doubling up to five minutes,
    // and the program's nick (IRC) after twice as long. Tests make it shorter.
    void setReconnectDelay(int milliseconds);
    // How long a sign-on may take before the connection is given up and tried
    // again (30 s); tests make it shorter.
    void setSignOnDeadline(int milliseconds);

Q_SIGNALS:
    // Something the operator should read about the connection: a lost connection.
    void problem(const QString &text);
    // The network turned the account away for good; the text says why.
    void signOnRefused(const QString &text);
    void signedOn();
    // An instant message to this account (for logs and the tests' member clients).
    void instantMessageReceived(const QString &sender, const QString &text);

public:
    // The connection's state and its part of libpurple's callbacks, in the source file.
    struct Private;
    [[nodiscard]] Private &parts() const { return *d; }

private:
    std::unique_ptr<Private> d;
};
