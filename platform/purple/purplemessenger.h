#pragma once

#include "platform/messenger.h"
#include "platform/network/networksettings.h"

#include <memory>

// The messenger on a real chat network, through libpurple: signs on to one
// account, joins one room, and keeps both up through dropped connections and
// server restarts. No GLib or libpurple type shows outside this folder.
class PurpleMessenger final : public MorvexAIMOCX::AIM
{
    Q_OBJECT

public:
    // Starts libpurple (once per process) with its files in userFolder. Returns
    // what is wrong when it cannot start or the settings name something it lacks.
    [[nodiscard]] static QString initialise(const QString &userFolder);

    explicit PurpleMessenger(NetworkSettings settings, QObject *parent = nullptr);
    ~PurpleMessenger() override;

    // Checks the settings against libpurple and signs on; the error otherwise.
    [[nodiscard]] QString start();

    [[nodiscard]] QString ScreenName() const override;
    [[nodiscard]] bool IsRunning() const override;
    [[nodiscard]] qint32 ChatRoom() const override;
    void SendChat(const QString &text) override;
    void SendIM(const QString &screenName, const QString &text) override;
    void FinishIM(const QString &screenName) override;
    void StartChatWatch() override;
    void StopChatWatch() override;
    [[nodiscard]] MorvexAIMOCX::Delivery delivery() const override;

    // The first wait before signing on again after a lost connection; it doubles
    // with every failed try up to a minute. A room that does not let the program
    // in is tried again after five times as long, doubling up to five minutes.
    // Tests make it shorter.
    void setReconnectDelay(int milliseconds);
    // How long a sign-on may take before the connection is given up and tried
    // again (30 s); tests make it shorter.
    void setSignOnDeadline(int milliseconds);

    // Turns a text of this program (HTML, CR line breaks) into what libpurple
    // sends safely: every line break a <br>, a tab a blank, no raw CR, LF, NUL
    // or other control character.
    [[nodiscard]] static QString wireText(const QString &text);

Q_SIGNALS:
    // An instant message to this account (for logs and the tests' member clients).
    void instantMessageReceived(const QString &sender, const QString &text);

public:
    // The messenger's state and its part of libpurple's callbacks, in the source file.
    struct Private;

private:
    std::unique_ptr<Private> d;
};
