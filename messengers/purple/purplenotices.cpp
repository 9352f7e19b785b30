#include "messengers/purple/purpleparts.h"

#include <QLoggingCategory>

#include <QRegularExpression>

#include <cstring>
#include <functional>

using namespace Qt::StringLiterals;
using purpletext::fromUtf8;

Q_DECLARE_LOGGING_CATEGORY(lcPurple)

namespace {

// Where what libpurple tells its user goes (see setNoticeHandler).
std::function<void(const QString &)> &noticeHandler()
{
    static std::function<void(const QString &)> handler;
    return handler;
}

void *notifyMessage(PurpleNotifyMsgType, const char *, const char *primary, const char *secondary)
{
    QStringList parts;
    for (const char *part : {primary, secondary}) {
        if (part && *part)
            parts.append(fromUtf8(part));
    }
    if (!parts.isEmpty())
        PurpleRuntime::Parts::tell(parts.join(u": "_s));
    return nullptr;
}

// libpurple's IRC has no answer of its own to a room that refuses the
// program (a wrong or missing key, invite only, full, banned, no such room):
// it only notes the server's line as unrecognised in its debug output. That
// line is the one place the server's reason shows, so it is picked out here.

gboolean debugIsEnabled(PurpleDebugLevel level, const char *category)
{
    return level >= PURPLE_DEBUG_INFO && category && std::strcmp(category, "irc") == 0;
}

void debugPrint(PurpleDebugLevel, const char *category, const char *text)
{
    if (!category || std::strcmp(category, "irc") != 0 || !text)
        return;
    static const QRegularExpression refusedJoin(
        u"^Unrecognized message: :\\S+ (47[1345679]|40[35]) \\S+ (\\S+) :(.*)$"_s);
    const QRegularExpressionMatch match = refusedJoin.match(fromUtf8(text).trimmed());
    if (match.hasMatch())
        PurpleRuntime::Parts::tell(u"Cannot join %1: %2"_s.arg(match.captured(2), match.captured(3)));
}

PurpleDebugUiOps debugOps = [] {
    PurpleDebugUiOps ops = {};
    ops.print = debugPrint;
    ops.is_enabled = debugIsEnabled;
    return ops;
}();

PurpleNotifyUiOps notifyOps = [] {
    PurpleNotifyUiOps ops = {};
    ops.notify_message = notifyMessage;
    return ops;
}();

} // namespace

void PurpleRuntime::Parts::tell(const QString &text)
{
    if (noticeHandler())
        noticeHandler()(text);
}

PurpleNotifyUiOps *PurpleRuntime::Parts::notifyOps()
{
    return &::notifyOps;
}

PurpleDebugUiOps *PurpleRuntime::Parts::debugOps()
{
    return &::debugOps;
}

namespace PurpleRuntime {

void setNoticeHandler(std::function<void(const QString &)> handler)
{
    noticeHandler() = std::move(handler);
}

} // namespace PurpleRuntime
