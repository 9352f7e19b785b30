#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTcpSocket>

#include <memory>
#include <vector>

// A member of an IRC room, speaking the protocol over a plain socket, so the
// tests see exactly what a person's client would receive.
class IrcMember final : public QObject
{
    Q_OBJECT

public:
    struct Message
    {
        QString from;
        QString target; // the channel, or this member's nick for a private message
        QString text;
        qint64 atMs = 0;
    };

    IrcMember(QString nick, quint16 port, QObject *parent = nullptr);

    // Connects, registers and joins the channel; false after the timeout.
    [[nodiscard]] bool join(const QString &channel, int timeoutMs = 10000);
    // Begins to join; the member is in once isInChannel().
    void startJoin(const QString &channel);
    // Joins all the members at once (a throttled server registers each slowly).
    [[nodiscard]] static bool joinAll(const std::vector<std::unique_ptr<IrcMember>> &members, const QString &channel,
                                      int timeoutMs = 20000);
    void say(const QString &text);
    // The server's password, for a server that asks for one (set before join).
    void setPassword(const QString &password) { m_password = password; }
    void sendRaw(const QByteArray &line);

    [[nodiscard]] const QList<Message> &received() const { return m_received; }
    [[nodiscard]] QList<Message> privateMessages() const;
    [[nodiscard]] QList<Message> channelMessages() const;
    // Every line the server sent, as it came.
    [[nodiscard]] const QStringList &rawLines() const { return m_rawLines; }
    [[nodiscard]] bool isInChannel() const { return m_joined; }
    // Who is in the channel (operators with their "@"), kept up as people come and go.
    [[nodiscard]] QStringList namesInChannel() const { return m_names; }
    void clear() { m_received.clear(); }

Q_SIGNALS:
    void messageReceived(const IrcMember::Message &message);

private:
    void readLines();
    void handle(const QString &line);

    QString m_nick;
    quint16 m_port;
    QString m_channel;
    QString m_password;
    QTcpSocket m_socket;
    QElapsedTimer m_clock;
    bool m_registered = false;
    bool m_joined = false;
    QStringList m_names;
    QList<Message> m_received;
    QStringList m_rawLines;
};
