#include "platform/purple/connectionparts.h"

#include <QLoggingCategory>

using namespace Qt::StringLiterals;
using purpletext::fromUtf8;

Q_DECLARE_LOGGING_CATEGORY(lcPurple)

// What libpurple reports for a connection's account: signed on or off, a
// failed or lost connection, and what it tells its user (the rest of the
// connection is in chatconnection.cpp).

namespace {

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

} // namespace

void ChatConnection::Private::signedOn(PurpleConnection *gc)
{
    signOnTimer.stop();
    signOnWaits.succeeded();
    everSignedOn = true;
    qCInfo(lcPurple).noquote() << label() << "Signed on to" << settings.account << "as"
                               << fromUtf8(purple_connection_get_display_name(gc));
    for (PurpleMessenger *room : std::as_const(rooms))
        room->parts().join(gc);
    QMetaObject::invokeMethod(q, [q = q] { Q_EMIT q->signedOn(); }, Qt::QueuedConnection);
}

void ChatConnection::Private::signedOff()
{
    for (PurpleMessenger *room : std::as_const(rooms))
        room->parts().signedOff();
    qCInfo(lcPurple).noquote() << label() << "Signed off from" << settings.account;
    scheduleReconnect();
}

void ChatConnection::Private::connectionError(PurpleConnectionError reason, QString why)
{
    signOnTimer.stop();
    for (PurpleMessenger *room : std::as_const(rooms))
        room->parts().signedOff();
    why.replace(u'\n', u' ');
    // An IRC server that answers a new connection with an ERROR line has
    // turned the program away (a wrong server password, a ban); one that
    // did so after serving it may only be restarting.
    const bool ircRefusal = isIrc() && !everSignedOn && why.contains(u"ERROR :"_s);
    if (refusedForGood(reason) || ircRefusal) {
        refused = true;
        const QString text =
            signOnProblem.isEmpty()
                ? u"The server refused the sign-on of %1: %2. Check the account, the password and the options in "
                  u"%3, then start the program again."_s.arg(settings.account, why, NetworkSettings::fileName())
                : u"%1 The program did not sign on %2 and does not try again."_s.arg(signOnProblem, settings.account);
        report(text);
        const QString told = label() + u' ' + text;
        QMetaObject::invokeMethod(q, [q = q, told] { Q_EMIT q->signOnRefused(told); }, Qt::QueuedConnection);
    } else if (purple_connection_error_is_fatal(reason)) {
        report(u"The connection of %1 failed: %2. Trying again in a while."_s.arg(settings.account, why));
    } else {
        report(u"The connection of %1 was lost: %2. Signing on again."_s.arg(settings.account, why));
    }
    scheduleReconnect();
}

void ChatConnection::Private::notice(const QString &text)
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
        qCInfo(lcPurple).noquote() << label() << text;
        return;
    }
    // The room it names, or every room still waiting to get in.
    QList<PurpleMessenger *> waiting;
    for (PurpleMessenger *room : std::as_const(rooms)) {
        if (room->isJoined())
            continue;
        if (text.contains(room->roomName(), Qt::CaseInsensitive)) {
            room->parts().notice(text);
            return;
        }
        waiting.append(room);
    }
    if (waiting.isEmpty()) {
        // In its rooms, the program has nothing to do about it.
        qCInfo(lcPurple).noquote() << label() << text;
        return;
    }
    for (PurpleMessenger *room : std::as_const(waiting))
        room->parts().notice(text);
}

void ChatConnection::Private::instantMessage(const QString &from, const char *message)
{
    const QString text = PurpleSignals::plainText(message);
    QMetaObject::invokeMethod(
        q, [q = q, from, text] { Q_EMIT q->instantMessageReceived(from, text); }, Qt::QueuedConnection);
}
