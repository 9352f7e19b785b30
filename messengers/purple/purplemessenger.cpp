#include "messengers/purple/purplemessenger.h"

#include "messengers/purple/connectionparts.h"
#include "messengers/purple/purpleparts.h"
#include "messengers/purple/purpleruntime.h"

#include <QLoggingCategory>
#include <QRegularExpression>

using namespace Qt::StringLiterals;
using purpletext::fromUtf8;

Q_DECLARE_LOGGING_CATEGORY(lcPurple)

namespace {

// A channel's key is a secret, and the room's news goes to the log: a mode
// change that sets or clears a key ("mode (+k new2) by kop", "mode (+kl new2
// 10) by kop") keeps its modes but not its arguments, and the room's own key
// from network.conf never shows at all.
QString withoutKeys(QString text, const QString &key)
{
    static const QRegularExpression modeChange(u"\\bmode \\(([+-][^ )]*)([^)]*)\\)"_s);
    QString masked;
    qsizetype from = 0;
    for (auto it = modeChange.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (!match.captured(1).contains(u'k'))
            continue;
        const qsizetype arguments = match.captured(2).split(u' ', Qt::SkipEmptyParts).size();
        masked += QStringView(text).mid(from, match.capturedStart(2) - from);
        for (qsizetype i = 0; i < arguments; ++i)
            masked += u" ***"_s;
        from = match.capturedEnd(2);
    }
    if (from > 0)
        text = masked + QStringView(text).mid(from);
    if (!key.isEmpty())
        text.replace(key, u"***"_s);
    return text;
}

} // namespace

PurpleConvChat *PurpleMessenger::Private::chat() const
{
    PurpleConnection *gc = connection->connection();
    if (!gc || chatId == 0 || !connection->isConnected())
        return nullptr;
    PurpleConversation *conversation = purple_find_chat(gc, chatId);
    PurpleConvChat *chat = conversation ? purple_conversation_get_chat_data(conversation) : nullptr;
    return chat && !purple_conv_chat_has_left(chat) ? chat : nullptr;
}

bool PurpleMessenger::Private::isOurs(PurpleConversation *conversation) const
{
    return conversation && purple_conversation_get_type(conversation) == PURPLE_CONV_TYPE_CHAT && chatId != 0 &&
           purple_conv_chat_get_id(purple_conversation_get_chat_data(conversation)) == chatId;
}

void PurpleMessenger::Private::require(const char *call) const
{
    if (!connection->isConnected()) {
        throw NotConnected(u"%1: not connected to %2"_s.arg(QLatin1StringView(call), connection->settings.account));
    }
}

QString PurpleMessenger::Private::label() const
{
    return u"[%1 %2]"_s.arg(connection->settings.name, room.name);
}

void PurpleMessenger::Private::report(const QString &text)
{
    const QString told = label() + u' ' + text;
    qCWarning(lcPurple).noquote() << told;
    QMetaObject::invokeMethod(
        q, [q = q, told] { Q_EMIT q->problem(told); }, Qt::QueuedConnection);
}

// When the next join is tried, as the timer has it (the wait after this one is longer).
int PurpleMessenger::Private::secondsToRejoin() const
{
    return std::max(1, (joinWaits.msUntilTry() + 999) / 1000);
}

// The instant message conversation with a member, made when asked to.
PurpleConversation *PurpleMessenger::Private::imConversation(const QString &screenName, bool create) const
{
    // In an XMPP room a member is reached as an occupant of the room,
    // room@service/nick, whatever characters the nick holds: never at an
    // address made from what a member typed. On IRC by the nick.
    QString recipient = screenName;
    if (connection->isXmpp()) {
        if (conversationName.isEmpty())
            return nullptr;
        recipient = conversationName + u'/' + screenName;
    }
    recipient.remove(u'\r').remove(u'\n').remove(QChar(0));
    if (recipient.isEmpty() || !connection->account)
        return nullptr;
    const QByteArray name = recipient.toUtf8();
    PurpleConversation *conversation =
        purple_find_conversation_with_account(PURPLE_CONV_TYPE_IM, name.constData(), connection->account);
    if (!conversation && create)
        conversation = purple_conversation_new(PURPLE_CONV_TYPE_IM, connection->account, name.constData());
    return conversation;
}

// libpurple may be in the room already: a join of a room that was taken out
// of the settings and put back before the program had left it. The server
// ignores a second join there, so the program takes that conversation as its own.
bool PurpleMessenger::Private::adoptJoinedConversation(PurpleConnection *gc)
{
    const QByteArray name = room.name.toUtf8();
    PurpleConversation *conversation = purple_find_conversation_with_account(PURPLE_CONV_TYPE_CHAT, name.constData(),
                                                                             purple_connection_get_account(gc));
    if (!conversation || purple_conv_chat_has_left(purple_conversation_get_chat_data(conversation)))
        return false;
    for (PurpleMessenger *other : std::as_const(connection->rooms)) {
        if (other != q && other->parts().isOurs(conversation))
            return false;
    }
    chatJoined(conversation);
    return true;
}

void PurpleMessenger::Private::join(PurpleConnection *gc)
{
    if (leaving || room.name.isEmpty() || adoptJoinedConversation(gc))
        return;
    PurplePluginProtocolInfo *protocol = protocolInfo(purple_connection_get_prpl(gc));
    const QByteArray name = room.name.toUtf8();
    GHashTable *components =
        protocol->chat_info_defaults ? protocol->chat_info_defaults(gc, name.constData()) : nullptr;
    if (!components) {
        report(u"The protocol %1 cannot join the room %2."_s.arg(connection->settings.protocolId, room.name));
        return;
    }
    // The name the program goes by in an XMPP room, when the operator chose one.
    const NetworkSettings &settings = connection->settings;
    if (connection->isXmpp() && !settings.nick.isEmpty())
        g_hash_table_replace(components, g_strdup("handle"), g_strdup(settings.nick.toUtf8().constData()));
    // A keyed room's key: IRC and XMPP both take it as the room's "password".
    if (!room.key.isEmpty())
        g_hash_table_replace(components, g_strdup("password"), g_strdup(room.key.toUtf8().constData()));
    serv_join_chat(gc, components);
    connection->handOver();
    g_hash_table_destroy(components);
    // Until the room reports the program in, the join is tried again now and then.
    scheduleRejoin();
}

void PurpleMessenger::Private::scheduleRejoin()
{
    if (leaving || !connection->isConnected() || chat())
        return;
    // A server takes a join every second or so from one client: the rooms
    // still to get in ahead of this one are waited for before it is asked again.
    int ahead = 0;
    for (PurpleMessenger *other : std::as_const(connection->rooms)) {
        if (other == q)
            break;
        ahead += other->isJoined() ? 0 : 1;
    }
    joinWaits.schedule(ahead * 1000);
}

void PurpleMessenger::Private::rejoin()
{
    PurpleConnection *gc = connection->connection();
    if (leaving || connection->stopped || !gc || !connection->isConnected() || chat() || connection->roomsWait)
        return;
    qCInfo(lcPurple).noquote() << label() << "Joining the room" << room.name << "again";
    join(gc);
}

// The room is no longer served: the program leaves it and does not come back.
void PurpleMessenger::Private::leave()
{
    leaving = true;
    watching = false;
    joinWaits.stop();
    PurpleConnection *gc = connection->connection();
    if (gc && chatId != 0 && connection->isConnected()) {
        if (PurpleConversation *conversation = purple_find_chat(gc, chatId))
            purple_conversation_destroy(conversation); // parts the room too
        connection->handOver();
    }
    chatId = 0;
}

void PurpleMessenger::Private::signedOff()
{
    chatId = 0;
    // The room goes with its connection and comes back with it: that is no
    // failure of the room's, so a kick after it waits the first wait.
    joinWaits.reset();
}

void PurpleMessenger::Private::chatJoined(PurpleConversation *conversation)
{
    chatId = purple_conv_chat_get_id(purple_conversation_get_chat_data(conversation));
    conversationName = fromUtf8(purple_conversation_get_name(conversation));
    joinWaits.stop();
    joinWaits.succeeded();
    lastJoinProblem.clear();
    lastRoomNews.clear();
    // Told once the event loop is back: an XMPP room gives the program its
    // room nick only after this signal.
    QMetaObject::invokeMethod(
        q,
        [q = q] {
            if (q->ChatRoom() == 0)
                return;
            qCInfo(lcPurple).noquote() << q->label() << "Joined the room" << q->d->conversationName << "as"
                                       << q->ScreenName();
            Q_EMIT q->roomJoined();
        },
        Qt::QueuedConnection);
}

void PurpleMessenger::Private::roomNews(const QString &text)
{
    const QString news = withoutKeys(text, room.key);
    qCInfo(lcPurple).noquote() << label() << "In the room:" << news;
    // Only what the room said of the program itself explains why it is out
    // ("You have been kicked by ann: (reason)"), never the topic or a mode.
    if (news.startsWith(u"You have been "_s))
        lastRoomNews = news;
}

void PurpleMessenger::Private::chatLeft()
{
    chatId = 0;
    if (leaving)
        return;
    scheduleRejoin();
    const QString why = lastRoomNews.isEmpty() ? QString() : u" (%1)"_s.arg(lastRoomNews);
    report(u"The program is no longer in the room %1%2; it joins again in %3 s."_s.arg(room.name, why)
               .arg(secondsToRejoin()));
}

void PurpleMessenger::Private::chatJoinFailed()
{
    scheduleRejoin();
    report(u"The room %1 could not be joined. Check the room in %2; the program tries again in %3 s."_s
               .arg(room.name, NetworkSettings::fileName())
               .arg(secondsToRejoin()));
}

// What libpurple tells its user about this room: a refusal to let the program in.
void PurpleMessenger::Private::notice(const QString &text)
{
    const QString problem = u"%1 (the program tries to join %2 again in a while)"_s.arg(text, room.name);
    // The same refusal at every try is told once; the log has each one.
    if (problem == lastJoinProblem) {
        qCWarning(lcPurple).noquote() << label() << problem;
        return;
    }
    lastJoinProblem = problem;
    report(problem);
}

void PurpleMessenger::Private::chatMessage(const QString &from, const char *message, PurpleConversation *conversation,
                                           PurpleMessageFlags flags)
{
    if (!isOurs(conversation))
        return;
    // libpurple keeps every line a conversation shows; a server runs for
    // months in a busy room and reads none of them back.
    purple_conversation_clear_message_history(conversation);
    // The room's own news (a kick and its reason) is worth a line in the log.
    if (flags & PURPLE_MESSAGE_SYSTEM) {
        qCInfo(lcPurple).noquote() << label()
                                   << "In the room:" << withoutKeys(PurpleSignals::plainText(message), room.key);
        return;
    }
    // The program's own lines, the room's history and the server's notices are no one's commands.
    if (flags & (PURPLE_MESSAGE_SEND | PURPLE_MESSAGE_DELAYED | PURPLE_MESSAGE_NO_LOG))
        return;
    if (from.isEmpty() || from == q->ScreenName())
        return;
    const QString text = PurpleSignals::plainText(message);
    // libpurple marks an IRC NOTICE only by this prefix. A notice is never
    // answered: that is the rule on IRC, and it keeps two programs from
    // answering each other for ever.
    if (connection->isIrc() && text.startsWith(u"(notice) "))
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

// A member of the room left it (or the network), or took another name.
void PurpleMessenger::Private::memberLeft(const QString &member)
{
    if (chatId == 0 || member.isEmpty())
        return;
    connection->takeNickBackFrom(member);
    QMetaObject::invokeMethod(
        q, [q = q, member] { Q_EMIT q->memberLeft(member); }, Qt::QueuedConnection);
}

void PurpleMessenger::Private::memberRenamed(const QString &oldName, const QString &newName)
{
    if (chatId == 0 || oldName.isEmpty() || newName.isEmpty())
        return;
    connection->takeNickBackFrom(oldName);
    QMetaObject::invokeMethod(
        q, [q = q, oldName, newName] { Q_EMIT q->memberRenamed(oldName, newName); }, Qt::QueuedConnection);
}

void PurpleMessenger::setIrcLinesHandedOver(bool on)
{
    PurpleRuntime::setIrcHandOver(on);
}

QString PurpleMessenger::initialise(const QString &userFolder)
{
    const QString error = PurpleRuntime::start(userFolder);
    if (error.isEmpty())
        PurpleSignals::connectOnce();
    return error;
}

PurpleMessenger::PurpleMessenger(NetworkSettings settings, QObject *parent)
    : AIM(parent), d(std::make_unique<Private>())
{
    d->q = this;
    NetworkSettings::Room first = settings.rooms.value(0);
    settings.rooms.clear();
    d->ownConnection = std::make_unique<ChatConnection>(std::move(settings));
    d->connection = &d->ownConnection->parts();
    d->room = std::move(first);
    d->connection->rooms.append(this);
    d->joinWaits.setFirstWait(d->connection->firstRejoinWaitMs);
    d->joinWaits.onTry(this, [this] { d->rejoin(); });
    // Its connection's troubles are the messenger's own.
    connect(d->ownConnection.get(), &ChatConnection::problem, this, &AIM::problem);
    connect(d->ownConnection.get(), &ChatConnection::signOnRefused, this, &AIM::signOnRefused);
    connect(d->ownConnection.get(), &ChatConnection::instantMessageReceived, this,
            &PurpleMessenger::instantMessageReceived);
}

PurpleMessenger::PurpleMessenger(ChatConnection *connection, NetworkSettings::Room room)
    : AIM(connection), d(std::make_unique<Private>())
{
    d->q = this;
    d->connection = &connection->parts();
    d->room = std::move(room);
    d->connection->rooms.append(this);
    d->joinWaits.setFirstWait(d->connection->firstRejoinWaitMs);
    d->joinWaits.onTry(this, [this] { d->rejoin(); });
    connect(connection, &ChatConnection::instantMessageReceived, this, &PurpleMessenger::instantMessageReceived);
}

PurpleMessenger::~PurpleMessenger()
{
    d->leaving = true;
    d->connection->rooms.removeAll(this);
    d->ownConnection.reset();
}

QString PurpleMessenger::start()
{
    return d->ownConnection ? d->ownConnection->start() : QString();
}

ChatConnection &PurpleMessenger::connection() const
{
    return *d->connection->q;
}

QString PurpleMessenger::roomName() const
{
    return d->room.name;
}

const NetworkSettings::Room &PurpleMessenger::roomSettings() const
{
    return d->room;
}

QString PurpleMessenger::label() const
{
    return d->label();
}

void PurpleMessenger::setSignOnDeadline(int milliseconds)
{
    connection().setSignOnDeadline(milliseconds);
}

void PurpleMessenger::setReconnectDelay(int milliseconds)
{
    connection().setReconnectDelay(milliseconds);
}

QString PurpleMessenger::ScreenName() const
{
    if (PurpleConvChat *chat = d->chat(); chat && d->connection->isXmpp())
        return fromUtf8(purple_conv_chat_get_nick(chat));
    if (PurpleConnection *gc = d->connection->connection(); gc && purple_connection_get_display_name(gc))
        return fromUtf8(purple_connection_get_display_name(gc));
    return d->connection->settings.account.section(u'@', 0, 0);
}

bool PurpleMessenger::IsRunning() const
{
    return d->connection->isConnected();
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
        throw MessengerError(u"SendChat: the program is not in the room %1"_s.arg(d->room.name));
    purple_conv_chat_send(chat, wireText(text).toUtf8().constData());
    purple_conversation_clear_message_history(purple_conv_chat_get_conversation(chat));
    d->connection->handOver();
}

void PurpleMessenger::SendIM(const QString &screenName, const QString &text)
{
    d->require("SendIM");
    // An IRC server refuses an empty line ("412 No text to send"): there is nothing to send.
    if (d->connection->isIrc() && QString(text).remove(u'\r').remove(u'\n').isEmpty())
        return;
    PurpleConversation *conversation = d->imConversation(screenName, true);
    if (!conversation)
        throw MessengerError(u"SendIM: %1 could not be sent a message"_s.arg(screenName));
    purple_conv_im_send(purple_conversation_get_im_data(conversation), wireText(text).toUtf8().constData());
    d->connection->handOver();
}

void PurpleMessenger::FinishIM(const QString &screenName)
{
    d->require("FinishIM");
    // The exchange is over: the conversation goes, so a busy room leaves none behind.
    if (PurpleConversation *conversation = d->imConversation(screenName, false))
        purple_conversation_destroy(conversation);
}

Delivery PurpleMessenger::delivery() const
{
    return d->connection->settings.delivery();
}

QString PurpleMessenger::memberAddress(const QString &member) const
{
    if (d->connection->isXmpp())
        return d->room.name + u'/' + member;
    return member;
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
