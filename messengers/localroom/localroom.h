#pragma once

#include "platform/messenger.h"

#include <QHash>
#include <QList>
#include <QStringList>

// A chat room inside the program, used when no chat network is set up: the
// operator (and the tests) post lines under any member name and read what each
// member was sent. The program takes part under its own screen name.
class LocalRoom final : public MorvexAIMOCX::AIM
{
    Q_OBJECT

public:
    struct Line
    {
        QString sender;
        QString text;
    };

    explicit LocalRoom(QString screenName = QStringLiteral("Link Desk"), QObject *parent = nullptr);

    [[nodiscard]] QString ScreenName() const override { return m_screenName; }
    [[nodiscard]] bool IsRunning() const override { return m_running; }
    [[nodiscard]] qint32 ChatRoom() const override { return m_running && m_inRoom ? RoomNumber : 0; }
    void SendChat(const QString &text) override;
    void SendIM(const QString &screenName, const QString &text) override;
    void FinishIM(const QString &screenName) override;
    void StartChatWatch() override { m_watching = true; }
    void StopChatWatch() override { m_watching = false; }

    // A member writes a line in the room. It reaches the program through ChatLine
    // from the event loop, as a line from a network would.
    void post(const QString &member, const QString &text);

    void setRunning(bool running);
    void setInRoom(bool inRoom);

    [[nodiscard]] const QList<Line> &roomLines() const { return m_roomLines; }
    // Every instant message a member was sent, oldest first.
    [[nodiscard]] QStringList messagesTo(const QString &member) const { return m_messages.value(member); }

Q_SIGNALS:
    void roomLineAdded(const LocalRoom::Line &line);
    void messageSent(const QString &member, const QString &text);
    void stateChanged();

private:
    void requireRunning(const char *call) const;

    static constexpr qint32 RoomNumber = 1;

    QString m_screenName;
    bool m_running = true;
    bool m_inRoom = true;
    bool m_watching = false;
    QList<Line> m_roomLines;
    QHash<QString, QStringList> m_messages;
};
