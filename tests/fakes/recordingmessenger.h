#pragma once

#include "platform/messenger.h"

#include <QStringList>

// A messenger that writes down every call made to it, in order, and can be told
// to fail any one of them.
class RecordingMessenger final : public MorvexAIMOCX::AIM
{
    Q_OBJECT

public:
    QString screenName = QStringLiteral("Link Desk");
    bool running = true;
    // False: the network is lost, and what would go out throws NotConnected.
    bool connected = true;
    qint32 chatRoom = 7;
    // How the network takes what is sent (read when a scheduler is made).
    Delivery network;
    // Calls whose name is here throw MessengerError.
    QStringList failing;
    // One entry per call: "SendChat:<text>", "SendIM:<name>:<text>", "FinishIM:<name>", ...
    QStringList calls;

    [[nodiscard]] QString ScreenName() const override { return screenName; }
    [[nodiscard]] bool IsRunning() const override
    {
        const_cast<RecordingMessenger *>(this)->record(QStringLiteral("IsRunning"));
        return running;
    }
    [[nodiscard]] qint32 ChatRoom() const override
    {
        const_cast<RecordingMessenger *>(this)->record(QStringLiteral("ChatRoom"));
        return chatRoom;
    }
    void SendChat(const QString &text) override { record(QStringLiteral("SendChat"), text); }
    void SendIM(const QString &name, const QString &text) override
    {
        record(QStringLiteral("SendIM"), name + u':' + text);
    }
    void FinishIM(const QString &name) override { record(QStringLiteral("FinishIM"), name); }
    void StartChatWatch() override { record(QStringLiteral("StartChatWatch")); }
    void StopChatWatch() override { record(QStringLiteral("StopChatWatch")); }
    [[nodiscard]] Delivery delivery() const override { return network; }

    [[nodiscard]] QStringList callsNamed(const QString &name) const
    {
        QStringList found;
        for (const QString &call : calls) {
            if (call.section(u':', 0, 0) == name)
                found.append(call.section(u':', 1));
        }
        return found;
    }

private:
    void record(const QString &name, const QString &argument = QString())
    {
        if (!connected && (name == u"SendChat" || name == u"SendIM" || name == u"FinishIM"))
            throw NotConnected(name + QStringLiteral(": not connected"));
        calls.append(argument.isNull() ? name : name + u':' + argument);
        if (failing.contains(name))
            throw MessengerError(name + QStringLiteral(" failed"));
    }
};
