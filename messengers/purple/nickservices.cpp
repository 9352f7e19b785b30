#include "messengers/purple/connectionparts.h"

#include <QLoggingCategory>

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;
using purpletext::fromUtf8;

Q_DECLARE_LOGGING_CATEGORY(lcPurple)

// An IRC network's services: identifying to NickServ after the sign-on (when
// the file gives a NickServ password), the rooms waiting for its word, and the
// program's nick taken back after growing waits, through the services when
// another connection (a ghost of the program) holds it. The rest of the
// connection is in chatconnection.cpp.

namespace {

// One line from an IRC server: ":prefix COMMAND param param :trailing".
struct IrcLine
{
    QString sourceNick;
    QByteArray command;
    QStringList params;
};

IrcLine parseLine(QByteArrayView raw)
{
    IrcLine line;
    while (!raw.isEmpty() && (raw.back() == '\r' || raw.back() == '\n'))
        raw.chop(1);
    if (raw.startsWith(':')) {
        const qsizetype space = raw.indexOf(' ');
        if (space < 0)
            return {};
        const QByteArrayView prefix = raw.sliced(1, space - 1);
        const qsizetype bang = prefix.indexOf('!');
        line.sourceNick = QString::fromUtf8(bang < 0 ? prefix : prefix.first(bang));
        raw = raw.sliced(space + 1);
    }
    while (!raw.isEmpty()) {
        while (raw.startsWith(' '))
            raw = raw.sliced(1);
        if (raw.isEmpty())
            break;
        if (raw.startsWith(':') && !line.command.isEmpty()) {
            line.params.append(QString::fromUtf8(raw.sliced(1)));
            break;
        }
        const qsizetype space = raw.indexOf(' ');
        const QByteArrayView word = space < 0 ? raw : raw.first(space);
        if (line.command.isEmpty())
            line.command = word.toByteArray().toUpper();
        else
            line.params.append(QString::fromUtf8(word));
        raw = space < 0 ? QByteArrayView() : raw.sliced(space);
    }
    return line;
}

bool saysAny(const QString &text, std::initializer_list<QStringView> phrases)
{
    return std::any_of(phrases.begin(), phrases.end(),
                       [&text](QStringView phrase) { return text.contains(phrase, Qt::CaseInsensitive); });
}

// What NickServ says to an identification, in the words of the common services.
bool acceptsIdentification(const QString &text)
{
    return saysAny(
        text, {u"Password accepted", u"You are now identified", u"You are now recognized", u"You are now logged in"});
}

bool refusesIdentification(const QString &text)
{
    return saysAny(text, {u"Password incorrect", u"Invalid password", u"isn't registered", u"is not registered",
                          u"is not a registered", u"has been suspended", u"is suspended"});
}

bool unknownCommand(const QString &text)
{
    return saysAny(text, {u"Unknown command", u"Invalid command", u"is not a valid command"});
}

// The services' commands that take a nick back from another connection, in
// the order they are tried: the network's own answers which one it has.
constexpr std::array ReclaimCommands{"REGAIN", "RECOVER", "GHOST"};

// Control characters of a services' text (colours, bold) are not for the log.
QString printable(QString text)
{
    text.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
    return text.left(300);
}

} // namespace

QString ChatConnection::Private::wantedNick() const
{
    return settings.account.section(u'@', 0, 0);
}

QString ChatConnection::Private::currentNick() const
{
    PurpleConnection *gc = connection();
    return gc ? fromUtf8(purple_connection_get_display_name(gc)) : QString();
}

bool ChatConnection::Private::hasWantedNick() const
{
    return currentNick().compare(wantedNick(), Qt::CaseInsensitive) == 0;
}

// Signed on: identify first where the file says so; the rooms wait for
// NickServ's word (a room for registered users only would refuse the program).
void ChatConnection::Private::servicesSignedOn()
{
    services = Services::Unknown;
    reclaimCommand = 0;
    // A nick other than the account's: libpurple found it taken at sign-on.
    nickInUse = !hasWantedNick();
    resetNickWaits();
    if (!isIrc()) {
        joinRooms();
        return;
    }
    // Signed on with SASL: the network knows the account already.
    if (NetworkSettings::isTrue(settings.optionValue(u"sasl"_s)))
        services = Services::Identified;
    if (!settings.nickServPassword.isEmpty() && services != Services::Identified) {
        services = Services::Identifying;
        roomsWait = true;
        qCInfo(lcPurple).noquote() << label() << "Identifying to NickServ as" << wantedNick();
        // IDENTIFY with the account's name works whatever nick the server gave.
        sendRaw("PRIVMSG NickServ :IDENTIFY " + wantedNick().toUtf8() + ' ' + settings.nickServPassword.toUtf8() +
                "\r\n");
        identifyTimer.start(identifyWaitMs);
        return;
    }
    joinRooms();
    if (!hasWantedNick())
        nickWaits.schedule();
}

void ChatConnection::Private::joinRooms()
{
    roomsWait = false;
    identifyTimer.stop();
    PurpleConnection *gc = connection();
    if (!gc || !isConnected())
        return;
    for (PurpleMessenger *room : std::as_const(rooms)) {
        if (!room->isJoined())
            room->parts().join(gc);
    }
}

void ChatConnection::Private::servicesSignedOff()
{
    identifyTimer.stop();
    nickWaits.stop();
    roomsWait = false;
    services = Services::Unknown;
}

void ChatConnection::Private::identified(const QString &how)
{
    if (services == Services::Identified)
        return;
    services = Services::Identified;
    qCInfo(lcPurple).noquote() << label() << "Identified to the network's services as" << wantedNick() << how;
    if (roomsWait)
        joinRooms();
    if (!hasWantedNick()) {
        resetNickWaits();
        nickWaits.schedule();
    }
}

void ChatConnection::Private::identifyTimedOut()
{
    if (services != Services::Identifying)
        return;
    report(u"NickServ did not confirm the identification of %1 within %2 s: the rooms are joined without it (a room "
           u"for registered users only is asked again later)."_s.arg(wantedNick())
               .arg(identifyWaitMs / 1000.0));
    joinRooms();
    if (!hasWantedNick())
        nickWaits.schedule();
}

// NickServ turned the password away: as a wrong password at sign-on, trying
// again cannot mend it.
void ChatConnection::Private::identificationRefused(const QString &said)
{
    refused = true;
    services = Services::Unknown;
    const QString text = u"NickServ refused the identification of %1: \"%2\". Check nickserv-password (or the "
                         u"variable nickserv-password-env names) in %3, then start the program again; the program "
                         u"does not sign on to %4 again."_s.arg(wantedNick(), printable(said),
                                                                NetworkSettings::fileName(), settings.account);
    report(text);
    const QString told = label() + u' ' + text;
    // Not inside libpurple's reading of the line: the connection goes once it is back.
    QMetaObject::invokeMethod(
        q,
        [this, told] {
            if (account && !purple_account_is_disconnected(account))
                purple_account_disconnect(account);
            Q_EMIT q->signOnRefused(told);
        },
        Qt::QueuedConnection);
}

void ChatConnection::Private::resetNickWaits()
{
    nickWaits.stop();
    nickWaits.setFirstWait(firstNickWaitMs);
}

// One try to take the program's nick back; the next one follows after a
// growing wait unless this one works.
void ChatConnection::Private::tryNickBack()
{
    if (!isIrc() || !isConnected() || refused || hasWantedNick())
        return;
    const QByteArray wanted = wantedNick().toUtf8();
    // Another connection holds it (a ghost of the program after a quick
    // restart), or the services keep it after renaming the program: the
    // services give it back to its identified owner.
    const bool mayReclaim = services == Services::Identified || !settings.nickServPassword.isEmpty();
    double lines = 1;
    if (nickInUse && mayReclaim && reclaimCommand < int(ReclaimCommands.size())) {
        lines = 2;
        QByteArray line = "PRIVMSG NickServ :" + QByteArray(ReclaimCommands[size_t(reclaimCommand)]) + ' ' + wanted;
        if (services != Services::Identified)
            line += ' ' + settings.nickServPassword.toUtf8();
        qCInfo(lcPurple).noquote() << label() << "Asking NickServ for the nick" << wantedNick() << "with"
                                   << ReclaimCommands[size_t(reclaimCommand)];
        sendRaw(line + "\r\n");
    }
    qCInfo(lcPurple).noquote() << label() << "Taking the nick" << wantedNick() << "back";
    sendRaw("NICK " + wanted + "\r\n");
    // The rooms of a connection share its pace: told through one of them.
    if (!rooms.isEmpty())
        Q_EMIT rooms.constFirst()->linesSent(lines);
    nickAsked.start();
    nickWaits.schedule();
}

// Every line an IRC server sends, before libpurple reads it.
void ChatConnection::Private::serverLine(const char *raw)
{
    if (!raw || stopped || refused)
        return;
    const IrcLine line = parseLine(raw);
    const QString me = currentNick();
    if (line.command.isEmpty() || me.isEmpty())
        return;
    const auto isMe = [&me](const QString &nick) { return nick.compare(me, Qt::CaseInsensitive) == 0; };

    if (line.command == "NICK" && isMe(line.sourceNick) && !line.params.isEmpty()) {
        const QString now = line.params.constFirst();
        if (now.compare(wantedNick(), Qt::CaseInsensitive) == 0) {
            qCInfo(lcPurple).noquote() << label() << "The program goes by its nick" << now << "again";
            resetNickWaits();
            nickInUse = false;
        } else {
            // Renamed by the network (the services' Guest name for an
            // unidentified nick): the nick is asked back, once identified.
            qCInfo(lcPurple).noquote() << label() << "The network renamed the program" << now;
            nickInUse = true;
            if (services != Services::Identifying && !nickWaits.isWaiting())
                nickWaits.schedule();
        }
        return;
    }
    if (!isConnected())
        return;
    // A room that refuses the program (a key, invite only, full, a ban, no such
    // room): libpurple's IRC tells the user of none of these, so the server's own
    // words are taken from its line, at the first join and after a kick alike.
    static const QList<QByteArrayView> refusedJoins{"403", "405", "471", "473", "474", "475", "477"};
    if (refusedJoins.contains(line.command) && line.params.size() >= 3) {
        const QString &room = line.params.at(1);
        if (PurpleMessenger *refusing = roomNamed(room); refusing && !refusing->isJoined())
            refusing->parts().notice(u"Cannot join %1: %2"_s.arg(room, line.params.constLast()));
        return;
    }
    // 433: in use; 432 and 437: refused or held for now (by the services after a rename).
    if ((line.command == "433" || line.command == "432" || line.command == "437") && line.params.size() >= 2 &&
        line.params.at(1).compare(wantedNick(), Qt::CaseInsensitive) == 0) {
        nickInUse = true;
        // The log names the nick refused and the server's words; libpurple's
        // own notice about it names the nick the program has now.
        qCInfo(lcPurple).noquote() << label()
                                   << u"The network refused the nick %1 for now (%2 %3)"_s.arg(
                                          wantedNick(), QString::fromLatin1(line.command), line.params.constLast());
        nickRefused.start();
        if (!nickWaits.isWaiting() && services != Services::Identifying)
            nickWaits.schedule();
        return;
    }
    // 900: logged in to an account; a +r mode on the program: identified.
    if (line.command == "900") {
        if (services == Services::Identifying)
            identified(u"(the server says so)"_s);
        return;
    }
    if (line.command == "MODE" && line.params.size() >= 2 && isMe(line.params.at(0)) &&
        line.params.at(1).startsWith(u'+') && line.params.at(1).contains(u'r')) {
        if (services == Services::Identifying)
            identified(u"(the server marks the program registered)"_s);
        return;
    }
    // 401 for NickServ: the network has no services.
    if (line.command == "401" && line.params.size() >= 2 &&
        line.params.at(1).compare(u"NickServ", Qt::CaseInsensitive) == 0) {
        if (services == Services::Identifying) {
            services = Services::Absent;
            report(u"The network has no NickServ to identify to (nickserv-password is set in %1): the rooms are "
                   u"joined without it."_s.arg(NetworkSettings::fileName()));
            joinRooms();
        }
        return;
    }
    if (line.command == "NOTICE" && line.params.size() >= 2 && isMe(line.params.at(0)) &&
        line.sourceNick.compare(u"NickServ", Qt::CaseInsensitive) == 0)
        nickServSaid(line.params.at(1));
}

void ChatConnection::Private::nickServSaid(const QString &text)
{
    if (services == Services::Identifying) {
        if (acceptsIdentification(text)) {
            identified(u"(NickServ accepted the password)"_s);
            return;
        }
        if (refusesIdentification(text)) {
            identificationRefused(text);
            return;
        }
    }
    // The network lacks this command: the next one is tried at the next wait.
    if (unknownCommand(text) && nickInUse && reclaimCommand < int(ReclaimCommands.size()))
        ++reclaimCommand;
}
