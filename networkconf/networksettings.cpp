#include "networkconf/networksettings.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace {

const QStringList &trueWords()
{
    static const QStringList words{u"true"_s, u"yes"_s, u"on"_s, u"1"_s};
    return words;
}

const QStringList &falseWords()
{
    static const QStringList words{u"false"_s, u"no"_s, u"off"_s, u"0"_s};
    return words;
}

} // namespace

QString NetworkSettings::lineError(int line, const QString &what)
{
    return u"%1, line %2: %3"_s.arg(fileName()).arg(line).arg(what);
}

QString NetworkSettings::checkOption(const Option &option, OptionKind kind)
{
    switch (kind) {
    case OptionKind::Boolean:
        if (!trueWords().contains(option.value.toLower()) && !falseWords().contains(option.value.toLower()))
            return lineError(option.line, u"option.%1 takes true or false"_s.arg(option.name));
        return {};
    case OptionKind::Integer: {
        bool ok = false;
        const int value = option.value.toInt(&ok);
        if (!ok)
            return lineError(option.line, u"option.%1 takes a whole number"_s.arg(option.name));
        if (option.name == u"port" && (value < 1 || value > 65535))
            return lineError(option.line, u"option.port takes a port number from 1 to 65535"_s);
        return {};
    }
    case OptionKind::Text:
        return {};
    }
    return {};
}

QString NetworkSettings::unknownOption(const Option &option, const QStringList &known) const
{
    return lineError(option.line, u"%1 has no option \"%2\"; its options are: %3"_s.arg(protocolId, option.name,
                                                                                        known.join(u", "_s)));
}

bool NetworkSettings::isTrue(const QString &value)
{
    return trueWords().contains(value.toLower());
}

QString NetworkSettings::accountServer() const
{
    return account.section(u'@', 1).section(u'/', 0, 0);
}

QString NetworkSettings::serverHost() const
{
    if (const QString server = optionValue(u"connect_server"_s); !server.isEmpty())
        return server;
    return accountServer();
}

QString NetworkSettings::optionValue(const QString &name) const
{
    for (const Option &option : options) {
        if (option.name == name)
            return option.value;
    }
    return {};
}

namespace {

// An IRC join is the JOIN, and libpurple's WHO after it, which costs a second
// of the server's pace (ngircd's penalty) with itself.
Delivery withJoinCost(Delivery delivery, bool irc)
{
    if (irc && delivery.linesPerSecond > 0)
        delivery.linesPerJoin = 1 + delivery.linesPerSecond;
    return delivery;
}

} // namespace

Delivery NetworkSettings::delivery() const
{
    Delivery delivery;
    const bool irc = protocolId == u"prpl-irc";
    // IRC sends a line per line of a message, and servers pass only a few a
    // second; XMPP servers take what comes.
    delivery.lineByLine = irc;
    delivery.burst = sendBurst > 0 ? sendBurst : DefaultIrcBurst;
    if (sendRate >= 0) {
        delivery.linesPerSecond = sendRate;
        return withJoinCost(delivery, irc);
    }
    if (!irc)
        return delivery;
    // A file written for libpurple's own pacing keeps its figures.
    bool ok = false;
    if (const double interval = optionValue(u"ratelimit-interval"_s).toDouble(&ok); ok && interval >= 0)
        delivery.linesPerSecond = interval > 0 ? 1.0 / interval : 0.0;
    else
        delivery.linesPerSecond = DefaultIrcRate;
    if (const int burst = optionValue(u"ratelimit-burst"_s).toInt(&ok); ok && burst > 0 && sendBurst <= 0)
        delivery.burst = burst;
    return withJoinCost(delivery, irc);
}

QString NetworkSettings::fileName()
{
    return u"network.conf"_s;
}

NetworkSettings::Parsed NetworkSettings::parse(const QString &text)
{
    NetworkConfig::Parsed parsed = NetworkConfig::parse(text);
    if (!parsed.error.isEmpty())
        return {std::nullopt, parsed.error};
    return {std::move(parsed.value->connections.first()), {}};
}

bool NetworkSettings::sameRoom(const QString &one, const QString &other) const
{
    // IRC channels and XMPP room addresses are both compared without letter case.
    return one.compare(other, Qt::CaseInsensitive) == 0;
}
