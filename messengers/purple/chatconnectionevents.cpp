#include "messengers/purple/connectionparts.h"

#include <QLoggingCategory>

using namespace Qt::StringLiterals;
using purpletext::fromUtf8;

Q_DECLARE_LOGGING_CATEGORY(lcPurple)

// What libpurple reports for a connection's account: signed on or off, a
// failed or lost connection, and what it tells its user (the rest of the
// connection is in chatconnection.cpp).

namespace {

// The reasons that trying again cannot mend: the settings or the server's
// identity are wrong, and only the operator can change that. A TLS handshake
// that merely failed (ENCRYPTION_ERROR: a server restarting, a port that closed
// at once) is not one of them; a certificate that failed its check is.
bool refusedForGood(PurpleConnectionError reason)
{
    switch (reason) {
    case PURPLE_CONNECTION_ERROR_INVALID_USERNAME:
    case PURPLE_CONNECTION_ERROR_AUTHENTICATION_FAILED:
    case PURPLE_CONNECTION_ERROR_AUTHENTICATION_IMPOSSIBLE:
    case PURPLE_CONNECTION_ERROR_NO_SSL_SUPPORT:
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

// True when the text names the room as a word of its own: "#r1" is not named
// in "#r10", nor "links@conference" in "otherlinks@conference".
bool namesRoom(const QString &text, const QString &room)
{
    const auto bounds = [](QChar c) { return c.isSpace() || QStringView(u":,;!?()'\"<>[]").contains(c); };
    for (qsizetype at = text.indexOf(room, 0, Qt::CaseInsensitive); at >= 0 && !room.isEmpty();
         at = text.indexOf(room, at + 1, Qt::CaseInsensitive)) {
        const qsizetype end = at + room.size();
        const bool startsWord = at == 0 || bounds(text[at - 1]);
        const bool endsWord = end == text.size() || bounds(text[end]) ||
                              (text[end] == u'.' && (end + 1 == text.size() || text[end + 1].isSpace()));
        if (startsWord && endsWord)
            return true;
    }
    return false;
}

} // namespace

void ChatConnection::Private::signedOn(PurpleConnection *gc)
{
    signOnTimer.stop();
    signOnWaits.succeeded();
    everSignedOn = true;
    qCInfo(lcPurple).noquote() << label() << "Signed on to" << settings.account << "as"
                               << fromUtf8(purple_connection_get_display_name(gc));
    servicesSignedOn();
    QMetaObject::invokeMethod(
        q, [q = q] { Q_EMIT q->signedOn(); }, Qt::QueuedConnection);
}

void ChatConnection::Private::signedOff()
{
    servicesSignedOff();
    for (PurpleMessenger *room : std::as_const(rooms))
        room->parts().signedOff();
    qCInfo(lcPurple).noquote() << label() << "Signed off from" << settings.account;
    scheduleReconnect();
}

void ChatConnection::Private::connectionError(PurpleConnectionError reason, QString why)
{
    signOnTimer.stop();
    servicesSignedOff();
    for (PurpleMessenger *room : std::as_const(rooms))
        room->parts().signedOff();
    why.replace(u'\n', u' ');
    // An IRC server that answers a new connection with an ERROR line has
    // turned the program away (a wrong server password, a ban); one that
    // did so after serving it may only be restarting.
    const bool ircRefusal = isIrc() && !everSignedOn && why.contains(u"ERROR :"_s);
    // An IRC server offers SASL only while its services are linked: without
    // them (a network restarting, services down) it is asked again later.
    const bool saslAwayForNow = isIrc() && reason == PURPLE_CONNECTION_ERROR_AUTHENTICATION_IMPOSSIBLE &&
                                why.contains(u"does not support SASL"_s);
    if (saslAwayForNow) {
        report(u"The server of %1 offers no SASL login now (its services may be down or not linked yet; a network "
               u"without SASL needs option.sasl taken out of %2). Trying again in %3 s."_s
                   .arg(settings.account, NetworkSettings::fileName())
                   .arg(signOnWaits.msUntilTry() / 1000.0));
    } else if (refusedForGood(reason) || ircRefusal) {
        refused = true;
        const QString text =
            signOnProblem.isEmpty()
                ? u"The server refused the sign-on of %1: %2. Check the account, the password and the options in "
                  u"%3, then start the program again."_s.arg(settings.account, why, NetworkSettings::fileName())
                : u"%1 The program did not sign on %2 and does not try again."_s.arg(signOnProblem, settings.account);
        report(text);
        const QString told = label() + u' ' + text;
        QMetaObject::invokeMethod(
            q, [q = q, told] { Q_EMIT q->signOnRefused(told); }, Qt::QueuedConnection);
    } else if (reason == PURPLE_CONNECTION_ERROR_ENCRYPTION_ERROR) {
        report(
            u"The encrypted connection of %1 to %2 failed: %3 (the server may be restarting, or option.ssl may "
            u"be set for a port without TLS). Trying again in %4 s."_s.arg(settings.account, settings.serverHost(), why)
                .arg(signOnWaits.msUntilTry() / 1000.0));
    } else if (purple_connection_error_is_fatal(reason)) {
        report(u"The connection of %1 failed: %2. Trying again in %3 s."_s.arg(settings.account, why)
                   .arg(signOnWaits.msUntilTry() / 1000.0));
    } else {
        report(u"The connection of %1 was lost: %2. Signing on again."_s.arg(settings.account, why));
    }
    scheduleReconnect();
}

bool ChatConnection::Private::notice(const QString &text)
{
    // While signing on, it explains the failure that follows (a refused certificate).
    if (!purple_account_is_connected(account)) {
        // It is logged with the failure it explains, once.
        for (const QString &name : certificateNames()) {
            if (text.contains(name, Qt::CaseInsensitive)) {
                signOnProblem = text;
                return true;
            }
        }
        return false;
    }
    // libpurple's words on a refused nick name the nick the program has now,
    // not the one asked for; the log has the server's refusal already.
    if (nickRefused.isValid() && nickRefused.elapsed() < 2000 &&
        (text.contains(u"is already being used"_s) || text.contains(u"Invalid nickname"_s)))
        return true;
    // The room it names, if it is one still waiting to get in. Anything else
    // (a line bounced for a member who left) is no room's failure.
    for (PurpleMessenger *room : std::as_const(rooms)) {
        if (!room->isJoined() && namesRoom(text, room->roomName())) {
            room->parts().notice(text);
            return true;
        }
    }
    return false;
}

void ChatConnection::Private::instantMessage(const QString &from, const char *message)
{
    const QString text = PurpleSignals::plainText(message);
    QMetaObject::invokeMethod(
        q, [q = q, from, text] { Q_EMIT q->instantMessageReceived(from, text); }, Qt::QueuedConnection);
}
