#include "platform/network/networksettings.h"

#include "platform/addon.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// The names people use for the protocols, and libpurple's ids for them.
const QHash<QString, QString> &protocolAliases()
{
    static const QHash<QString, QString> aliases{
        {u"irc"_s, u"prpl-irc"_s}, {u"xmpp"_s, u"prpl-jabber"_s}, {u"jabber"_s, u"prpl-jabber"_s}};
    return aliases;
}

bool holdsControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

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
    return lineError(option.line,
                     u"%1 has no option \"%2\"; its options are: %3"_s.arg(protocolId, option.name, known.join(u", "_s)));
}

bool NetworkSettings::isTrue(const QString &value)
{
    return trueWords().contains(value.toLower());
}

QString NetworkSettings::serverHost() const
{
    if (const QString server = optionValue(u"connect_server"_s); !server.isEmpty())
        return server;
    return account.section(u'@', 1).section(u'/', 0, 0);
}

QString NetworkSettings::optionValue(const QString &name) const
{
    for (const Option &option : options) {
        if (option.name == name)
            return option.value;
    }
    return {};
}

MorvexAIMOCX::Delivery NetworkSettings::delivery() const
{
    MorvexAIMOCX::Delivery delivery;
    const bool irc = protocolId == u"prpl-irc";
    // IRC sends a line per line of a message, and servers pass only a few a
    // second; XMPP servers take what comes.
    delivery.lineByLine = irc;
    delivery.burst = sendBurst > 0 ? sendBurst : DefaultIrcBurst;
    if (sendRate >= 0) {
        delivery.linesPerSecond = sendRate;
        return delivery;
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
    return delivery;
}

QString NetworkSettings::fileName()
{
    return u"network.conf"_s;
}

NetworkSettings::Parsed NetworkSettings::parse(const QString &text)
{
    NetworkSettings settings;
    QString passwordVariable;
    int passwordVariableLine = 0;
    QHash<QString, int> seen;
    int nickLine = 0;
    const QStringList lines = text.split(u'\n');
    for (int index = 0; index < lines.size(); ++index) {
        const int number = index + 1;
        QString line = lines[index];
        if (line.endsWith(u'\r'))
            line.chop(1);
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            // The line is not repeated: it may hold a password.
            return {std::nullopt, lineError(number, u"expected \"key = value\""_s)};
        const QString key = line.left(equals).trimmed().toLower();
        QString value = line.mid(equals + 1).trimmed();
        if (key.isEmpty())
            return {std::nullopt, lineError(number, u"a value without a key"_s)};
        if (seen.contains(key))
            return {std::nullopt, lineError(number, u"\"%1\" is already set on line %2"_s.arg(key).arg(seen[key]))};
        seen.insert(key, number);

        // A control character (a NUL, say) would cut the value short on its way
        // into libpurple, which would then use something else than what the file says.
        if (holdsControlCharacter(value)) {
            return {std::nullopt, lineError(number, u"the value of \"%1\" holds a control character (such as NUL "
                                                    u"or a tab); remove it"_s.arg(key))};
        }
        // An empty value is never what a person meant; libpurple cannot take it.
        if (value.isEmpty() && !key.startsWith(u"option."))
            return {std::nullopt, lineError(number, u"\"%1\" has no value"_s.arg(key))};
        if (key == u"protocol") {
            settings.protocolId = protocolAliases().value(value.toLower(), value);
            settings.protocolLine = number;
        } else if (key == u"account") {
            settings.account = value;
        } else if (key == u"password") {
            settings.password = value;
        } else if (key == u"password-env") {
            passwordVariable = value;
            passwordVariableLine = number;
        } else if (key == u"room") {
            settings.room = value;
        } else if (key == u"nick") {
            settings.nick = value;
            nickLine = number;
        } else if (key == u"tls-fingerprint") {
            QString hex = value;
            hex.remove(u':');
            const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
            static const QRegularExpression hexDigits(u"^[0-9A-Fa-f]{64}$"_s);
            if (!hexDigits.match(hex).hasMatch() || bytes.size() != 32) {
                return {std::nullopt, lineError(number, u"tls-fingerprint takes the certificate's SHA-256 "
                                                        u"fingerprint: 64 hexadecimal digits, colons allowed"_s)};
            }
            settings.tlsFingerprint = bytes;
        } else if (key == u"tls-ca-file") {
            if (!QFileInfo(value).isFile() || !QFileInfo(value).isReadable())
                return {std::nullopt, lineError(number, u"tls-ca-file names %1, which is not a readable file"_s.arg(value))};
            settings.tlsAuthorityFile = QFileInfo(value).absoluteFilePath();
        } else if (key == u"send-rate") {
            bool ok = false;
            const double rate = value.toDouble(&ok);
            if (!ok || !(rate >= 0 && rate <= 1000))
                return {std::nullopt, lineError(number, u"send-rate takes the lines a second the server passes, a "
                                                        u"number from 0 (no limit) to 1000, such as 0.5"_s)};
            settings.sendRate = rate;
        } else if (key == u"send-burst") {
            bool ok = false;
            const int burst = value.toInt(&ok);
            if (!ok || burst < 1 || burst > 1000)
                return {std::nullopt, lineError(number, u"send-burst takes a whole number of lines from 1 to 1000"_s)};
            settings.sendBurst = burst;
        } else if (key.startsWith(u"option.") && key.size() > 7) {
            settings.options.append({line.left(equals).trimmed().mid(7), value, number});
        } else {
            return {std::nullopt,
                    lineError(number, u"unknown key \"%1\"; the keys are protocol, account, password, "
                                      u"password-env, room, nick, tls-fingerprint, tls-ca-file, send-rate, send-burst and "
                                      u"option.NAME"_s
                                          .arg(key))};
        }
    }

    for (const auto &[key, what] : {std::pair{u"protocol"_s, u"the protocol (irc or xmpp)"_s},
                                    std::pair{u"account"_s, u"the account to sign on with"_s},
                                    std::pair{u"room"_s, u"the room to serve"_s}}) {
        if (!seen.contains(key))
            return {std::nullopt, u"%1: \"%2\" is missing: name %3."_s.arg(fileName(), key, what)};
    }
    // Both protocols reach a server named in the account: name@server.
    if ((settings.protocolId == u"prpl-irc" || settings.protocolId == u"prpl-jabber") &&
        (settings.account.section(u'@', 0, 0).isEmpty() || settings.account.section(u'@', 1).isEmpty())) {
        return {std::nullopt, lineError(seen.value(u"account"_s), u"the account is NAME@SERVER, with both parts"_s)};
    }
    if (settings.protocolId == u"prpl-irc" && nickLine > 0) {
        return {std::nullopt, lineError(nickLine, u"on IRC the program's nick is the account's name: write "
                                                  u"account = NICK@SERVER instead of nick"_s)};
    }
    // One room: a list such as "#links,#other" would join them all on IRC.
    if (settings.protocolId == u"prpl-irc" && (settings.room.contains(u',') || settings.room.contains(u' '))) {
        return {std::nullopt, lineError(seen.value(u"room"_s), u"room names one IRC channel, without a comma or a "
                                                               u"blank"_s)};
    }
    if (seen.contains(u"password"_s) && !passwordVariable.isEmpty()) {
        return {std::nullopt, lineError(passwordVariableLine, u"set either password or password-env, not both"_s)};
    }
    if (!passwordVariable.isEmpty()) {
        if (!qEnvironmentVariableIsSet(passwordVariable.toLocal8Bit().constData())) {
            return {std::nullopt, lineError(passwordVariableLine,
                                            u"the environment variable %1 is not set"_s.arg(passwordVariable))};
        }
        settings.password = qEnvironmentVariable(passwordVariable.toLocal8Bit().constData());
        if (settings.password.isEmpty()) {
            return {std::nullopt, lineError(passwordVariableLine, u"the environment variable %1 is empty; it should "
                                                                  u"hold the password"_s.arg(passwordVariable))};
        }
        if (holdsControlCharacter(settings.password)) {
            return {std::nullopt, lineError(passwordVariableLine, u"the environment variable %1 holds a control "
                                                                  u"character"_s.arg(passwordVariable))};
        }
    }
    return {settings, {}};
}

NetworkSettings::Parsed NetworkSettings::load(const QString &folder)
{
    const QString path = QDir(folder).filePath(fileName());
    if (!QFileInfo::exists(path))
        return {};
    const TextFileContents file = addon::ReadTextFile(path);
    if (!file.ok())
        return {std::nullopt, file.error};
    Parsed parsed = parse(file.value);
    if (parsed.value) {
        const QFileDevice::Permissions permissions = QFileInfo(path).permissions();
        if (permissions & (QFileDevice::ReadGroup | QFileDevice::ReadOther)) {
            parsed.value->permissionWarning =
                u"%1 can be read by other users of this machine; it may hold a password. "
                u"Make it private: chmod 600 %1"_s.arg(QDir::toNativeSeparators(path));
        }
    }
    return parsed;
}
