#include "platform/purple/purplemessenger.h"

#include "platform/purple/backoff.h"
#include "platform/purple/purpleheaders.h"
#include "platform/purple/purpleruntime.h"

#include <QHash>
#include <QLoggingCategory>
#include <QTimer>

using namespace Qt::StringLiterals;
using purpletext::fromUtf8;
using purpletext::GText;

Q_DECLARE_LOGGING_CATEGORY(lcPurple)

namespace {

constexpr int LongestReconnectDelayMs = 60000;
// A server that takes the connection and then says nothing (a TLS handshake
// on a plain port, a server that hangs) gets this long to sign the program on.
constexpr int SignOnDeadlineMs = 30000;
// A room that refuses the program is tried again, less and less often.
constexpr int LongestRejoinDelayMs = 300000;

// The reasons that trying again cannot mend: the settings or the server's
// identity are wrong, and only the operator can change that.
bool refusedForGood(PurpleConnectionError reason)
{
    switch (reason) {
    case PURPLE_CONNECTION_ERROR_INVALID_USERNAME:
    case PURPLE_CONNECTION_ERROR_AUTHENTICATION_FAILED:
    case PURPLE_CONNECTION_ERROR_AUTHENTICATION_IMPOSSIBLE:
    case PURPLE_CONNECTION_ERROR_NO_SSL_SUPPORT:
    case PURPLE_CONNECTION_ERROR_ENCRYPTION_ERROR:
    case PURPLE_CONNECTION_ERROR_INVALID_SETTINGS:
    case PURPLE_CONNECTION_ERROR_CERT_NOT_PROVIDED:
    case PURPLE_CONNECTION_ERROR_CERT_UNTRUSTED:
    case PURPLE_CONNECTION_ERROR_CERT_EXPIRED:
    case PURPLE_CONNECTION_ERROR_CERT_NOT_ACTIVATED:
    case PURPLE_CONNECTION_ERROR_CERT_HOSTNAME_MISMATCH:
    case PURPLE_CONNECTION_ERROR_CERT_FINGERPRINT_MISMATCH:
    case PURPLE_CONNECTION_ERROR_CERT_SELF_SIGNED:
    case PURPLE_CONNECTION_ERROR_CERT_OTHER_ERROR:
        return true;
    default:
        return false;
    }
}

// A message as its sender wrote it: markup removed and entities decoded.
// libpurple's stripping turns tabs and line breaks into blanks, which would let
// "send<TAB>1" pass for "send 1"; written as character references they survive.
QString plainText(const char *message)
{
    QByteArray marked(message ? message : "");
    marked.replace('\t', "&#9;").replace('\n', "&#10;").replace('\r', "&#13;");
    const GText plain(purple_markup_strip_html(marked.constData()));
    return fromUtf8(plain.get());
}

PurplePluginProtocolInfo *protocolInfo(PurplePlugin *plugin)
{
    return static_cast<PurplePluginProtocolInfo *>(plugin->info->extra_info);
}

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

struct PurpleMessenger::Private
{
    PurpleMessenger *q;
    NetworkSettings settings;
    PurpleAccount *account = nullptr;
    int chatId = 0;
    QString roomName;
    bool watching = false;
    bool stopped = false;
    bool refused = false;      // a sign-on the server refused for good (a wrong password)
    bool everSignedOn = false; // signed on at least once in this run
    int signOnDeadlineMs = SignOnDeadlineMs;
    // A join takes a second or two; a room that has not let the program in by
    // then is asked again, first after five times the first wait to sign on.
    Backoff signOnWaits{1000, LongestReconnectDelayMs};
    Backoff joinWaits{5000, LongestRejoinDelayMs};
    QTimer signOnTimer;
    QString lastJoinProblem;
    QString signOnProblem; // what went wrong while signing on, when libpurple said it first

    PurpleConnection *connection() const { return account ? purple_account_get_connection(account) : nullptr; }

    PurpleConvChat *chat() const
    {
        PurpleConnection *gc = connection();
        if (!gc || chatId == 0 || !purple_account_is_connected(account))
            return nullptr;
        PurpleConversation *conversation = purple_find_chat(gc, chatId);
        PurpleConvChat *chat = conversation ? purple_conversation_get_chat_data(conversation) : nullptr;
        return chat && !purple_conv_chat_has_left(chat) ? chat : nullptr;
    }

    bool isXmpp() const { return settings.protocolId == u"prpl-jabber"; }
    bool isIrc() const { return settings.protocolId == u"prpl-irc"; }

    // IRC needs TLS only when the account asks for it; the other protocols negotiate it.
    bool needsTls() const
    {
        return settings.protocolId != u"prpl-irc" || NetworkSettings::isTrue(settings.optionValue(u"ssl"_s)) ||
               !settings.tlsFingerprint.isEmpty() || !settings.tlsAuthorityFile.isEmpty();
    }

    // The names a server certificate may be checked against: the server
    // connected to, and for XMPP the domain of the account.
    QStringList certificateNames() const
    {
        QStringList names{settings.serverHost()};
        const QString domain = settings.account.section(u'@', 1).section(u'/', 0, 0);
        if (!domain.isEmpty() && !names.contains(domain, Qt::CaseInsensitive))
            names.append(domain);
        return names;
    }

    void require(const char *call) const
    {
        if (!account || !purple_account_is_connected(account)) {
            throw MorvexAIMOCX::MessengerError(
                u"%1: not connected to %2"_s.arg(QLatin1StringView(call), settings.account));
        }
    }

    void report(const QString &text)
    {
        qCWarning(lcPurple).noquote() << text;
        QMetaObject::invokeMethod(q, [q = q, text] { Q_EMIT q->problem(text); }, Qt::QueuedConnection);
    }

    // Sets the protocol's options on the account; the mistake in the file otherwise.
    QString applyOptions(PurplePlugin *protocol)
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

    void scheduleReconnect()
    {
        if (stopped || refused)
            return;
        if (const int wait = signOnWaits.schedule(); wait > 0)
            qCInfo(lcPurple) << "Signing on again in" << wait / 1000.0 << "s";
    }

    void reconnect()
    {
        if (stopped || !account || !purple_account_is_disconnected(account))
            return;
        qCInfo(lcPurple).noquote() << "Signing on to" << settings.account;
        signOnProblem.clear();
        connect();
    }

    void connect()
    {
        signOnTimer.start(signOnDeadlineMs);
        purple_account_connect(account);
    }

    // The sign-on did not finish in time: the connection goes, and the program
    // tries again after its growing wait.
    void signOnTimedOut()
    {
        if (stopped || refused || !account || purple_account_is_connected(account))
            return;
        report(u"Signing on to %1 timed out: the server at %2 took the connection but did not sign the program on "
               u"within %3 s (is option.ssl set for a port without TLS, or the other way round?). Trying again in "
               u"%4 s."_s.arg(settings.account, settings.serverHost())
                   .arg(signOnDeadlineMs / 1000.0)
                   .arg(signOnWaits.msUntilTry() / 1000.0));
        purple_account_disconnect(account);
        scheduleReconnect();
    }

    void joinRoom(PurpleConnection *gc)
    {
        PurplePluginProtocolInfo *protocol = protocolInfo(purple_connection_get_prpl(gc));
        const QByteArray room = settings.room.toUtf8();
        GHashTable *components =
            protocol->chat_info_defaults ? protocol->chat_info_defaults(gc, room.constData()) : nullptr;
        if (!components) {
            report(u"The protocol %1 cannot join the room %2."_s.arg(settings.protocolId, settings.room));
            return;
        }
        // The name the program goes by in an XMPP room, when the operator chose one.
        if (isXmpp() && !settings.nick.isEmpty())
            g_hash_table_replace(components, g_strdup("handle"), g_strdup(settings.nick.toUtf8().constData()));
        serv_join_chat(gc, components);
        g_hash_table_destroy(components);
        // Until the room reports the program in, the join is tried again now and then.
        scheduleRejoin();
    }

    void scheduleRejoin()
    {
        if (stopped || !account || !purple_account_is_connected(account) || chat())
            return;
        joinWaits.schedule();
    }

    // When the next join is tried, as the timer has it (the wait after this one is longer).
    int secondsToRejoin() const
    {
        return std::max(1, (joinWaits.msUntilTry() + 999) / 1000);
    }

    void rejoin()
    {
        PurpleConnection *gc = connection();
        if (stopped || !gc || !purple_account_is_connected(account) || chat())
            return;
        qCInfo(lcPurple).noquote() << "Joining the room" << settings.room << "again";
        joinRoom(gc);
    }

    // The instant message conversation with a member, made when asked to.
    PurpleConversation *imConversation(const QString &screenName, bool create) const
    {
        // In an XMPP room a member is reached as an occupant of the room,
        // room@service/nick, whatever characters the nick holds: never at an
        // address made from what a member typed. On IRC by the nick.
        QString recipient = screenName;
        if (isXmpp()) {
            if (roomName.isEmpty())
                return nullptr;
            recipient = roomName + u'/' + screenName;
        }
        recipient.remove(u'\r').remove(u'\n').remove(QChar(0));
        if (recipient.isEmpty())
            return nullptr;
        const QByteArray name = recipient.toUtf8();
        PurpleConversation *conversation =
            purple_find_conversation_with_account(PURPLE_CONV_TYPE_IM, name.constData(), account);
        if (!conversation && create)
            conversation = purple_conversation_new(PURPLE_CONV_TYPE_IM, account, name.constData());
        return conversation;
    }

    // --- What libpurple reports for this messenger's account.

    void signedOn(PurpleConnection *gc)
    {
        signOnTimer.stop();
        signOnWaits.succeeded();
        joinWaits.succeeded();
        everSignedOn = true;
        qCInfo(lcPurple).noquote() << "Signed on to" << settings.account << "as"
                                   << fromUtf8(purple_connection_get_display_name(gc));
        joinRoom(gc);
    }

    void signedOff()
    {
        chatId = 0;
        joinWaits.stop();
        qCInfo(lcPurple).noquote() << "Signed off from" << settings.account;
        scheduleReconnect();
    }

    void connectionError(PurpleConnectionError reason, QString why)
    {
        signOnTimer.stop();
        chatId = 0;
        joinWaits.stop();
        why.replace(u'\n', u' ');
        // An IRC server that answers a new connection with an ERROR line has
        // turned the program away (a wrong server password, a ban); one that
        // did so after serving it may only be restarting.
        const bool ircRefusal = isIrc() && !everSignedOn && why.contains(u"ERROR :"_s);
        if (refusedForGood(reason) || ircRefusal) {
            refused = true;
            const QString text =
                signOnProblem.isEmpty()
                    ? u"The server refused the sign-on of %1: %2. Check the account, the password and the options "
                      u"in %3, then start the program again."_s.arg(settings.account, why, NetworkSettings::fileName())
                    : u"%1 The program did not sign on %2 and does not try again."_s.arg(signOnProblem,
                                                                                          settings.account);
            report(text);
            QMetaObject::invokeMethod(q, [q = q, text] { Q_EMIT q->signOnRefused(text); }, Qt::QueuedConnection);
        } else if (purple_connection_error_is_fatal(reason)) {
            report(u"The connection of %1 failed: %2. Trying again in a while."_s.arg(settings.account, why));
        } else {
            report(u"The connection of %1 was lost: %2. Signing on again."_s.arg(settings.account, why));
        }
        scheduleReconnect();
    }

    void chatJoined(PurpleConversation *conversation)
    {
        chatId = purple_conv_chat_get_id(purple_conversation_get_chat_data(conversation));
        roomName = fromUtf8(purple_conversation_get_name(conversation));
        joinWaits.stop();
        joinWaits.succeeded();
        lastJoinProblem.clear();
        qCInfo(lcPurple).noquote() << "Joined the room" << roomName << "as" << q->ScreenName();
        QMetaObject::invokeMethod(q, [q = q] { Q_EMIT q->roomJoined(); }, Qt::QueuedConnection);
    }

    void chatLeft(PurpleConversation *conversation)
    {
        if (purple_conv_chat_get_id(purple_conversation_get_chat_data(conversation)) != chatId)
            return;
        chatId = 0;
        scheduleRejoin();
        report(u"The program is no longer in the room %1; it joins again in %2 s."_s.arg(roomName).arg(
            secondsToRejoin()));
    }

    void chatJoinFailed()
    {
        scheduleRejoin();
        report(u"The room %1 could not be joined. Check the room in %2; the program tries again in %3 s."_s
                   .arg(settings.room, NetworkSettings::fileName())
                   .arg(secondsToRejoin()));
    }

    // What libpurple tells its user about this account: a room that refused the
    // program ("Cannot join #links: Incorrect or missing channel key.").
    void notice(const QString &text)
    {
        // While signing on, it explains the failure that follows (a refused certificate).
        if (!purple_account_is_connected(account)) {
            // It is logged with the failure it explains, once.
            for (const QString &name : certificateNames()) {
                if (text.contains(name, Qt::CaseInsensitive)) {
                    signOnProblem = text;
                    return;
                }
            }
            qCInfo(lcPurple).noquote() << text;
            return;
        }
        // In its room, the program has nothing to do about it.
        if (chat()) {
            qCInfo(lcPurple).noquote() << text;
            return;
        }
        const QString problem = u"%1 (the program tries to join %2 again in a while)"_s.arg(text, settings.room);
        // The same refusal at every try is told once; the log has each one.
        if (problem == lastJoinProblem) {
            qCWarning(lcPurple).noquote() << problem;
            return;
        }
        lastJoinProblem = problem;
        report(problem);
    }

    void chatMessage(const QString &from, const char *message, PurpleConversation *conversation,
                     PurpleMessageFlags flags)
    {
        if (!conversation || purple_conv_chat_get_id(purple_conversation_get_chat_data(conversation)) != chatId)
            return;
        // libpurple keeps every line a conversation shows; a server runs for
        // months in a busy room and reads none of them back.
        purple_conversation_clear_message_history(conversation);
        // The room's own news (a kick and its reason) is worth a line in the log.
        if (flags & PURPLE_MESSAGE_SYSTEM) {
            qCInfo(lcPurple).noquote() << "In the room" << roomName << ":" << plainText(message);
            return;
        }
        // The program's own lines, the room's history and the server's notices are no one's commands.
        if (flags & (PURPLE_MESSAGE_SEND | PURPLE_MESSAGE_DELAYED | PURPLE_MESSAGE_NO_LOG))
            return;
        if (from.isEmpty() || from == q->ScreenName())
            return;
        const QString text = plainText(message);
        // libpurple marks an IRC NOTICE only by this prefix. A notice is never
        // answered: that is the rule on IRC, and it keeps two programs from
        // answering each other for ever.
        if (isIrc() && text.startsWith(u"(notice) "))
            return;
        // Raised from the event loop, never inside libpurple: a handler may wait, and
        // libpurple is not re-entrant.
        QMetaObject::invokeMethod(
            q,
            [q = q, from, text] {
                if (q->d->watching)
                    Q_EMIT q->ChatLine(from, text);
            },
            Qt::QueuedConnection);
    }

    // On IRC a nick taken at sign-on makes libpurple take another one; when its
    // holder goes, the program takes its own name back.
    void takeNickBackFrom(const QString &gone)
    {
        PurpleConnection *gc = connection();
        const QString wanted = settings.account.section(u'@', 0, 0);
        if (!isIrc() || !gc || gone.compare(wanted, Qt::CaseInsensitive) != 0 ||
            fromUtf8(purple_connection_get_display_name(gc)).compare(wanted, Qt::CaseInsensitive) == 0)
            return;
        PurplePluginProtocolInfo *protocol = protocolInfo(purple_connection_get_prpl(gc));
        if (!protocol->send_raw)
            return;
        qCInfo(lcPurple).noquote() << "Taking the nick" << wanted << "back";
        const QByteArray line = "NICK " + wanted.toUtf8() + "\r\n";
        protocol->send_raw(gc, line.constData(), int(line.size()));
    }

    // A member of the program's room left it (or the network), or took another name.
    void memberLeft(PurpleConversation *conversation, const QString &member)
    {
        if (!isOurRoom(conversation) || member.isEmpty())
            return;
        takeNickBackFrom(member);
        QMetaObject::invokeMethod(q, [q = q, member] { Q_EMIT q->memberLeft(member); }, Qt::QueuedConnection);
    }

    void memberRenamed(PurpleConversation *conversation, const QString &oldName, const QString &newName)
    {
        if (!isOurRoom(conversation) || oldName.isEmpty() || newName.isEmpty())
            return;
        takeNickBackFrom(oldName);
        QMetaObject::invokeMethod(
            q, [q = q, oldName, newName] { Q_EMIT q->memberRenamed(oldName, newName); }, Qt::QueuedConnection);
    }

    bool isOurRoom(PurpleConversation *conversation) const
    {
        return conversation && purple_conversation_get_type(conversation) == PURPLE_CONV_TYPE_CHAT && chatId != 0 &&
               purple_conv_chat_get_id(purple_conversation_get_chat_data(conversation)) == chatId;
    }

    void instantMessage(const QString &from, const char *message)
    {
        const QString text = plainText(message);
        QMetaObject::invokeMethod(
            q, [q = q, from, text] { Q_EMIT q->instantMessageReceived(from, text); }, Qt::QueuedConnection);
    }
};

namespace {

// The messengers of this process, by account, for libpurple's C callbacks.
QHash<PurpleAccount *, PurpleMessenger::Private *> &messengers()
{
    static QHash<PurpleAccount *, PurpleMessenger::Private *> byAccount;
    return byAccount;
}

PurpleMessenger::Private *messengerOf(PurpleAccount *account)
{
    return messengers().value(account, nullptr);
}

PurpleMessenger::Private *messengerOf(PurpleConnection *gc)
{
    return messengerOf(purple_connection_get_account(gc));
}

PurpleMessenger::Private *messengerOf(PurpleConversation *conversation)
{
    return messengerOf(purple_conversation_get_account(conversation));
}

// libpurple's signals, forwarded to the messenger of the account they concern.

void onSignedOn(PurpleConnection *gc, gpointer)
{
    if (PurpleMessenger::Private *d = messengerOf(gc))
        d->signedOn(gc);
}

void onSignedOff(PurpleConnection *gc, gpointer)
{
    if (PurpleMessenger::Private *d = messengerOf(gc))
        d->signedOff();
}

void onConnectionError(PurpleConnection *gc, PurpleConnectionError reason, const gchar *description, gpointer)
{
    if (PurpleMessenger::Private *d = messengerOf(gc))
        d->connectionError(reason, fromUtf8(description));
}

void onChatJoined(PurpleConversation *conversation, gpointer)
{
    if (PurpleMessenger::Private *d = messengerOf(conversation))
        d->chatJoined(conversation);
}

void onChatLeft(PurpleConversation *conversation, gpointer)
{
    if (PurpleMessenger::Private *d = messengerOf(conversation))
        d->chatLeft(conversation);
}

void onChatJoinFailed(PurpleConnection *gc, GHashTable *, gpointer)
{
    if (PurpleMessenger::Private *d = messengerOf(gc))
        d->chatJoinFailed();
}

void onChatMessage(PurpleAccount *account, char *sender, char *message, PurpleConversation *conversation,
                   PurpleMessageFlags flags, gpointer)
{
    if (PurpleMessenger::Private *d = messengerOf(account))
        d->chatMessage(fromUtf8(sender), message, conversation, flags);
}

void onMemberLeft(PurpleConversation *conversation, const char *member, const char *, gpointer)
{
    if (PurpleMessenger::Private *d = messengerOf(conversation))
        d->memberLeft(conversation, fromUtf8(member));
}

// libpurple tells a rename only to the user interface.
void onMemberRenamed(PurpleConversation *conversation, const char *oldName, const char *newName, const char *)
{
    if (PurpleMessenger::Private *d = messengerOf(conversation))
        d->memberRenamed(conversation, fromUtf8(oldName), fromUtf8(newName));
}

PurpleConversationUiOps conversationOps = [] {
    PurpleConversationUiOps ops{};
    ops.chat_rename_user = onMemberRenamed;
    return ops;
}();

void onInstantMessage(PurpleAccount *account, char *sender, char *message, PurpleConversation *, PurpleMessageFlags,
                      gpointer)
{
    if (PurpleMessenger::Private *d = messengerOf(account))
        d->instantMessage(fromUtf8(sender), message);
}

int signalHandle = 0;

template <typename Function>
void connectSignal(void *instance, const char *signal, Function function)
{
    purple_signal_connect(instance, signal, &signalHandle, reinterpret_cast<PurpleCallback>(function), nullptr);
}

void connectSignalsOnce()
{
    static bool connected = false;
    if (connected)
        return;
    connected = true;
    void *conversations = purple_conversations_get_handle();
    void *connections = purple_connections_get_handle();
    connectSignal(connections, "signed-on", onSignedOn);
    connectSignal(connections, "signed-off", onSignedOff);
    connectSignal(connections, "connection-error", onConnectionError);
    connectSignal(conversations, "chat-joined", onChatJoined);
    connectSignal(conversations, "chat-left", onChatLeft);
    connectSignal(conversations, "chat-join-failed", onChatJoinFailed);
    connectSignal(conversations, "received-chat-msg", onChatMessage);
    connectSignal(conversations, "received-im-msg", onInstantMessage);
    connectSignal(conversations, "chat-buddy-left", onMemberLeft);
    purple_conversations_set_ui_ops(&conversationOps);
    PurpleRuntime::setNoticeHandler([](const QString &text) {
        for (PurpleMessenger::Private *d : std::as_const(messengers()))
            d->notice(text);
    });
}

} // namespace

QString PurpleMessenger::initialise(const QString &userFolder)
{
    const QString error = PurpleRuntime::start(userFolder);
    if (error.isEmpty())
        connectSignalsOnce();
    return error;
}

PurpleMessenger::PurpleMessenger(NetworkSettings settings, QObject *parent)
    : AIM(parent), d(std::make_unique<Private>())
{
    d->q = this;
    d->settings = std::move(settings);
    d->signOnWaits.onTry(this, [this] { d->reconnect(); });
    d->joinWaits.onTry(this, [this] { d->rejoin(); });
    d->signOnTimer.setSingleShot(true);
    connect(&d->signOnTimer, &QTimer::timeout, this, [this] { d->signOnTimedOut(); });
}

PurpleMessenger::~PurpleMessenger()
{
    d->stopped = true;
    if (d->account) {
        messengers().remove(d->account);
        purple_account_set_enabled(d->account, purple_core_get_ui(), FALSE); // disconnects it too
    }
}

QString PurpleMessenger::start()
{
    if (const QString error = initialise(QString()); !error.isEmpty())
        return error;
    const NetworkSettings &settings = d->settings;
    if (const QString missing = PurpleRuntime::loadProtocol(settings.protocolId, d->needsTls()); !missing.isEmpty())
        return NetworkSettings::lineError(settings.protocolLine, missing);
    if (d->needsTls()) {
        for (const QString &host : d->certificateNames()) {
            const QString untrusted =
                PurpleRuntime::trustServer(host, settings.tlsFingerprint, settings.tlsAuthorityFile);
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

    d->account = account;
    if (const QString wrong = d->applyOptions(protocol); !wrong.isEmpty()) {
        d->account = nullptr;
        return wrong;
    }
    // The program paces what it sends itself, fairly (see delivery()); libpurple's
    // own first-come queue behind it would undo the order. Only a file that
    // turns the program's pacing off (send-rate = 0) keeps libpurple's.
    const bool libpurplePaces = settings.delivery().linesPerSecond == 0 &&
                                !settings.optionValue(u"ratelimit-interval"_s).isEmpty();
    if (d->isIrc() && !libpurplePaces) {
        purple_account_set_int(account, "ratelimit-interval", 0);
        purple_account_set_int(account, "ratelimit-burst", 1000);
    }
    messengers().insert(account, d.get());
    qCInfo(lcPurple).noquote() << "Signing on to" << settings.account << "with" << settings.protocolId;
    purple_account_set_enabled(account, purple_core_get_ui(), TRUE);
    if (purple_account_is_disconnected(account))
        d->connect();
    else
        d->signOnTimer.start(d->signOnDeadlineMs); // enabling it began the sign-on
    return {};
}

void PurpleMessenger::setSignOnDeadline(int milliseconds)
{
    d->signOnDeadlineMs = milliseconds;
}

void PurpleMessenger::setReconnectDelay(int milliseconds)
{
    d->signOnWaits.setFirstWait(milliseconds);
    d->joinWaits.setFirstWait(5 * milliseconds);
}

QString PurpleMessenger::ScreenName() const
{
    if (PurpleConvChat *chat = d->chat(); chat && d->isXmpp())
        return fromUtf8(purple_conv_chat_get_nick(chat));
    if (PurpleConnection *gc = d->connection(); gc && purple_connection_get_display_name(gc))
        return fromUtf8(purple_connection_get_display_name(gc));
    return d->settings.account.section(u'@', 0, 0);
}

bool PurpleMessenger::IsRunning() const
{
    return d->account && purple_account_is_connected(d->account);
}

qint32 PurpleMessenger::ChatRoom() const
{
    return d->chat() ? d->chatId : 0;
}

void PurpleMessenger::SendChat(const QString &text)
{
    d->require("SendChat");
    PurpleConvChat *chat = d->chat();
    if (!chat)
        throw MorvexAIMOCX::MessengerError(u"SendChat: the program is in no room"_s);
    purple_conv_chat_send(chat, wireText(text).toUtf8().constData());
    purple_conversation_clear_message_history(purple_conv_chat_get_conversation(chat));
}

void PurpleMessenger::SendIM(const QString &screenName, const QString &text)
{
    d->require("SendIM");
    PurpleConversation *conversation = d->imConversation(screenName, true);
    if (!conversation)
        throw MorvexAIMOCX::MessengerError(u"SendIM: %1 could not be sent a message"_s.arg(screenName));
    purple_conv_im_send(purple_conversation_get_im_data(conversation), wireText(text).toUtf8().constData());
}

void PurpleMessenger::FinishIM(const QString &screenName)
{
    d->require("FinishIM");
    // The exchange is over: the conversation goes, so a busy room leaves none behind.
    if (PurpleConversation *conversation = d->imConversation(screenName, false))
        purple_conversation_destroy(conversation);
}

MorvexAIMOCX::Delivery PurpleMessenger::delivery() const
{
    return d->settings.delivery();
}

void PurpleMessenger::StartChatWatch()
{
    d->watching = true;
}

void PurpleMessenger::StopChatWatch()
{
    d->watching = false;
}

QString PurpleMessenger::wireText(const QString &text)
{
    QString wire;
    wire.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            wire.append(u"<br>"_s);
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else if (c == u'\t') {
            wire.append(u' ');
        } else if (c.unicode() >= 0x20 && c.unicode() != 0x7F) {
            wire.append(c);
        }
    }
    return wire;
}
