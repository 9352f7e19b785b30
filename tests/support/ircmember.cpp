#include "support/ircmember.h"

#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;

IrcMember::IrcMember(QString nick, quint16 port, QObject *parent)
    : QObject(parent), m_nick(std::move(nick)), m_port(port)
{
    m_clock.start();
    connect(&m_socket, &QTcpSocket::readyRead, this, &IrcMember::readLines);
}

void IrcMember::startJoin(const QString &channel)
{
    m_channel = channel;
    m_joined = false;
    m_registered = false;
    m_socket.abort();
    connect(
        &m_socket, &QTcpSocket::connected, this,
        [this] {
            if (!m_password.isEmpty())
                sendRaw("PASS " + m_password.toUtf8());
            sendRaw("NICK " + m_nick.toUtf8());
            sendRaw("USER " + m_nick.toUtf8() + " 0 * :Test member");
        },
        Qt::SingleShotConnection);
    m_socket.connectToHost(u"127.0.0.1"_s, m_port);
}

bool IrcMember::join(const QString &channel, int timeoutMs)
{
    startJoin(channel);
    return QTest::qWaitFor([this] { return m_joined; }, timeoutMs);
}

bool IrcMember::joinAll(const std::vector<std::unique_ptr<IrcMember>> &members, const QString &channel, int timeoutMs)
{
    for (const auto &member : members)
        member->startJoin(channel);
    return QTest::qWaitFor(
        [&] {
            return std::all_of(members.cbegin(), members.cend(), [](const auto &member) { return member->m_joined; });
        },
        timeoutMs);
}

void IrcMember::say(const QString &text)
{
    sendRaw("PRIVMSG " + m_channel.toUtf8() + " :" + text.toUtf8());
}

void IrcMember::sendRaw(const QByteArray &line)
{
    m_socket.write(line + "\r\n");
    m_socket.flush();
}

QList<IrcMember::Message> IrcMember::privateMessages() const
{
    QList<Message> found;
    for (const Message &message : m_received) {
        if (message.target.compare(m_nick, Qt::CaseInsensitive) == 0)
            found.append(message);
    }
    return found;
}

QList<IrcMember::Message> IrcMember::channelMessages() const
{
    QList<Message> found;
    for (const Message &message : m_received) {
        if (message.target.compare(m_channel, Qt::CaseInsensitive) == 0)
            found.append(message);
    }
    return found;
}

void IrcMember::readLines()
{
    while (m_socket.canReadLine()) {
        QByteArray line = m_socket.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        handle(QString::fromUtf8(line));
    }
}

void IrcMember::handle(const QString &line)
{
    m_rawLines.append(line);
    QString prefix;
    QString rest = line;
    if (rest.startsWith(u':')) {
        const qsizetype space = rest.indexOf(u' ');
        prefix = rest.mid(1, space - 1);
        rest = rest.mid(space + 1);
    }
    const QString command = rest.section(u' ', 0, 0);
    if (command == u"PING") {
        sendRaw("PONG " + rest.section(u' ', 1).toUtf8());
    } else if (command == u"001") {
        m_registered = true;
        sendRaw("JOIN " + m_channel.toUtf8());
    } else if (command == u"366") { // end of the names list: in the channel
        m_joined = true;
    } else if (command == u"353") {
        m_names = rest.section(u':', 1).split(u' ', Qt::SkipEmptyParts);
    } else if (command == u"JOIN" || command == u"PART" || command == u"QUIT" || command == u"KICK") {
        // Who is in the channel, as the channel's news tells it.
        const QString who = command == u"KICK" ? rest.section(u' ', 2, 2) : prefix.section(u'!', 0, 0);
        m_names.removeIf([&who](const QString &name) { return name == who || name.mid(1) == who; });
        if (command == u"JOIN")
            m_names.append(who);
    } else if (command == u"PRIVMSG") {
        const QString target = rest.section(u' ', 1, 1);
        const qsizetype colon = rest.indexOf(u" :");
        m_received.append(
            {prefix.section(u'!', 0, 0), target, colon < 0 ? QString() : rest.mid(colon + 2), m_clock.elapsed()});
        Q_EMIT messageReceived(m_received.last());
    }
}
