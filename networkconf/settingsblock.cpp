#include "networkconf/settingsblock.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

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

// Keys that may stand on several lines of a block: a connection serves several
// rooms, each with its key.
bool repeats(const QString &key)
{
    return key == u"room" || key == u"room-key" || key == u"room-key-env";
}

// Keys that belong to one connection and so are not defaults for every section.
const QStringList &connectionKeys()
{
    static const QStringList keys{
        u"account"_s, u"password"_s, u"password-env"_s, u"nickserv-password"_s, u"nickserv-password-env"_s,
        u"room"_s,    u"room-key"_s, u"room-key-env"_s, u"tls-fingerprint"_s};
    return keys;
}

} // namespace

SettingsBlock::SettingsBlock(QString section, int line) : m_section(std::move(section)), m_line(line)
{
    m_settings.name = m_section;
}

QString SettingsBlock::error(int line, const QString &what) const
{
    if (m_section.isEmpty())
        return NetworkSettings::lineError(line, what);
    return u"%1, line %2, section [%3]: %4"_s.arg(NetworkSettings::fileName()).arg(line).arg(m_section, what);
}

QString SettingsBlock::connectionKeyLine() const
{
    for (const QString &key : connectionKeys()) {
        if (m_seen.contains(key))
            return error(m_seen.value(key), u"\"%1\" belongs in a section of its connection once the file has "
                                            u"sections ([NAME])"_s.arg(key));
    }
    return {};
}

QString SettingsBlock::take(const QString &rawKey, const QString &value, int number)
{
    const QString key = rawKey.toLower();
    if (key.isEmpty())
        return error(number, u"a value without a key"_s);
    if (!repeats(key) && m_seen.contains(key))
        return error(number, u"\"%1\" is already set on line %2"_s.arg(key).arg(m_seen[key]));
    m_seen.insert(key, number);

    // A control character (a NUL, say) would cut the value short on its way
    // into libpurple, which would then use something else than what the file says.
    if (holdsControlCharacter(value)) {
        return error(number, u"the value of \"%1\" holds a control character (such as NUL or a tab); remove "
                             u"it"_s.arg(key));
    }
    // An empty value is never what a person meant; libpurple cannot take it.
    if (value.isEmpty() && !key.startsWith(u"option."))
        return error(number, u"\"%1\" has no value"_s.arg(key));

    NetworkSettings &settings = m_settings;
    if (key == u"protocol") {
        settings.protocolId = protocolAliases().value(value.toLower(), value);
        settings.protocolLine = number;
    } else if (key == u"account") {
        // A blank is in no account name of IRC or XMPP; the server would refuse it at sign-on.
        if (value.contains(u' '))
            return error(number, u"an account name holds no blank"_s);
        settings.account = value;
    } else if (key == u"password") {
        settings.password = value;
    } else if (key == u"password-env") {
        m_passwordVariable = value;
        m_passwordVariableLine = number;
    } else if (key == u"nickserv-password" || key == u"nickserv-password-env") {
        if (m_nickServLine > 0)
            return error(number, u"set either nickserv-password or nickserv-password-env, not both"_s);
        m_nickServLine = number;
        if (key == u"nickserv-password")
            settings.nickServPassword = value;
        else
            m_nickServVariable = value;
    } else if (key == u"room") {
        // IRC channels and XMPP room names are short; a long one is a mistake.
        if (value.size() > NetworkSettings::LongestRoomName)
            return error(number, u"a room's name is at most %1 characters"_s.arg(NetworkSettings::LongestRoomName));
        for (const NetworkSettings::Room &room : std::as_const(settings.rooms)) {
            if (settings.sameRoom(room.name, value))
                return error(number, u"this room is already served, on line %1"_s.arg(room.line));
        }
        if (settings.rooms.size() == NetworkConfig::MostRoomsPerConnection) {
            return error(number, u"a connection serves at most %1 rooms; serve the others from another "
                                 u"connection or server"_s.arg(NetworkConfig::MostRoomsPerConnection));
        }
        settings.rooms.append({value, {}, number});
    } else if (key == u"room-key" || key == u"room-key-env") {
        return takeRoomKey(key, value, number);
    } else if (key == u"nick") {
        settings.nick = value;
        m_nickLine = number;
    } else if (key == u"tls-fingerprint") {
        QString hex = value;
        hex.remove(u':');
        const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
        static const QRegularExpression hexDigits(u"^[0-9A-Fa-f]{64}$"_s);
        if (!hexDigits.match(hex).hasMatch() || bytes.size() != 32) {
            return error(number, u"tls-fingerprint takes the certificate's SHA-256 fingerprint: 64 hexadecimal "
                                 u"digits, colons allowed"_s);
        }
        settings.tlsFingerprint = bytes;
    } else if (key == u"tls-ca-file") {
        if (!QFileInfo(value).isFile() || !QFileInfo(value).isReadable())
            return error(number, u"tls-ca-file names %1, which is not a readable file"_s.arg(value));
        settings.tlsAuthorityFile = QFileInfo(value).absoluteFilePath();
    } else if (key == u"send-rate") {
        bool ok = false;
        const double rate = value.toDouble(&ok);
        if (!ok || !(rate >= 0 && rate <= 1000))
            return error(number, u"send-rate takes the lines a second the server passes, a number from 0 (no "
                                 u"limit) to 1000, such as 0.5"_s);
        settings.sendRate = rate;
    } else if (key == u"send-burst") {
        bool ok = false;
        const int burst = value.toInt(&ok);
        if (!ok || burst < 1 || burst > 1000)
            return error(number, u"send-burst takes a whole number of lines from 1 to 1000"_s);
        settings.sendBurst = burst;
    } else if (key == u"chat-search") {
        const QString switched = value.toLower();
        if (switched != u"on" && switched != u"off")
            return error(number, u"chat-search takes on or off"_s);
        settings.chatSearch = switched == u"on";
    } else if (key.startsWith(u"http-")) {
        return takeWeb(key, value, number);
    } else if (key == u"link-check" || key == u"link-check-private") {
        return takeLinkCheck(key, value, number);
    } else if (key.startsWith(u"option.") && key.size() > 7) {
        settings.options.append({rawKey.mid(7), value, number});
    } else {
        return error(number,
                     u"unknown key \"%1\"; the keys are protocol, account, password, password-env, "
                     u"nickserv-password, nickserv-password-env, room, room-key, room-key-env, nick, "
                     u"tls-fingerprint, tls-ca-file, send-rate, send-burst, chat-search, "
                     u"option.NAME, and above any section http-listen, http-tls-cert, http-tls-key, "
                     u"http-admin-password-hash, http-public-url, link-check and link-check-private"_s.arg(key));
    }
    return {};
}

// The web face's keys hold for the whole server: above the first section.
QString SettingsBlock::takeWeb(const QString &key, const QString &value, int number)
{
    if (isSection())
        return error(number, u"\"%1\" is set for the whole server: write it above the first section"_s.arg(key));
    if (key == u"http-listen") {
        static const QRegularExpression form(u"^(?:\\[([0-9A-Fa-f:.]+)\\]|([0-9.]+)):(\\d{1,5})$"_s);
        const QRegularExpressionMatch match = form.match(value);
        if (!match.hasMatch() || match.captured(3).toInt() > 65535) {
            return error(number, u"http-listen takes an IP address and a port, such as 127.0.0.1:8080 or "
                                 u"[::1]:8080"_s);
        }
        m_web.host = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
        m_web.port = quint16(match.captured(3).toInt());
    } else if (key == u"http-tls-cert" || key == u"http-tls-key") {
        if (!QFileInfo(value).isFile() || !QFileInfo(value).isReadable())
            return error(number, u"%1 names %2, which is not a readable file"_s.arg(key, value));
        (key == u"http-tls-cert" ? m_web.certificate : m_web.key) = QFileInfo(value).absoluteFilePath();
    } else if (key == u"http-admin-password-hash") {
        if (!value.startsWith(u"$argon2id$"))
            return error(number, u"http-admin-password-hash takes the hash valdrin-aim-serverd --hash-password "
                                 u"prints ($argon2id$...), never the password itself"_s);
        m_web.adminPasswordHash = value.toLatin1();
    } else if (key == u"http-public-url") {
        // One short line in the room: a web address and nothing else.
        const QUrl url(value, QUrl::StrictMode);
        if (!url.isValid() || (url.scheme() != u"https" && url.scheme() != u"http") || url.host().isEmpty() ||
            value.size() > 200 || value.contains(u' ')) {
            return error(number, u"http-public-url takes the web address of the catalogue page as members reach "
                                 u"it, such as https://links.example.org/ (http or https, at most 200 characters)"_s);
        }
        m_web.publicUrl = value;
    } else {
        return error(number, u"unknown key \"%1\"; the web face's keys are http-listen, http-tls-cert, "
                             u"http-tls-key, http-admin-password-hash and http-public-url"_s.arg(key));
    }
    return {};
}

// The link check holds for the whole catalogue: above the first section.
QString SettingsBlock::takeLinkCheck(const QString &key, const QString &value, int number)
{
    if (isSection())
        return error(number, u"\"%1\" is set for the whole server: write it above the first section"_s.arg(key));
    const QString lower = value.toLower();
    if (key == u"link-check-private") {
        if (lower != u"on" && lower != u"off")
            return error(number, u"link-check-private takes on or off"_s);
        m_linkCheck.checkPrivate = lower == u"on";
        return {};
    }
    if (lower == u"off") {
        m_linkCheck.everyMs = 0;
        return {};
    }
    // A number and its unit: minutes, hours or days; at least an hour, so
    // nobody's server is asked too often.
    static const QRegularExpression form(u"^(\\d{1,4})\\s*([mhd])$"_s);
    const QRegularExpressionMatch match = form.match(lower);
    const qint64 unit = match.captured(2) == u"m" ? 60000 : match.captured(2) == u"h" ? 3600000 : 86400000;
    const qint64 every = match.hasMatch() ? match.captured(1).toLongLong() * unit : 0;
    if (every < 3600000 || every > 365 * qint64(86400000))
        return error(number, u"link-check takes an interval from 1h to 365d, such as 24h, 90m or 7d, or off"_s);
    m_linkCheck.everyMs = every;
    return {};
}

// A key belongs to the room on the line above it.
QString SettingsBlock::takeRoomKey(const QString &key, const QString &value, int number)
{
    if (m_settings.rooms.isEmpty())
        return error(number, u"\"%1\" gives the key of the room on the line above it; write it under its room "
                             u"line"_s.arg(key));
    const int room = int(m_settings.rooms.size()) - 1;
    if (!m_settings.rooms[room].key.isEmpty() || m_keyVariables.contains(room))
        return error(number, u"the room on line %1 has its key already"_s.arg(m_settings.rooms[room].line));
    if (key == u"room-key")
        m_settings.rooms[room].key = value;
    else
        m_keyVariables.insert(room, {value, number});
    return {};
}

void SettingsBlock::inherit(const SettingsBlock &defaults)
{
    const NetworkSettings &from = defaults.m_settings;
    NetworkSettings &to = m_settings;
    const auto unset = [this](const QString &key) { return !m_seen.contains(key); };
    if (unset(u"protocol"_s) && defaults.m_seen.contains(u"protocol"_s)) {
        to.protocolId = from.protocolId;
        to.protocolLine = from.protocolLine;
        m_seen.insert(u"protocol"_s, from.protocolLine);
    }
    if (unset(u"nick"_s) && !from.nick.isEmpty()) {
        to.nick = from.nick;
        m_nickLine = defaults.m_nickLine;
    }
    if (unset(u"tls-ca-file"_s))
        to.tlsAuthorityFile = from.tlsAuthorityFile;
    if (unset(u"send-rate"_s))
        to.sendRate = from.sendRate;
    if (unset(u"send-burst"_s))
        to.sendBurst = from.sendBurst;
    if (unset(u"chat-search"_s))
        to.chatSearch = from.chatSearch;
    for (const NetworkSettings::Option &option : from.options) {
        if (std::none_of(to.options.cbegin(), to.options.cend(),
                         [&option](const NetworkSettings::Option &own) { return own.name == option.name; }))
            to.options.append(option);
    }
}

QString SettingsBlock::secretFromEnvironment(const QString &variable, int line, const QString &what,
                                             QString &secret) const
{
    const QByteArray name = variable.toLocal8Bit();
    if (!qEnvironmentVariableIsSet(name.constData()))
        return error(line, u"the environment variable %1 is not set"_s.arg(variable));
    secret = qEnvironmentVariable(name.constData());
    if (secret.isEmpty())
        return error(line, u"the environment variable %1 is empty; it should hold %2"_s.arg(variable, what));
    if (holdsControlCharacter(secret))
        return error(line, u"the environment variable %1 holds a control character"_s.arg(variable));
    return {};
}

QString SettingsBlock::finish()
{
    NetworkSettings &settings = m_settings;
    const QString where = m_section.isEmpty() ? NetworkSettings::fileName()
                                              : u"%1, section [%2]"_s.arg(NetworkSettings::fileName(), m_section);
    for (const auto &[key, what] :
         {std::pair{u"protocol"_s, u"the protocol (irc or xmpp)"_s},
          std::pair{u"account"_s, u"the account to sign on with"_s}, std::pair{u"room"_s, u"the room to serve"_s}}) {
        if (!m_seen.contains(key))
            return u"%1: \"%2\" is missing: name %3."_s.arg(where, key, what);
    }
    // Both protocols reach a server named in the account: name@server.
    const bool irc = settings.protocolId == u"prpl-irc";
    if ((irc || settings.protocolId == u"prpl-jabber") &&
        (settings.account.section(u'@', 0, 0).isEmpty() || settings.account.section(u'@', 1).isEmpty())) {
        return error(m_seen.value(u"account"_s), u"the account is NAME@SERVER, with both parts"_s);
    }
    if (irc && m_nickLine > 0) {
        return error(m_nickLine, u"on IRC the program's nick is the account's name: write account = NICK@SERVER "
                                 u"instead of nick"_s);
    }
    // One channel a line: a list such as "#links,#other" would join them all on IRC.
    for (const NetworkSettings::Room &room : std::as_const(settings.rooms)) {
        if (irc && (room.name.contains(u',') || room.name.contains(u' ')))
            return error(room.line, u"room names one IRC channel, without a comma or a blank"_s);
        if (irc && room.name.size() < 2 && QStringView(u"#&+!").contains(room.name.front()))
            return error(room.line, u"room names an IRC channel: its prefix and a name, such as #links"_s);
    }
    // PLAIN in the clear sends the password readable: only to a server on this
    // machine, where it never crosses a network.
    for (const NetworkSettings::Option &option : std::as_const(settings.options)) {
        const QString host = settings.serverHost().toLower();
        const bool sameMachine = host == u"localhost" || host.startsWith(u"127.") || host == u"::1";
        if (option.name == u"auth_plain_in_clear" && NetworkSettings::isTrue(option.value) && !sameMachine) {
            return error(option.line, u"option.auth_plain_in_clear would send the password readable to %1: it is "
                                      u"allowed only to a server on this machine (127.0.0.1, ::1, localhost). Sign "
                                      u"on with TLS instead (XMPP: option.connection_security = require_tls; IRC: "
                                      u"option.ssl = true)"_s.arg(settings.serverHost()));
        }
    }
    if (m_nickServLine > 0 && !irc) {
        return error(m_nickServLine, u"NickServ is a service of IRC networks: an XMPP account signs on with its "
                                     u"password alone"_s);
    }
    if (!m_nickServVariable.isEmpty()) {
        if (QString wrong = secretFromEnvironment(m_nickServVariable, m_nickServLine, u"the NickServ password"_s,
                                                  settings.nickServPassword);
            !wrong.isEmpty())
            return wrong;
    }
    if (m_seen.contains(u"password"_s) && !m_passwordVariable.isEmpty())
        return error(m_passwordVariableLine, u"set either password or password-env, not both"_s);
    if (!m_passwordVariable.isEmpty()) {
        if (QString wrong =
                secretFromEnvironment(m_passwordVariable, m_passwordVariableLine, u"the password"_s, settings.password);
            !wrong.isEmpty())
            return wrong;
    }
    for (auto key = m_keyVariables.cbegin(); key != m_keyVariables.cend(); ++key) {
        if (QString wrong =
                secretFromEnvironment(key->first, key->second, u"the room's key"_s, settings.rooms[key.key()].key);
            !wrong.isEmpty())
            return wrong;
    }
    if (settings.name.isEmpty())
        settings.name = settings.serverHost();
    return {};
}
