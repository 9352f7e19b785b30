#pragma once

#include <QObject>
#include <QString>

#include <stdexcept>

// The engine's own words for what the messenger contract below does: how a
// call fails, and how a network takes what is sent.
// How every member of AIM fails: the call did not reach the messenger. Every
// caller catches it; none lets it leave an event handler.
class MessengerError : public std::runtime_error
{
public:
    explicit MessengerError(const QString &what) : std::runtime_error(what.toStdString()) {}
};

// A call made while the messenger is not connected to its network: nothing
// went out, and the same call may work once the connection is back.
class NotConnected : public MessengerError
{
public:
    using MessengerError::MessengerError;
};

// How a network takes what the program sends.
struct Delivery
{
    // Lines a second the server passes, and how many at once after a quiet
    // while; 0 lines a second: as fast as the program sends them.
    double linesPerSecond = 0;
    int burst = 1;
    // Every line of a message reaches the network as a message of its own (IRC),
    // so the program may send a message line by line without changing it.
    bool lineByLine = false;
    // What joining a room takes of that pace, in lines, besides the program's
    // own: the join, and what the network's client sends after it (libpurple's
    // IRC asks who is in the room, which a throttling server charges a second for).
    double linesPerJoin = 0;
};

// The messenger the program serves through: the local room built in, or a chat
// network. Texts are HTML whose line breaks are a lone CR; each back end turns
// them into what its network needs.
namespace MorvexAIMOCX {

class AIM : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~AIM() override = default;

    // The name the room knows the program by; it may hold blanks and capitals.
    [[nodiscard]] virtual QString ScreenName() const = 0;
    // False while the messenger is not running (or not connected).
    [[nodiscard]] virtual bool IsRunning() const = 0;
    // The current chat room, 0 while in none.
    [[nodiscard]] virtual qint32 ChatRoom() const = 0;

    // Posts one line in the current chat room.
    virtual void SendChat(const QString &text) = 0;
    // Sends one instant message to a member.
    virtual void SendIM(const QString &screenName, const QString &text) = 0;
    // Ends a message exchange with a member; called after each instant message.
    virtual void FinishIM(const QString &screenName) = 0;
    // ChatLine is raised from now on, until StopChatWatch.
    virtual void StartChatWatch() = 0;
    virtual void StopChatWatch() = 0;

    // How this messenger's network takes what the program sends.
    [[nodiscard]] virtual Delivery delivery() const { return {}; }
    // Who a member of the room is on the whole connection: his name where a
    // name is one person network-wide (IRC), else the room's address for him.
    [[nodiscard]] virtual QString memberAddress(const QString &member) const { return member; }

Q_SIGNALS:
    // One line written in the room: who wrote it and its text (markup removed).
    void ChatLine(const QString &sender, const QString &text);
    // The program is in its room now (again, after a lost connection).
    void roomJoined();
    // The messenger wrote lines of its own on the connection (taking its nick
    // back): they take from the connection's pace like every other line.
    void linesSent(double lines);
    // Something the operator should read: a refused sign-on, a lost connection.
    void problem(const QString &text);
    // The network turned the program away for good (a wrong password, a refused
    // name or certificate): it does not try again; the text says why.
    void signOnRefused(const QString &text);
    // A member left the room or the network; nothing more reaches him.
    void memberLeft(const QString &member);
    // A member of the room goes by another name now.
    void memberRenamed(const QString &oldName, const QString &newName);
};

} // namespace MorvexAIMOCX
