#include "serving/servingtexts.h"

#include <QDebug>

using namespace Qt::StringLiterals;

namespace ServingTexts {

namespace {

QString bannered(const QString &text)
{
    return QStringView(BannerPrefix) % text;
}

} // namespace

QString titleLine()
{
    return bannered(QString::fromUtf16(ChatTitle));
}

QString startSizeLine(int itemCount)
{
    return bannered(u"Now serving "_s % QString::number(itemCount) % u" link(s)"_s);
}

QString advertisedSizeLine(int itemCount)
{
    return bannered(u"Serving "_s % QString::number(itemCount) % u" link(s)"_s);
}

QString listCommandLine(const QString &screenName)
{
    return bannered(u"Type \"/"_s % screenName % u" send list\" for the list"_s);
}

QString itemCommandLine(const QString &screenName)
{
    return bannered(u"Type \"/"_s % screenName % u" send #\" to get #"_s);
}

QString findCommandLine(const QString &screenName)
{
    return bannered(u"Type \"/"_s % screenName % u" send find WORDS\" to search"_s);
}

QString searchMatchLine(int item, const QString &address, const QString &description)
{
    return u"<a href=\""_s % address % u"\">"_s % QString::number(item) % u") "_s % description % u"</a>"_s;
}

QString searchMoreLine(int more)
{
    return u"\u2026 and %1 more: add a word to narrow the search"_s.arg(more);
}

QString nothingFoundLine(const QString &words)
{
    return u"Nothing found for: "_s % words;
}

QString longListLine(int items, int minutes)
{
    return u"The list has %1 items; at this room's pace it takes about %2 minutes. `send find WORDS` finds an item "
           u"in seconds."_s.arg(items)
               .arg(minutes);
}

QString catalogueAddressLine(const QString &address)
{
    return bannered(u"The whole catalogue: "_s % address);
}

QString labelStopLine()
{
    return bannered(u"No longer serving"_s);
}

QString buttonStopLine()
{
    return bannered(u"Server Off"_s);
}

QString messengerNotRunning()
{
    return u"You must be have AOL Instant Messenger running before you can serve."_s;
}

QString notInChatRoom()
{
    return u"You must be in a chat room before you can serve."_s;
}

QString itemReply(const QString &address, const QString &description, const QString &serverMessage)
{
    return u"<a href=\""_s % address % u"\">"_s % description % u"</a>"_s % QChar(CarriageReturn) %
           QStringView(BannerPrefix) % QStringView(ProductTitle) % QChar(CarriageReturn) % QChar(CarriageReturn) %
           serverMessage;
}

qsizetype utf8Size(QStringView text)
{
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80)
            bytes += 1;
        else if (c < 0x800)
            bytes += 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode()))
            bytes += 4, ++i;
        else
            bytes += 3;
    }
    return bytes;
}

QString boundedMessage(const QString &text)
{
    // Most messages are far below the bound: three bytes a character at most.
    if (text.size() * 3 <= LongestMessageBytes || utf8Size(text) <= LongestMessageBytes)
        return text;
    const qsizetype room = LongestMessageBytes - utf8Size(QStringView(CutMarker));
    qsizetype bytes = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const bool pair = text[end].isHighSurrogate() && end + 1 < text.size() && text[end + 1].isLowSurrogate();
        const qsizetype next = end + (pair ? 2 : 1);
        const qsizetype size = utf8Size(QStringView(text).sliced(end, next - end));
        if (bytes + size > room)
            break;
        bytes += size;
        end = next;
    }
    return text.left(end) + QStringView(CutMarker);
}

QString logLine(const QString &label, const QString &text)
{
    return label.isEmpty() ? text : label + u' ' + text;
}

QString shownName(const QString &name)
{
    QString shown;
    QDebug(&shown) << name;
    return shown.trimmed();
}

} // namespace ServingTexts
