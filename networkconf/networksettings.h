#pragma once

#include "platform/messenger.h"
#include "platform/result.h"

#include <QList>
#include <QString>

#include <optional>

// How to reach a chat network: read from network.conf in the data folder, a
// file of "key = value" lines that a person writes ("#" starts a comment).
//
//   protocol     = irc                  irc, xmpp, or a protocol id such as prpl-jabber
//   account      = linkbot@irc.example.org
//   password     = secret               or: password-env = NAME_OF_A_VARIABLE
//   nickserv-password-env = NAME        IRC: identify to NickServ after signing on (or nickserv-password)
//   room         = #links               an IRC channel or room@conference.example.org
//   option.port  = 6667                 any option of the protocol, by its name
//   nick         = Link Desk            the program's name in an XMPP room (blanks allowed)
//   tls-fingerprint = AB:CD:...         trust exactly the server certificate with this SHA-256
//   tls-ca-file  = /path/ca.pem         trust certificates of these authorities too
//   send-rate    = 0.5                  lines a second the server passes (0: no limit)
//   send-burst   = 5                    lines it passes at once after a quiet while
//   chat-search  = on                   members may search: "/NICK send find WORDS" (off by default)
//
// A file may serve several connections: each "[NAME]" section is one, with one
// or more room lines; the keys above the first section are every section's
// defaults (NetworkConfig reads such a file).
class NetworkSettings final
{
public:
    // One room a connection serves; a keyed IRC channel has its key.
    struct Room
    {
        QString name;
        QString key; // never logged
        int line = 0;
    };

    // One line every two seconds after a burst of five: what the common IRC
    // networks let a client send without disconnecting it for flooding.
    static constexpr double DefaultIrcRate = 0.5;
    static constexpr int DefaultIrcBurst = 5;
    // IRC channels and XMPP rooms have short names; a longer one is a mistake.
    static constexpr int LongestRoomName = 200;

    struct Option
    {
        QString name;
        QString value;
        int line = 0;
    };

    // The section's name, "[libera]", or for a file without sections the server's.
    QString name;
    QString protocolId; // libpurple's id: prpl-irc, prpl-jabber, ...
    int protocolLine = 0;
    QString account;
    QString password;
    // IRC: the password the program identifies to NickServ with once signed
    // on (networks with services, without SASL); never logged.
    QString nickServPassword;
    QList<Room> rooms;
    // The program's nickname in the room; empty: the account's name.
    QString nick;
    // SHA-256 of the one server certificate trusted on purpose (raw bytes), and
    // a PEM file of authorities trusted besides the system's; both may be empty.
    QByteArray tlsFingerprint;
    QString tlsAuthorityFile;
    QList<Option> options;
    // The program's own pacing; unset (negative, 0) means the protocol's default.
    double sendRate = -1;
    int sendBurst = 0;
    // chat-search: the rooms answer "send find WORDS" and say so.
    bool chatSearch = false;
    // How fast the program sends on this network: send-rate and send-burst, or
    // for IRC libpurple's ratelimit options of older files, or the defaults.
    [[nodiscard]] Delivery delivery() const;

    // The settings file's name in the data folder.
    [[nodiscard]] static QString fileName();

    // The kinds of value a protocol option takes.
    enum class OptionKind { Boolean, Integer, Text };

    // A mistake on a line of the file: "network.conf, line N: what".
    [[nodiscard]] static QString lineError(int line, const QString &what);
    // What is wrong with an option's value for its kind; empty text when it fits.
    [[nodiscard]] static QString checkOption(const Option &option, OptionKind kind);
    // An option the protocol does not have, with the ones it has.
    [[nodiscard]] QString unknownOption(const Option &option, const QStringList &known) const;
    // True for the values that mean yes: true, yes, on, 1 (in any letter case).
    [[nodiscard]] static bool isTrue(const QString &value);
    // The value of an option, or empty text when the file does not set it.
    [[nodiscard]] QString optionValue(const QString &name) const;
    // The part of the account after "@", without an XMPP resource: the IRC
    // server, or the XMPP domain.
    [[nodiscard]] QString accountServer() const;
    // The server the account connects to: option.connect_server, or accountServer().
    [[nodiscard]] QString serverHost() const;

    // The first connection of a settings file's text, or what is wrong and on which line.
    using Parsed = Result<std::optional<NetworkSettings>>;
    [[nodiscard]] static Parsed parse(const QString &text);

    // True when two rooms of a connection are the same room.
    [[nodiscard]] bool sameRoom(const QString &one, const QString &other) const;
};

// Everything network.conf says: the connections, each with its rooms.
struct NetworkConfig
{
    // What one process serves at most.
    static constexpr int MostConnections = 10;
    static constexpr int MostRoomsPerConnection = 50;
    // A settings file is read whole on the event loop: a larger one is refused unread.
    static constexpr qint64 LargestFileBytes = 1024 * 1024;

    QList<NetworkSettings> connections;
    // The web face, from the lines above the first section: http-listen (an
    // address and a port; no port: the web face is off), http-tls-cert and http-tls-key.
    struct Web
    {
        QString host;
        quint16 port = 0;
        QString certificate;
        QString key;
        QByteArray adminPasswordHash; // http-admin-password-hash: Argon2id, never logged
        // http-public-url: where members find the catalogue page; the rooms'
        // opening lines and advertisement name it. Empty: they do not.
        QString publicUrl;
        [[nodiscard]] bool isOn() const { return !host.isEmpty(); }
    } web;
    // The background check of the catalogue's links, from the lines above the
    // first section: link-check (an interval such as 24h; none: off) and
    // link-check-private (on: addresses on loopback and private networks are
    // checked too, otherwise skipped).
    struct LinkCheck
    {
        qint64 everyMs = 0;
        bool checkPrivate = false;
        [[nodiscard]] bool isOn() const { return everyMs > 0; }
    } linkCheck;
    // Set when the file can be read by other users of the machine.
    QString permissionWarning;

    [[nodiscard]] int roomCount() const;
    [[nodiscard]] const NetworkSettings *connection(const QString &name) const;

    using Parsed = Result<std::optional<NetworkConfig>>;
    // The settings from a file's text, or what is wrong, with its section and line.
    [[nodiscard]] static Parsed parse(const QString &text);
    // The settings file of a data folder: nothing when there is none (the local
    // room is used then), settings, or what is wrong with the file.
    [[nodiscard]] static Parsed load(const QString &folder);
};
