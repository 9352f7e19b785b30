#pragma once

#include "messengers/purple/backoff.h"
#include "messengers/purple/chatconnection.h"
#include "messengers/purple/purpleheaders.h"
#include "messengers/purple/purplemessenger.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

// The state behind a connection and its rooms, and what libpurple reports to
// them; the callbacks in purplesignals.cpp find them by account. Only this
// folder includes this header.

// What a protocol plugin offers (joining rooms, its options, raw lines).
inline PurplePluginProtocolInfo *protocolInfo(PurplePlugin *plugin)
{
    return static_cast<PurplePluginProtocolInfo *>(plugin->info->extra_info);
}

struct ChatConnection::Private
{
    ChatConnection *q = nullptr;
    NetworkSettings settings;
    PurpleAccount *account = nullptr;
    QList<PurpleMessenger *> rooms;
    bool stopped = false;
    bool refused = false;      // a sign-on the server refused for good (a wrong password)
    bool everSignedOn = false; // signed on at least once in this run
    int signOnDeadlineMs = 30000;
    int firstRejoinWaitMs = 5000;
    Backoff signOnWaits{1000, 60000};
    QTimer signOnTimer;
    QString signOnProblem; // what went wrong while signing on, when libpurple said it first

    // IRC services (nickservices.cpp).
    enum class Services { Unknown, Identifying, Identified, Absent };
    Services services = Services::Unknown;
    bool roomsWait = false; // the rooms wait for NickServ's word before they are joined
    bool nickInUse = false; // the program's nick is held by another connection or the services
    int reclaimCommand = 0; // the next of the services' commands to take a nick back
    int identifyWaitMs = 15000;
    int firstNickWaitMs = 2000;
    QTimer identifyTimer;
    Backoff nickWaits{2000, 300000};
    QElapsedTimer nickAsked;   // the last NICK sent to take the nick back
    QElapsedTimer nickRefused; // the server's last refusal of it, which the log has told

    [[nodiscard]] PurpleConnection *connection() const
    {
        return account ? purple_account_get_connection(account) : nullptr;
    }
    [[nodiscard]] bool isConnected() const { return account && purple_account_is_connected(account); }
    [[nodiscard]] bool isXmpp() const { return settings.protocolId == u"prpl-jabber"; }
    [[nodiscard]] bool isIrc() const { return settings.protocolId == u"prpl-irc"; }
    [[nodiscard]] bool needsTls() const;
    [[nodiscard]] QStringList certificateNames() const;
    [[nodiscard]] QStringList certificateSubjects() const;
    [[nodiscard]] QString label() const;

    void report(const QString &text);
    // What the program sent leaves now, not at libpurple's next IRC queue tick.
    void handOver();
    // Sends a line of the protocol as it stands (IRC), at once.
    void sendRaw(const QByteArray &line);
    // Sets the protocol's options on the account (without one: only checks them).
    [[nodiscard]] QString applyOptions(PurplePlugin *protocol);
    void connect();
    void scheduleReconnect();
    void reconnect();
    void signOnTimedOut();
    void takeNickBackFrom(const QString &gone);

    // --- IRC services and the program's nick (nickservices.cpp).
    [[nodiscard]] QString wantedNick() const;
    [[nodiscard]] QString currentNick() const;
    [[nodiscard]] bool hasWantedNick() const;
    void servicesSignedOn();
    void servicesSignedOff();
    void joinRooms();
    void identified(const QString &how);
    void identifyTimedOut();
    void identificationRefused(const QString &said);
    void resetNickWaits();
    void tryNickBack();
    // Every line an IRC server sends, before libpurple reads it.
    void serverLine(const char *raw);
    void nickServSaid(const QString &text);
    // The program is in a room that is none of its rooms (one removed while its
    // join was on its way): it leaves it, unless the room is wanted again by then.
    void leaveStrayRoom(const QString &name);

    // The room a conversation of this account is, if it is one of them.
    [[nodiscard]] PurpleMessenger *roomOf(PurpleConversation *conversation) const;
    [[nodiscard]] PurpleMessenger *roomNamed(const QString &name) const;

    // --- What libpurple reports for this connection's account.
    void signedOn(PurpleConnection *gc);
    void signedOff();
    void connectionError(PurpleConnectionError reason, QString why);
    // True when it concerns this connection (its sign-on, a room it waits to get into).
    [[nodiscard]] bool notice(const QString &text);
    void instantMessage(const QString &from, const char *message);
};

struct PurpleMessenger::Private
{
    PurpleMessenger *q = nullptr;
    // The connection of a messenger made on its own, owned by it.
    std::unique_ptr<ChatConnection> ownConnection;
    ChatConnection::Private *connection = nullptr;
    NetworkSettings::Room room;
    int chatId = 0;
    QString conversationName; // the room as libpurple names it once joined
    bool watching = false;
    bool leaving = false;
    // A join takes a second or two; a room that has not let the program in by
    // then is asked again, first after five times the first wait to sign on.
    Backoff joinWaits{5000, 300000};
    QString lastJoinProblem;
    QString lastRoomNews; // what the room last said of the program itself (a kick and its reason)

    [[nodiscard]] PurpleConvChat *chat() const;
    [[nodiscard]] bool isOurs(PurpleConversation *conversation) const;
    void require(const char *call) const;
    void report(const QString &text);
    [[nodiscard]] QString label() const;
    [[nodiscard]] int secondsToRejoin() const;
    [[nodiscard]] PurpleConversation *imConversation(const QString &screenName, bool create) const;

    void join(PurpleConnection *gc);
    void scheduleRejoin();
    void rejoin();
    void leave();

    // --- What libpurple reports for this room.
    void signedOff();
    void chatJoined(PurpleConversation *conversation);
    // Joins the conversation libpurple already has for the room, if it is in it.
    [[nodiscard]] bool adoptJoinedConversation(PurpleConnection *gc);
    void roomNews(const QString &text);
    void chatLeft();
    void chatJoinFailed();
    void notice(const QString &text);
    void chatMessage(const QString &from, const char *message, PurpleConversation *conversation,
                     PurpleMessageFlags flags);
    void memberLeft(const QString &member);
    void memberRenamed(const QString &oldName, const QString &newName);
};

namespace PurpleSignals {

// Connects libpurple's signals once; they reach the connections registered here.
void connectOnce();
// Connects the XMPP protocol's own signal (every presence), once it is loaded.
void connectXmpp(PurplePlugin *xmpp);
// Connects the IRC protocol's own signal (every line a server sends), once it is loaded.
void connectIrc(PurplePlugin *irc);
void add(PurpleAccount *account, ChatConnection::Private *connection);
// Forgets the account, if the connection is still the one registered for it.
void remove(PurpleAccount *account, ChatConnection::Private *connection);

// The log's name of an account's connection, or of its room when the
// conversation is one: "[libera]", "[libera #links]"; empty for neither.
[[nodiscard]] QString labelOf(PurpleAccount *account, PurpleConversation *conversation);

// A message as its sender wrote it: markup removed and entities decoded.
[[nodiscard]] QString plainText(const char *message);

} // namespace PurpleSignals
