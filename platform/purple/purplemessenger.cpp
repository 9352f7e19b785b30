#include "platform/purple/purplemessenger.h"

// libpurple's headers are C and not written for these warnings.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wold-style-cast"
#include <purple.h>
#pragma GCC diagnostic pop

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>

#include <memory>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcNetwork, "valdrin.network")

namespace {

constexpr char UiId[] = "valdrin";
constexpr int LongestReconnectDelayMs = 60000;

struct GFreeDeleter
{
    void operator()(char *text) const { g_free(text); }
};
using GText = std::unique_ptr<char, GFreeDeleter>;

QString fromUtf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

// The messengers of this process, by account, for libpurple's C callbacks.
QHash<PurpleAccount *, PurpleMessenger::Private *> &messengers()
{
    static QHash<PurpleAccount *, PurpleMessenger::Private *> byAccount;
    return byAccount;
}

// --- The event loop: libpurple's timers and sockets run on GLib's main context,
// which Qt's event loop dispatches on Linux.

struct InputClosure
{
    PurpleInputFunction function;
    gpointer data;
};

gboolean dispatchInput(GIOChannel *source, GIOCondition condition, gpointer data)
{
    const auto *closure = static_cast<InputClosure *>(data);
    int purpleCondition = 0;
    if (condition & (G_IO_IN | G_IO_HUP | G_IO_ERR))
        purpleCondition |= PURPLE_INPUT_READ;
    if (condition & (G_IO_OUT | G_IO_HUP | G_IO_ERR | G_IO_NVAL))
        purpleCondition |= PURPLE_INPUT_WRITE;
    closure->function(closure->data, g_io_channel_unix_get_fd(source), PurpleInputCondition(purpleCondition));
    return TRUE;
}

// Chat lines are small and answered at once: without this, the kernel holds a
// reply back until the peer acknowledges the last one (tens of milliseconds).
void sendWithoutDelay(int fd)
{
    int type = 0;
    socklen_t length = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM)
        return;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

guint addInput(gint fd, PurpleInputCondition condition, PurpleInputFunction function, gpointer data)
{
    sendWithoutDelay(fd);
    auto *closure = g_new0(InputClosure, 1);
    closure->function = function;
    closure->data = data;
    int glibCondition = 0;
    if (condition & PURPLE_INPUT_READ)
        glibCondition |= G_IO_IN | G_IO_HUP | G_IO_ERR;
    if (condition & PURPLE_INPUT_WRITE)
        glibCondition |= G_IO_OUT | G_IO_HUP | G_IO_ERR | G_IO_NVAL;
    GIOChannel *channel = g_io_channel_unix_new(fd);
    const guint id = g_io_add_watch_full(channel, G_PRIORITY_DEFAULT, GIOCondition(glibCondition), dispatchInput,
                                         closure, g_free);
    g_io_channel_unref(channel);
    return id;
}

PurpleEventLoopUiOps eventLoopOps = {g_timeout_add, g_source_remove, addInput, g_source_remove, nullptr,
                                     g_timeout_add_seconds, nullptr, nullptr, nullptr};

// --- Requests: a program with nobody at the keyboard takes the default answer.
// XMPP asks whether to configure a new room; without an answer the room would
// stay locked for everybody else.

void *acceptDefaultAction(const char *, const char *, const char *, int defaultAction, PurpleAccount *,
                          const char *, PurpleConversation *, void *userData, size_t actionCount, va_list actions)
{
    for (size_t index = 0; index < actionCount; ++index) {
        va_arg(actions, const char *); // the label
        const auto callback = va_arg(actions, GCallback);
        if (int(index) == defaultAction && callback) {
            reinterpret_cast<PurpleRequestActionCb>(callback)(userData, defaultAction);
            break;
        }
    }
    return nullptr;
}

PurpleRequestUiOps requestOps = {nullptr, nullptr, acceptDefaultAction, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr};

PurpleCoreUiOps coreOps = {};

int signalHandle = 0;

PurplePluginProtocolInfo *protocolInfo(PurplePlugin *plugin)
{
    return static_cast<PurplePluginProtocolInfo *>(plugin->info->extra_info);
}

template <typename Function>
void connectSignal(void *instance, const char *signal, Function function)
{
    purple_signal_connect(instance, signal, &signalHandle, reinterpret_cast<PurpleCallback>(function), nullptr);
}

PurpleMessenger::Private *messengerOf(PurpleAccount *account)
{
    return messengers().value(account, nullptr);
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
    bool refused = false; // a sign-on the server refused for good (a wrong password)
    int firstDelayMs = 1000;
    int delayMs = 1000;
    QTimer reconnectTimer;

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

    void require(const char *call) const
    {
        if (!account || !purple_account_is_connected(account)) {
            throw MorvexAIMOCX::MessengerError(
                u"%1: not connected to %2"_s.arg(QLatin1StringView(call), settings.account));
        }
    }

    void report(const QString &text)
    {
        qCWarning(lcNetwork).noquote() << text;
        QMetaObject::invokeMethod(q, [q = q, text] { Q_EMIT q->problem(text); }, Qt::QueuedConnection);
    }

    void scheduleReconnect()
    {
        if (stopped || refused || reconnectTimer.isActive())
            return;
        qCInfo(lcNetwork) << "Signing on again in" << delayMs / 1000.0 << "s";
        reconnectTimer.start(delayMs);
        delayMs = std::min(delayMs * 2, LongestReconnectDelayMs);
    }

    void reconnect()
    {
        if (stopped || !account || !purple_account_is_disconnected(account))
            return;
        qCInfo(lcNetwork).noquote() << "Signing on to" << settings.account;
        purple_account_connect(account);
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
        serv_join_chat(gc, components);
        g_hash_table_destroy(components);
    }

    // --- libpurple's signals, for this messenger's account.

    static void onSignedOn(PurpleConnection *gc, gpointer)
    {
        Private *d = messengerOf(purple_connection_get_account(gc));
        if (!d)
            return;
        d->delayMs = d->firstDelayMs;
        qCInfo(lcNetwork).noquote() << "Signed on to" << d->settings.account << "as"
                                    << fromUtf8(purple_connection_get_display_name(gc));
        d->joinRoom(gc);
    }

    static void onSignedOff(PurpleConnection *gc, gpointer)
    {
        Private *d = messengerOf(purple_connection_get_account(gc));
        if (!d)
            return;
        d->chatId = 0;
        qCInfo(lcNetwork).noquote() << "Signed off from" << d->settings.account;
        d->scheduleReconnect();
    }

    static void onConnectionError(PurpleConnection *gc, PurpleConnectionError reason, const gchar *description,
                                  gpointer)
    {
        Private *d = messengerOf(purple_connection_get_account(gc));
        if (!d)
            return;
        d->chatId = 0;
        const QString why = fromUtf8(description);
        if (reason == PURPLE_CONNECTION_ERROR_AUTHENTICATION_FAILED ||
            reason == PURPLE_CONNECTION_ERROR_INVALID_USERNAME) {
            d->refused = true;
            d->report(u"The server refused the sign-on of %1: %2. Check the account and the password in %3, "
                      u"then start the program again."_s.arg(d->settings.account, why, NetworkSettings::fileName()));
        } else if (purple_connection_error_is_fatal(reason)) {
            d->report(u"The connection of %1 failed: %2. Trying again in a while."_s.arg(d->settings.account, why));
        } else {
            d->report(u"The connection of %1 was lost: %2. Signing on again."_s.arg(d->settings.account, why));
        }
        d->scheduleReconnect();
    }

    static void onChatJoined(PurpleConversation *conversation, gpointer)
    {
        Private *d = messengerOf(purple_conversation_get_account(conversation));
        if (!d)
            return;
        d->chatId = purple_conv_chat_get_id(purple_conversation_get_chat_data(conversation));
        d->roomName = fromUtf8(purple_conversation_get_name(conversation));
        qCInfo(lcNetwork).noquote() << "Joined the room" << d->roomName << "as" << d->q->ScreenName();
        QMetaObject::invokeMethod(d->q, [q = d->q] { Q_EMIT q->roomJoined(); }, Qt::QueuedConnection);
    }

    static void onChatLeft(PurpleConversation *conversation, gpointer)
    {
        Private *d = messengerOf(purple_conversation_get_account(conversation));
        if (!d || purple_conv_chat_get_id(purple_conversation_get_chat_data(conversation)) != d->chatId)
            return;
        d->chatId = 0;
        d->report(u"The program is no longer in the room %1."_s.arg(d->roomName));
    }

    static void onChatJoinFailed(PurpleConnection *gc, GHashTable *, gpointer)
    {
        Private *d = messengerOf(purple_connection_get_account(gc));
        if (d)
            d->report(u"The room %1 could not be joined. Check the room in %2."_s.arg(d->settings.room,
                                                                                      NetworkSettings::fileName()));
    }

    static void onChatMessage(PurpleAccount *account, char *sender, char *message, PurpleConversation *conversation,
                              PurpleMessageFlags flags, gpointer)
    {
        Private *d = messengerOf(account);
        if (!d || !conversation || purple_conv_chat_get_id(purple_conversation_get_chat_data(conversation)) != d->chatId)
            return;
        // The program's own lines, the room's history and the server's notices are no one's commands.
        if (flags & (PURPLE_MESSAGE_SEND | PURPLE_MESSAGE_DELAYED | PURPLE_MESSAGE_SYSTEM | PURPLE_MESSAGE_NO_LOG))
            return;
        const QString from = fromUtf8(sender);
        if (from.isEmpty() || from == d->q->ScreenName())
            return;
        const GText plain(purple_markup_strip_html(message));
        const QString text = fromUtf8(plain.get());
        // Raised from the event loop, never inside libpurple: a handler may wait, and
        // libpurple is not re-entrant.
        QMetaObject::invokeMethod(
            d->q,
            [q = d->q, from, text] {
                if (q->d->watching)
                    Q_EMIT q->ChatLine(from, text);
            },
            Qt::QueuedConnection);
    }

    static void onInstantMessage(PurpleAccount *account, char *sender, char *message, PurpleConversation *,
                                 PurpleMessageFlags, gpointer)
    {
        Private *d = messengerOf(account);
        if (!d)
            return;
        const QString from = fromUtf8(sender);
        const GText plain(purple_markup_strip_html(message));
        const QString text = fromUtf8(plain.get());
        QMetaObject::invokeMethod(
            d->q, [q = d->q, from, text] { Q_EMIT q->instantMessageReceived(from, text); }, Qt::QueuedConnection);
    }
};

QString PurpleMessenger::initialise(const QString &userFolder)
{
    static QString outcome = u"not started"_s;
    static bool started = false;
    if (started)
        return outcome;
    started = true;

    if (!QDir().mkpath(userFolder))
        return outcome = u"Could not create libpurple's folder %1."_s.arg(QDir::toNativeSeparators(userFolder));
    purple_util_set_user_dir(QDir::toNativeSeparators(userFolder).toLocal8Bit().constData());
    purple_debug_set_enabled(FALSE);
    purple_core_set_ui_ops(&coreOps);
    purple_eventloop_set_ui_ops(&eventLoopOps);
    purple_request_set_ui_ops(&requestOps);
    if (!purple_core_init(UiId))
        return outcome = u"libpurple did not start."_s;
    purple_set_blist(purple_blist_new());
    purple_blist_load();
    purple_prefs_load();
    purple_prefs_set_bool("/purple/logging/log_ims", FALSE);
    purple_prefs_set_bool("/purple/logging/log_chats", FALSE);
    purple_prefs_set_bool("/purple/logging/log_system", FALSE);

    // Where Qt's loop does not dispatch GLib's main context, drive it from a timer.
    const QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher || !dispatcher->inherits("QEventDispatcherGlib")) {
        auto *pump = new QTimer(QCoreApplication::instance());
        QObject::connect(pump, &QTimer::timeout, [] {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
        });
        pump->start(10);
    }

    void *conversations = purple_conversations_get_handle();
    void *connections = purple_connections_get_handle();
    connectSignal(connections, "signed-on", Private::onSignedOn);
    connectSignal(connections, "signed-off", Private::onSignedOff);
    connectSignal(connections, "connection-error", Private::onConnectionError);
    connectSignal(conversations, "chat-joined", Private::onChatJoined);
    connectSignal(conversations, "chat-left", Private::onChatLeft);
    connectSignal(conversations, "chat-join-failed", Private::onChatJoinFailed);
    connectSignal(conversations, "received-chat-msg", Private::onChatMessage);
    connectSignal(conversations, "received-im-msg", Private::onInstantMessage);
    return outcome = QString();
}

QStringList PurpleMessenger::protocols()
{
    QStringList names;
    for (GList *item = purple_plugins_get_protocols(); item; item = item->next) {
        auto *plugin = static_cast<PurplePlugin *>(item->data);
        names.append(u"%1 (%2)"_s.arg(fromUtf8(purple_plugin_get_id(plugin)), fromUtf8(purple_plugin_get_name(plugin))));
    }
    return names;
}

PurpleMessenger::PurpleMessenger(NetworkSettings settings, QObject *parent)
    : AIM(parent), d(std::make_unique<Private>())
{
    d->q = this;
    d->settings = std::move(settings);
    d->reconnectTimer.setSingleShot(true);
    connect(&d->reconnectTimer, &QTimer::timeout, this, [this] { d->reconnect(); });
}

PurpleMessenger::~PurpleMessenger()
{
    d->stopped = true;
    if (d->account) {
        messengers().remove(d->account);
        purple_account_set_enabled(d->account, UiId, FALSE); // disconnects it too
    }
}

QString PurpleMessenger::start()
{
    const QString error = initialise(QString());
    if (!error.isEmpty())
        return error;
    const NetworkSettings &settings = d->settings;
    const QByteArray protocolId = settings.protocolId.toUtf8();
    PurplePlugin *protocol = purple_find_prpl(protocolId.constData());
    if (!protocol) {
        return u"%1, line %2: unknown protocol \"%3\"; this machine offers: %4"_s.arg(
            NetworkSettings::fileName(), QString::number(settings.protocolLine), settings.protocolId,
            protocols().join(u", "_s));
    }

    const QByteArray username = settings.account.toUtf8();
    PurpleAccount *account = purple_accounts_find(username.constData(), protocolId.constData());
    if (!account) {
        account = purple_account_new(username.constData(), protocolId.constData());
        purple_accounts_add(account);
    }
    purple_account_set_remember_password(account, FALSE);
    purple_account_set_password(account, settings.password.toUtf8().constData());

    PurplePluginProtocolInfo *info = protocolInfo(protocol);
    for (const NetworkSettings::Option &option : settings.options) {
        const PurpleAccountOption *found = nullptr;
        QStringList known;
        for (GList *item = info->protocol_options; item; item = item->next) {
            auto *candidate = static_cast<PurpleAccountOption *>(item->data);
            const QString name = fromUtf8(purple_account_option_get_setting(candidate));
            known.append(name);
            if (name == option.name)
                found = candidate;
        }
        const auto wrong = [&](const QString &what) {
            return u"%1, line %2: %3"_s.arg(NetworkSettings::fileName()).arg(option.line).arg(what);
        };
        if (!found) {
            return wrong(u"%1 has no option \"%2\"; its options are: %3"_s.arg(settings.protocolId, option.name,
                                                                               known.join(u", "_s)));
        }
        const QByteArray name = option.name.toUtf8();
        switch (purple_account_option_get_type(found)) {
        case PURPLE_PREF_BOOLEAN: {
            const QString value = option.value.toLower();
            const bool yes = value == u"true" || value == u"yes" || value == u"1" || value == u"on";
            const bool no = value == u"false" || value == u"no" || value == u"0" || value == u"off";
            if (!yes && !no)
                return wrong(u"option.%1 takes true or false, not \"%2\""_s.arg(option.name, option.value));
            purple_account_set_bool(account, name.constData(), yes);
            break;
        }
        case PURPLE_PREF_INT: {
            bool ok = false;
            const int value = option.value.toInt(&ok);
            if (!ok)
                return wrong(u"option.%1 takes a whole number, not \"%2\""_s.arg(option.name, option.value));
            purple_account_set_int(account, name.constData(), value);
            break;
        }
        default:
            purple_account_set_string(account, name.constData(), option.value.toUtf8().constData());
            break;
        }
    }

    d->account = account;
    messengers().insert(account, d.get());
    qCInfo(lcNetwork).noquote() << "Signing on to" << settings.account << "with" << settings.protocolId;
    purple_account_set_enabled(account, UiId, TRUE);
    if (purple_account_is_disconnected(account))
        purple_account_connect(account);
    return {};
}

void PurpleMessenger::setReconnectDelay(int milliseconds)
{
    d->firstDelayMs = d->delayMs = milliseconds;
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
}

void PurpleMessenger::SendIM(const QString &screenName, const QString &text)
{
    d->require("SendIM");
    PurpleConversation *conversation = imConversation(screenName, true);
    if (!conversation)
        throw MorvexAIMOCX::MessengerError(u"SendIM: %1 could not be sent a message"_s.arg(screenName));
    purple_conv_im_send(purple_conversation_get_im_data(conversation), wireText(text).toUtf8().constData());
}

void PurpleMessenger::FinishIM(const QString &screenName)
{
    d->require("FinishIM");
    // The exchange is over: the conversation goes, so a busy room leaves none behind.
    if (PurpleConversation *conversation = imConversation(screenName, false))
        purple_conversation_destroy(conversation);
}

PurpleConversation *PurpleMessenger::imConversation(const QString &screenName, bool create) const
{
    // In an XMPP room a member is reached as room@service/nick; on IRC by the nick.
    QString recipient = screenName;
    if (d->isXmpp() && !screenName.contains(u'@') && !d->roomName.isEmpty())
        recipient = d->roomName + u'/' + screenName;
    recipient.remove(u'\r').remove(u'\n').remove(QChar(0));
    if (recipient.isEmpty())
        return nullptr;
    const QByteArray name = recipient.toUtf8();
    PurpleConversation *conversation =
        purple_find_conversation_with_account(PURPLE_CONV_TYPE_IM, name.constData(), d->account);
    if (!conversation && create)
        conversation = purple_conversation_new(PURPLE_CONV_TYPE_IM, d->account, name.constData());
    return conversation;
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
        } else if (c.unicode() >= 0x20 || c == u'\t') {
            wire.append(c);
        }
    }
    return wire;
}
