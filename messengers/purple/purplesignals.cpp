#include "messengers/purple/connectionparts.h"
#include "messengers/purple/purpleruntime.h"

#include <QElapsedTimer>
#include <QHash>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcPurple)

using purpletext::fromUtf8;
using purpletext::GText;
using namespace Qt::StringLiterals;

// libpurple's signals, forwarded to the connection of the account they concern
// and from there to the room of the conversation.

namespace {

QHash<PurpleAccount *, ChatConnection::Private *> &connections()
{
    static QHash<PurpleAccount *, ChatConnection::Private *> byAccount;
    return byAccount;
}

ChatConnection::Private *connectionOf(PurpleAccount *account)
{
    return connections().value(account, nullptr);
}

ChatConnection::Private *connectionOf(PurpleConnection *gc)
{
    return connectionOf(purple_connection_get_account(gc));
}

PurpleMessenger::Private *roomOf(PurpleConversation *conversation)
{
    ChatConnection::Private *connection =
        conversation ? connectionOf(purple_conversation_get_account(conversation)) : nullptr;
    PurpleMessenger *room = connection ? connection->roomOf(conversation) : nullptr;
    return room ? &room->parts() : nullptr;
}

void onSignedOn(PurpleConnection *gc, gpointer)
{
    if (ChatConnection::Private *d = connectionOf(gc))
        d->signedOn(gc);
}

void onSignedOff(PurpleConnection *gc, gpointer)
{
    if (ChatConnection::Private *d = connectionOf(gc))
        d->signedOff();
}

void onConnectionError(PurpleConnection *gc, PurpleConnectionError reason, const gchar *description, gpointer)
{
    if (ChatConnection::Private *d = connectionOf(gc))
        d->connectionError(reason, fromUtf8(description));
}

void onChatJoined(PurpleConversation *conversation, gpointer)
{
    if (PurpleMessenger::Private *room = roomOf(conversation))
        room->chatJoined(conversation);
}

void onChatLeft(PurpleConversation *conversation, gpointer)
{
    if (PurpleMessenger::Private *room = roomOf(conversation); room && room->isOurs(conversation))
        room->chatLeft();
}

// A room the program is no longer to serve, whose join was on its way when it
// was taken out of the settings, is left again.
void onChatJoinedAnyRoom(PurpleConversation *conversation, gpointer)
{
    ChatConnection::Private *d = conversation ? connectionOf(purple_conversation_get_account(conversation)) : nullptr;
    if (d && !d->roomOf(conversation))
        d->leaveStrayRoom(fromUtf8(purple_conversation_get_name(conversation)));
}

// The room is known by the name the protocol makes of the join's components.
void onChatJoinFailed(PurpleConnection *gc, GHashTable *components, gpointer)
{
    ChatConnection::Private *d = connectionOf(gc);
    if (!d)
        return;
    PurplePluginProtocolInfo *protocol = protocolInfo(purple_connection_get_prpl(gc));
    const GText name(protocol->get_chat_name && components ? protocol->get_chat_name(components) : nullptr);
    if (PurpleMessenger *room = d->roomNamed(fromUtf8(name.get()))) {
        room->parts().chatJoinFailed();
        return;
    }
    for (PurpleMessenger *room : std::as_const(d->rooms)) {
        if (!room->isJoined())
            room->parts().chatJoinFailed();
    }
}

void onChatMessage(PurpleAccount *, char *sender, char *message, PurpleConversation *conversation,
                   PurpleMessageFlags flags, gpointer)
{
    if (PurpleMessenger::Private *room = roomOf(conversation))
        room->chatMessage(fromUtf8(sender), message, conversation, flags);
}

// What libpurple writes into a room itself, such as "You have been kicked by
// ann: (reason)", reaches the conversation without a received-chat-msg.
void onWroteChatMessage(PurpleAccount *, const char *, char *message, PurpleConversation *conversation,
                        PurpleMessageFlags flags, gpointer)
{
    if (!(flags & PURPLE_MESSAGE_SYSTEM))
        return;
    if (PurpleMessenger::Private *room = roomOf(conversation); room && room->isOurs(conversation))
        room->roomNews(PurpleSignals::plainText(message));
}

void onMemberLeft(PurpleConversation *conversation, const char *member, const char *, gpointer)
{
    if (PurpleMessenger::Private *room = roomOf(conversation); room && room->isOurs(conversation))
        room->memberLeft(fromUtf8(member));
}

// libpurple tells a rename only to the user interface.
void onMemberRenamed(PurpleConversation *conversation, const char *oldName, const char *newName, const char *)
{
    if (PurpleMessenger::Private *room = roomOf(conversation); room && room->isOurs(conversation))
        room->memberRenamed(fromUtf8(oldName), fromUtf8(newName));
}

PurpleConversationUiOps conversationOps = [] {
    PurpleConversationUiOps ops{};
    ops.chat_rename_user = onMemberRenamed;
    return ops;
}();

void onInstantMessage(PurpleAccount *account, char *sender, char *message, PurpleConversation *, PurpleMessageFlags,
                      gpointer)
{
    if (ChatConnection::Private *d = connectionOf(account))
        d->instantMessage(fromUtf8(sender), message);
}

void onIrcLine(PurpleConnection *gc, char **text, gpointer)
{
    if (ChatConnection::Private *d = gc && text ? connectionOf(gc) : nullptr)
        d->serverLine(*text);
}

// An XMPP room tells why the program is out only in the presence that says
// so, and libpurple writes no line for a ban (status 301): its reason and who
// banned are read there, before libpurple takes the presence.
gboolean onXmppPresence(PurpleConnection *gc, const char *type, const char *from, xmlnode *presence, gpointer)
{
    ChatConnection::Private *d = gc && type && from && presence ? connectionOf(gc) : nullptr;
    if (!d || qstrcmp(type, "unavailable") != 0)
        return FALSE;
    xmlnode *muc = xmlnode_get_child_with_namespace(presence, "x", "http://jabber.org/protocol/muc#user");
    bool banned = false;
    for (xmlnode *status = muc ? xmlnode_get_child(muc, "status") : nullptr; status;
         status = xmlnode_get_next_twin(status))
        banned = banned || qstrcmp(xmlnode_get_attrib(status, "code"), "301") == 0;
    const QString address = fromUtf8(from);
    PurpleMessenger *room = banned ? d->roomNamed(address.section(u'/', 0, 0)) : nullptr;
    if (!room || address.section(u'/', 1) != room->ScreenName())
        return FALSE;
    xmlnode *item = xmlnode_get_child(muc, "item");
    xmlnode *reasonNode = item ? xmlnode_get_child(item, "reason") : nullptr;
    const purpletext::GText reason(reasonNode ? xmlnode_get_data(reasonNode) : nullptr);
    xmlnode *actor = item ? xmlnode_get_child(item, "actor") : nullptr;
    const char *by = actor ? xmlnode_get_attrib(actor, "jid") : nullptr;
    if (actor && !by)
        by = xmlnode_get_attrib(actor, "nick");
    const QString why = reason && *reason.get() ? fromUtf8(reason.get()) : u"No reason"_s;
    room->parts().roomNews(by ? u"You have been banned by %1: (%2)"_s.arg(fromUtf8(by), why)
                              : u"You have been banned: (%1)"_s.arg(why));
    return FALSE;
}

int signalHandle = 0;

template <typename Function> void connectSignal(void *instance, const char *signal, Function function)
{
    purple_signal_connect(instance, signal, &signalHandle, reinterpret_cast<PurpleCallback>(function), nullptr);
}

} // namespace

namespace PurpleSignals {

void connectOnce()
{
    static bool connected = false;
    if (connected)
        return;
    connected = true;
    void *conversations = purple_conversations_get_handle();
    void *connectionsHandle = purple_connections_get_handle();
    connectSignal(connectionsHandle, "signed-on", onSignedOn);
    connectSignal(connectionsHandle, "signed-off", onSignedOff);
    connectSignal(connectionsHandle, "connection-error", onConnectionError);
    connectSignal(conversations, "chat-joined", onChatJoined);
    connectSignal(conversations, "chat-joined", onChatJoinedAnyRoom);
    connectSignal(conversations, "chat-left", onChatLeft);
    connectSignal(conversations, "chat-join-failed", onChatJoinFailed);
    connectSignal(conversations, "received-chat-msg", onChatMessage);
    connectSignal(conversations, "wrote-chat-msg", onWroteChatMessage);
    connectSignal(conversations, "received-im-msg", onInstantMessage);
    connectSignal(conversations, "chat-buddy-left", onMemberLeft);
    purple_conversations_set_ui_ops(&conversationOps);
    // libpurple does not say which account a notice is for: the connection it
    // concerns takes it, and one that concerns none is logged once.
    PurpleRuntime::setNoticeHandler([](const QString &text) {
        bool taken = false;
        for (ChatConnection::Private *d : std::as_const(connections()))
            taken = d->notice(text) || taken;
        // The same words again and again (a "No such nick" for every line
        // still on its way to a member who left) are logged once a minute.
        static QString lastText;
        static QElapsedTimer lastLogged;
        if (taken || (text == lastText && lastLogged.isValid() && lastLogged.elapsed() < 60000))
            return;
        lastText = text;
        lastLogged.start();
        qCInfo(lcPurple).noquote() << text;
    });
}

void connectXmpp(PurplePlugin *xmpp)
{
    static bool connected = false;
    if (connected || !xmpp)
        return;
    connected = true;
    connectSignal(xmpp, "jabber-receiving-presence", onXmppPresence);
}

void connectIrc(PurplePlugin *irc)
{
    static bool connected = false;
    if (connected || !irc)
        return;
    connected = true;
    connectSignal(irc, "irc-receiving-text", onIrcLine);
}

void add(PurpleAccount *account, ChatConnection::Private *connection)
{
    connections().insert(account, connection);
}

void remove(PurpleAccount *account, ChatConnection::Private *connection)
{
    if (connections().value(account) == connection)
        connections().remove(account);
}

QString labelOf(PurpleAccount *account, PurpleConversation *conversation)
{
    ChatConnection::Private *connection = account ? connectionOf(account) : nullptr;
    if (!connection)
        return {};
    if (PurpleMessenger *room = conversation ? connection->roomOf(conversation) : nullptr)
        return room->label();
    return connection->label();
}

// libpurple's stripping turns tabs and line breaks into blanks, which would let
// "send<TAB>1" pass for "send 1"; written as character references they survive.
QString plainText(const char *message)
{
    QByteArray marked(message ? message : "");
    marked.replace('\t', "&#9;").replace('\n', "&#10;").replace('\r', "&#13;");
    const GText plain(purple_markup_strip_html(marked.constData()));
    return fromUtf8(plain.get());
}

} // namespace PurpleSignals
