#include "messengers/purple/chatconnection.h"

#include "messengers/purple/connectionparts.h"
#include "messengers/purple/purpleparts.h"
#include "messengers/purple/purpleruntime.h"

#include <QLoggingCategory>

#include <arpa/inet.h>
#include <netinet/in.h>

using namespace Qt::StringLiterals;
using purpletext::fromUtf8;

Q_DECLARE_LOGGING_CATEGORY(lcPurple)

namespace {

NetworkSettings::OptionKind optionKind(const PurpleAccountOption *option)
{
    switch (purple_account_option_get_type(option)) {
    case PURPLE_PREF_BOOLEAN:
        return NetworkSettings::OptionKind::Boolean;
    case PURPLE_PREF_INT:
        return NetworkSettings::OptionKind::Integer;
    default:
        return NetworkSettings::OptionKind::Text;
    }
}

} // namespace

// IRC needs TLS only when the account asks for it; the other protocols negotiate it.
bool ChatConnection::Private::needsTls() const
{
    return !isIrc() || NetworkSettings::isTrue(settings.optionValue(u"ssl"_s)) || !settings.tlsFingerprint.isEmpty() ||
           !settings.tlsAuthorityFile.isEmpty();
}

// The names a server certificate may be checked against: the server
// connected to, and for XMPP the domain of the account.
QStringList ChatConnection::Private::certificateNames() const
{
    QStringList names{settings.serverHost()};
    const QString domain = settings.accountServer();
    if (!domain.isEmpty() && !names.contains(domain, Qt::CaseInsensitive))
        names.append(domain);
    return names;
}

// The names the certificate itself may be issued to (empty: the host connected
// to). An XMPP server proves the account's domain, whatever address the program
// connects to (option.connect_server; a server named there may prove its own
// name); an IRC server the name connected to.
QStringList ChatConnection::Private::certificateSubjects() const
{
    if (!isXmpp())
        return {};
    QStringList names{settings.accountServer()};
    const QByteArray host = settings.serverHost().toLatin1();
    unsigned char address[sizeof(in6_addr)];
    const bool isAddress =
        inet_pton(AF_INET, host.constData(), address) == 1 || inet_pton(AF_INET6, host.constData(), address) == 1;
    if (!isAddress && !names.contains(settings.serverHost()))
        names.append(settings.serverHost());
    return names;
}

QString ChatConnection::Private::label() const
{
    return u"[%1]"_s.arg(settings.name);
}

void ChatConnection::Private::report(const QString &text)
{
    const QString told = label() + u' ' + text;
    qCWarning(lcPurple).noquote() << told;
    QMetaObject::invokeMethod(
        q, [q = q, told] { Q_EMIT q->problem(told); }, Qt::QueuedConnection);
}

void ChatConnection::Private::handOver()
{
    if (isIrc())
        PurpleRuntime::Parts::handOverIrcLines(connection());
}

void ChatConnection::Private::sendRaw(const QByteArray &line)
{
    PurpleConnection *gc = connection();
    PurplePluginProtocolInfo *protocol = gc ? protocolInfo(purple_connection_get_prpl(gc)) : nullptr;
    if (!protocol || !protocol->send_raw || !isConnected())
        return;
    protocol->send_raw(gc, line.constData(), int(line.size()));
    handOver();
}

// Sets the protocol's options on the account; the mistake in the file otherwise.
QString ChatConnection::Private::applyOptions(PurplePlugin *protocol)
{
    PurplePluginProtocolInfo *info = protocolInfo(protocol);
    for (const NetworkSettings::Option &option : std::as_const(settings.options)) {
        const PurpleAccountOption *found = nullptr;
        QStringList known;
        for (GList *item = info->protocol_options; item; item = item->next) {
            auto *candidate = static_cast<PurpleAccountOption *>(item->data);
            const QString name = fromUtf8(purple_account_option_get_setting(candidate));
            known.append(name);
            if (name == option.name)
                found = candidate;
        }
        if (!found)
            return settings.unknownOption(option, known);
        const NetworkSettings::OptionKind kind = optionKind(found);
        if (const QString wrong = NetworkSettings::checkOption(option, kind); !wrong.isEmpty())
            return wrong;
        if (!account)
            continue;
        const QByteArray name = option.name.toUtf8();
        switch (kind) {
        case NetworkSettings::OptionKind::Boolean:
            purple_account_set_bool(account, name.constData(), NetworkSettings::isTrue(option.value));
            break;
        case NetworkSettings::OptionKind::Integer:
            purple_account_set_int(account, name.constData(), option.value.toInt());
            break;
        case NetworkSettings::OptionKind::Text:
            purple_account_set_string(account, name.constData(), option.value.toUtf8().constData());
            break;
        }
    }
    return {};
}

void ChatConnection::Private::connect()
{
    signOnTimer.start(signOnDeadlineMs);
    purple_account_connect(account);
}

void ChatConnection::Private::scheduleReconnect()
{
    if (stopped || refused)
        return;
    if (const int wait = signOnWaits.schedule(); wait > 0)
        qCInfo(lcPurple).noquote() << label() << "Signing on again in" << wait / 1000.0 << "s";
}

void ChatConnection::Private::reconnect()
{
    if (stopped || !account || !purple_account_is_disconnected(account))
        return;
    qCInfo(lcPurple).noquote() << label() << "Signing on to" << settings.account;
    signOnProblem.clear();
    connect();
}

// The sign-on did not finish in time: the connection goes, and the program
// tries again after its growing wait.
void ChatConnection::Private::signOnTimedOut()
{
    if (stopped || refused || !account || purple_account_is_connected(account))
        return;
    report(u"Signing on to %1 timed out: the program was not signed on by the server at %2 within %3 s (the "
           u"server may be down or hanging, or option.ssl may not suit its port). Trying again in %4 s."_s
               .arg(settings.account, settings.serverHost())
               .arg(signOnDeadlineMs / 1000.0)
               .arg(signOnWaits.msUntilTry() / 1000.0));
    if (!purple_account_is_disconnected(account))
        purple_account_disconnect(account);
    scheduleReconnect();
}

// On IRC a nick taken at sign-on makes libpurple take another one; when its
// holder goes, the program takes its own name back.
void ChatConnection::Private::takeNickBackFrom(const QString &gone)
{
    if (isIrc() && gone.compare(wantedNick(), Qt::CaseInsensitive) == 0 && !hasWantedNick()) {
        nickInUse = false;
        // Every room the holder was in says he left: one NICK for them all,
        // not one a room while the first is on its way.
        if (nickAsked.isValid() && nickAsked.elapsed() < 5000)
            return;
        tryNickBack();
    }
}

void ChatConnection::Private::leaveStrayRoom(const QString &name)
{
    // Not inside libpurple's callback: the conversation is being made.
    QMetaObject::invokeMethod(
        q,
        [this, name] {
            PurpleConnection *gc = connection();
            if (stopped || !gc || !isConnected())
                return;
            const QByteArray wire = name.toUtf8();
            PurpleConversation *conversation =
                purple_find_conversation_with_account(PURPLE_CONV_TYPE_CHAT, wire.constData(), account);
            if (!conversation || purple_conv_chat_has_left(purple_conversation_get_chat_data(conversation)))
                return;
            if (PurpleMessenger *room = roomNamed(name)) {
                // Wanted again meanwhile: that room is in.
                if (!room->isJoined())
                    room->parts().chatJoined(conversation);
                return;
            }
            qCInfo(lcPurple).noquote() << label() << "Leaving the room" << name
                                       << "again: it was taken out of the settings while the program joined it";
            purple_conversation_destroy(conversation); // parts the room too
            handOver();
        },
        Qt::QueuedConnection);
}

PurpleMessenger *ChatConnection::Private::roomOf(PurpleConversation *conversation) const
{
    if (!conversation || purple_conversation_get_type(conversation) != PURPLE_CONV_TYPE_CHAT)
        return nullptr;
    const int id = purple_conv_chat_get_id(purple_conversation_get_chat_data(conversation));
    for (PurpleMessenger *room : rooms) {
        if (room->ChatRoom() != 0 && room->ChatRoom() == id)
            return room;
    }
    // A room just joined is known by its name until then.
    return roomNamed(fromUtf8(purple_conversation_get_name(conversation)));
}

PurpleMessenger *ChatConnection::Private::roomNamed(const QString &name) const
{
    for (PurpleMessenger *room : rooms) {
        if (settings.sameRoom(room->roomName(), name))
            return room;
    }
    return nullptr;
}

// What libpurple tells its user about this account: a failed sign-on, or a
// room that refused the program ("Cannot join #links: Incorrect or missing channel key.").
ChatConnection::ChatConnection(NetworkSettings settings, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    d->q = this;
    d->settings = std::move(settings);
    d->signOnWaits.onTry(this, [this] { d->reconnect(); });
    d->signOnTimer.setSingleShot(true);
    QObject::connect(&d->signOnTimer, &QTimer::timeout, this, [this] { d->signOnTimedOut(); });
    d->identifyTimer.setSingleShot(true);
    QObject::connect(&d->identifyTimer, &QTimer::timeout, this, [this] { d->identifyTimedOut(); });
    d->nickWaits.onTry(this, [this] { d->tryNickBack(); });
    for (const NetworkSettings::Room &room : std::as_const(d->settings.rooms))
        addRoom(room);
}

ChatConnection::~ChatConnection()
{
    // The rooms go first, while the connection they tell is still whole
    // (with the ones removed a moment ago).
    d->stopped = true;
    qDeleteAll(findChildren<PurpleMessenger *>(Qt::FindDirectChildrenOnly));
    signOff();
}

void ChatConnection::signOff()
{
    d->stopped = true;
    d->signOnTimer.stop();
    d->signOnWaits.stop();
    d->servicesSignedOff();
    for (PurpleMessenger *room : std::as_const(d->rooms))
        room->parts().signedOff();
    if (!d->account)
        return;
    // libpurple has one account of a name: it is let go now, so a connection
    // made anew with it (changed settings) signs on at once.
    PurpleSignals::remove(d->account, d.get());
    purple_account_set_enabled(d->account, purple_core_get_ui(), FALSE); // disconnects it too
    d->account = nullptr;
}

QString ChatConnection::check(const NetworkSettings &settings)
{
    if (const QString error = PurpleMessenger::initialise(QString()); !error.isEmpty())
        return error;
    Private checking;
    checking.settings = settings;
    if (const QString missing = PurpleRuntime::loadProtocol(settings.protocolId, checking.needsTls());
        !missing.isEmpty())
        return NetworkSettings::lineError(settings.protocolLine, missing);
    return checking.applyOptions(purple_find_prpl(settings.protocolId.toUtf8().constData()));
}

QString ChatConnection::start()
{
    if (const QString error = PurpleMessenger::initialise(QString()); !error.isEmpty())
        return error;
    const NetworkSettings &settings = d->settings;
    if (const QString missing = PurpleRuntime::loadProtocol(settings.protocolId, d->needsTls()); !missing.isEmpty())
        return NetworkSettings::lineError(settings.protocolLine, missing);
    if (d->needsTls()) {
        const QStringList names = d->certificateSubjects();
        for (const QString &host : d->certificateNames()) {
            const QString untrusted =
                PurpleRuntime::trustServer(host, names, settings.tlsFingerprint, settings.tlsAuthorityFile);
            if (!untrusted.isEmpty())
                return u"%1: %2"_s.arg(NetworkSettings::fileName(), untrusted);
        }
    }
    const QByteArray protocolId = settings.protocolId.toUtf8();
    PurplePlugin *protocol = purple_find_prpl(protocolId.constData());

    const QByteArray username = settings.account.toUtf8();
    PurpleAccount *account = purple_accounts_find(username.constData(), protocolId.constData());
    if (!account) {
        account = purple_account_new(username.constData(), protocolId.constData());
        purple_accounts_add(account);
    }
    purple_account_set_remember_password(account, FALSE);
    purple_account_set_password(account, settings.password.toUtf8().constData());

    // The options are checked before the account takes any of them.
    if (const QString wrong = check(settings); !wrong.isEmpty())
        return wrong;
    d->account = account;
    // libpurple logs in with SASL under the real name, or else under the nick
    // it has at the moment (linkdesk1 while a ghost of the program holds
    // linkdesk): the network knows the account by its name.
    if (d->isIrc())
        purple_account_set_string(account, "saslname", d->wantedNick().toUtf8().constData());
    (void)d->applyOptions(protocol);
    if (d->isIrc())
        PurpleSignals::connectIrc(protocol);
    if (d->isXmpp())
        PurpleSignals::connectXmpp(protocol);
    // The program paces what it sends itself, fairly (see delivery()); libpurple's
    // own first-come queue behind it would undo the order. Only a file that
    // turns the program's pacing off (send-rate = 0) keeps libpurple's.
    const bool libpurplePaces =
        settings.delivery().linesPerSecond == 0 && !settings.optionValue(u"ratelimit-interval"_s).isEmpty();
    if (d->isIrc() && !libpurplePaces) {
        purple_account_set_int(account, "ratelimit-interval", 0);
        purple_account_set_int(account, "ratelimit-burst", 1000);
    }
    PurpleSignals::add(account, d.get());
    qCInfo(lcPurple).noquote() << label() << "Signing on to" << settings.account << "with" << settings.protocolId;
    purple_account_set_enabled(account, purple_core_get_ui(), TRUE);
    if (purple_account_is_disconnected(account))
        d->connect();
    else
        d->signOnTimer.start(d->signOnDeadlineMs); // enabling it began the sign-on
    return {};
}

const NetworkSettings &ChatConnection::settings() const
{
    return d->settings;
}

QString ChatConnection::label() const
{
    return d->label();
}

QList<PurpleMessenger *> ChatConnection::rooms() const
{
    return d->rooms;
}

PurpleMessenger *ChatConnection::room(const QString &name) const
{
    return d->roomNamed(name);
}

PurpleMessenger *ChatConnection::addRoom(const NetworkSettings::Room &room)
{
    auto *messenger = new PurpleMessenger(this, room);
    if (PurpleConnection *gc = d->connection(); gc && d->isConnected() && !d->roomsWait)
        messenger->parts().join(gc);
    return messenger;
}

void ChatConnection::leaveRoom(PurpleMessenger *room)
{
    if (!d->rooms.removeAll(room))
        return;
    room->parts().leave();
}

void ChatConnection::removeRoom(PurpleMessenger *room)
{
    if (room->parent() != this)
        return;
    leaveRoom(room);
    room->deleteLater();
}

bool ChatConnection::isSignedOn() const
{
    return d->isConnected();
}

bool ChatConnection::isRefused() const
{
    return d->refused;
}

Delivery ChatConnection::delivery() const
{
    return d->settings.delivery();
}

void ChatConnection::setReconnectDelay(int milliseconds)
{
    d->signOnWaits.setFirstWait(milliseconds);
    d->firstNickWaitMs = 2 * milliseconds;
    d->nickWaits.setFirstWait(d->firstNickWaitMs);
    d->firstRejoinWaitMs = 5 * milliseconds;
    for (PurpleMessenger *room : std::as_const(d->rooms))
        room->parts().joinWaits.setFirstWait(d->firstRejoinWaitMs);
}

void ChatConnection::setSignOnDeadline(int milliseconds)
{
    d->signOnDeadlineMs = milliseconds;
}
