#include "serving/servingtexts.h"

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

} // namespace ServingTexts
