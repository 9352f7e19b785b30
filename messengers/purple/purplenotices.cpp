#include "messengers/purple/purpleparts.h"

#include <QLoggingCategory>

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

namespace PurpleRuntime {

void setNoticeHandler(std::function<void(const QString &)> handler)
{
    noticeHandler() = std::move(handler);
}

} // namespace PurpleRuntime
