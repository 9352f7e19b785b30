#include "server/messengerfactory.h"

#include "networkconf/networksettings.h"
#include "platform/messenger.h"

#ifdef VALDRIN_HAVE_PURPLE
#include "messengers/purple/purplemessenger.h"
#endif

#include <QDir>
#include <QLoggingCategory>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcStartup, "valdrin.startup")

MessengerChoice chooseMessenger(const QString &dataFolder, QString *othersNotice, bool *chatSearch)
{
    NetworkConfig::Parsed parsed = NetworkConfig::load(dataFolder);
    if (!parsed.error.isEmpty())
        return {nullptr, parsed.error};
    if (!parsed.value)
        return {};
    if (!parsed.value->permissionWarning.isEmpty())
        qCWarning(lcStartup).noquote() << parsed.value->permissionWarning;
    // The window has one messenger: the first room of the first connection.
    NetworkSettings first = parsed.value->connections.first();
    first.rooms = first.rooms.mid(0, 1);
    if (chatSearch)
        *chatSearch = first.chatSearch;
    if (const int others = parsed.value->roomCount() - 1; others > 0) {
        const QString notice =
            u"%1 names %2 more room(s). The window serves the first, %3 on [%4]; the windowless server "
            u"valdrin-aim-serverd serves every room of the file."_s.arg(NetworkSettings::fileName())
                .arg(others)
                .arg(first.rooms.first().name, first.name);
        qCInfo(lcStartup).noquote() << notice;
        if (othersNotice)
            *othersNotice = notice;
    }
#ifdef VALDRIN_HAVE_PURPLE
    const QString started = PurpleMessenger::initialise(QDir(dataFolder).filePath(u"purple"_s));
    if (!started.isEmpty())
        return {nullptr, started};
    auto messenger = std::make_unique<PurpleMessenger>(std::move(first));
    if (const QString error = messenger->start(); !error.isEmpty())
        return {nullptr, error};
    return {std::move(messenger), {}};
#else
    return {nullptr,
            u"%1 names a chat network, but this build of the program has no libpurple. Remove the "
            u"file to serve the local room, or build with libpurple-dev installed."_s.arg(NetworkSettings::fileName())};
#endif
}
