#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// libpurple in this process: started once, with its files in a folder of the
// program's, its event loop on Qt's, deliberate answers to its questions, and
// only the plugins that the one configured network needs.
namespace PurpleRuntime {

// Starts libpurple with its files in userFolder; later calls change nothing.
// Returns what went wrong, or empty text.
[[nodiscard]] QString start(const QString &userFolder);

// Loads the plugin of a protocol ("prpl-irc", "prpl-jabber", ...) and, when
// withTls, the TLS plugin. Returns empty text once the protocol is there, or
// why it is not.
[[nodiscard]] QString loadProtocol(const QString &protocolId, bool withTls);

// Trusts the TLS certificate of a host the operator names: the one with this
// SHA-256 fingerprint (raw bytes), or any issued to one of the names (empty:
// the host's own) by an authority in the PEM file. Returns what is wrong with
// the file, or empty text.
[[nodiscard]] QString trustServer(const QString &host, const QStringList &names, const QByteArray &pinnedFingerprint,
                                  const QString &authorityFile);

// Every protocol that libpurple offers on this machine, as "prpl-irc (IRC)".
// It has to look into every plugin to know, so it is asked only when a
// protocol could not be found.
[[nodiscard]] QStringList installedProtocols();

// What libpurple tells its user (a room that refused the program, a server's
// error) goes to the handler as one text; there is nobody to show a window to.
void setNoticeHandler(std::function<void(const QString &)> handler);

// See PurpleMessenger::setIrcLinesHandedOver.
void setIrcHandOver(bool on);

} // namespace PurpleRuntime
