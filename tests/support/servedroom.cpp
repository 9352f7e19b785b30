#include "support/servedroom.h"

#include "serving/roomserver.h"

#include <QSignalSpy>

using namespace Qt::StringLiterals;

ServedRoom::ServedRoom(int items)
{
    for (int i = 0; i < items; ++i) {
        m_descriptions.AddItem(u"Item %1 about links"_s.arg(i));
        m_addresses.AddItem(u"http://example.org/page/%1"_s.arg(i));
    }
}

ServedRoom::~ServedRoom()
{
    m_server.reset();
    m_messenger.reset();
}

NetworkSettings ServedRoom::ircSettings(quint16 port, const QString &room, double linesPerSecond, const QString &nick)
{
    NetworkSettings settings;
    settings.protocolId = u"prpl-irc"_s;
    settings.account = nick + u"@127.0.0.1"_s;
    settings.rooms = {NetworkSettings::Room{room, {}, 0}};
    settings.options = {{u"port"_s, QString::number(port), 1}};
    settings.sendRate = linesPerSecond;
    settings.sendBurst = linesPerSecond >= 1 ? int(linesPerSecond) : NetworkSettings::DefaultIrcBurst;
    return settings;
}

NetworkSettings ServedRoom::xmppSettings(const QString &user, quint16 port)
{
    NetworkSettings settings;
    settings.protocolId = u"prpl-jabber"_s;
    settings.account = u"%1@localhost/valdrin"_s.arg(user);
    settings.password = u"secret"_s;
    settings.rooms = {NetworkSettings::Room{u"links@conference.localhost"_s, {}, 0}};
    settings.options = {{u"port"_s, QString::number(port), 1},
                        {u"connect_server"_s, u"127.0.0.1"_s, 2},
                        {u"connection_security"_s, u"opportunistic_tls"_s, 3},
                        {u"auth_plain_in_clear"_s, u"true"_s, 4}};
    return settings;
}

QString ServedRoom::purpleFolder()
{
    static QTemporaryDir folder;
    return folder.path();
}

QString ServedRoom::startPurple()
{
    return PurpleMessenger::initialise(purpleFolder());
}

QString ServedRoom::start(const NetworkSettings &settings, int timeoutMs)
{
    if (const QString error = startPurple(); !error.isEmpty())
        return error;
    m_messenger = std::make_unique<PurpleMessenger>(settings);
    m_server = std::make_unique<LinkServer>(m_descriptions, m_addresses, DataFolder(m_dataFolder.path()));
    m_scheduler = std::make_unique<SendScheduler>(m_messenger.get());
    m_room = std::make_unique<RoomServer>(m_messenger.get(), m_scheduler.get(), nullptr, m_descriptions, m_addresses,
                                          m_server->values());
    QSignalSpy joined(m_messenger.get(), &MorvexAIMOCX::AIM::roomJoined);
    if (const QString error = m_messenger->start(); !error.isEmpty())
        return error;
    if (timeoutMs > 0 && !joined.wait(timeoutMs))
        return u"the program did not reach its room within %1 ms"_s.arg(timeoutMs);
    return {};
}

bool ServedRoom::switchOn()
{
    m_room->switchOn(OpeningLines::Full);
    return m_room->isServing();
}

void ServedRoom::setSearch(bool on)
{
    m_server->BuildList();
    m_room->setSearch(on ? std::optional(m_server->searcher()) : std::nullopt);
}
