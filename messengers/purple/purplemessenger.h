#pragma once

#include "networkconf/networksettings.h"
#include "platform/messenger.h"

#include <memory>

class ChatConnection;

// The messenger of one room on a real chat network, through libpurple: it
// joins the room once its connection is signed on, and again after a kick or a
// lost connection. No GLib or libpurple type shows outside this folder.
class PurpleMessenger final : public MorvexAIMOCX::AIM
{
    Q_OBJECT

public:
    // Starts libpurple (once per process) with its files in userFolder. Returns
    // what is wrong when it cannot start or the settings name something it lacks.
    [[nodiscard]] static QString initialise(const QString &userFolder);
    // IRC lines leave as soon as the program sends them (the default), or at the
    // tick of libpurple's own once-a-second queue; the latency bench compares both.
    static void setIrcLinesHandedOver(bool on);

    // A connection of its own, serving the first room of the settings (or no
    // room: a member that only takes messages). Its connection's problems are its own.
    explicit PurpleMessenger(NetworkSettings settings, QObject *parent = nullptr);
    // One room of a connection; the connection makes it.
    PurpleMessenger(ChatConnection *connection, NetworkSettings::Room room);
    ~PurpleMessenger() override;

    // Checks the settings against libpurple and signs on; the error otherwise.
    [[nodiscard]] QString start();

    [[nodiscard]] ChatConnection &connection() const;
    // The room as the settings name it, and "[libera #links]" for the log.
    [[nodiscard]] QString roomName() const;
    [[nodiscard]] const NetworkSettings::Room &roomSettings() const;
    [[nodiscard]] QString label() const;
    [[nodiscard]] bool isJoined() const { return ChatRoom() != 0; }

    [[nodiscard]] QString ScreenName() const override;
    [[nodiscard]] bool IsRunning() const override;
    [[nodiscard]] qint32 ChatRoom() const override;
    void SendChat(const QString &text) override;
    void SendIM(const QString &screenName, const QString &text) override;
    void FinishIM(const QString &screenName) override;
    void StartChatWatch() override;
    void StopChatWatch() override;
    [[nodiscard]] Delivery delivery() const override;
    // On IRC a nick is one person on the whole network; in an XMPP room a nick
    // is the room's own: room@service/nick.
    [[nodiscard]] QString memberAddress(const QString &member) const override;

    // See ChatConnection.
    void setReconnectDelay(int milliseconds);
    void setSignOnDeadline(int milliseconds);

    // Turns a text of this program (HTML, CR line breaks) into what libpurple
    // sends safely: every line break a <br>, a tab a blank, no raw CR, LF, NUL
    // or other control character.
    [[nodiscard]] static QString wireText(const QString &text);

Q_SIGNALS:
    // An instant message to this account (for logs and the tests' member clients).
    void instantMessageReceived(const QString &sender, const QString &text);

public:
    // The room's state and its part of libpurple's callbacks, in the source file.
    struct Private;
    [[nodiscard]] Private &parts() const { return *d; }

private:
    std::unique_ptr<Private> d;
};
