#include "app/server/messengerfactory.h"

#include "platform/messenger.h"
#include "platform/network/networksettings.h"

#ifdef VALDRIN_HAVE_PURPLE
#include "platform/purple/purplemessenger.h"
#endif

#include <QDir>
#include <QLoggingCategory>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcStartup, "valdrin.startup")

MessengerChoice chooseMessenger(const QString &dataFolder)
{
    NetworkSettings::Parsed parsed = NetworkSettings::load(dataFolder);
    if (!parsed.error.isEmpty())
        return {nullptr, parsed.error};
    if (!parsed.value)
        return {};
    if (!parsed.value->permissionWarning.isEmpty())
        qCWarning(lcStartup).noquote() << parsed.value->permissionWarning;
#ifdef VALDRIN_HAVE_PURPLE
    const QString started = PurpleMessenger::initialise(QDir(dataFolder).filePath(u"purple"_s));
    if (!started.isEmpty())
        return {nullptr, started};
    auto messenger = std::make_unique<PurpleMessenger>(*std::move(parsed.value));
    if (const QString error = messenger->start(); !error.isEmpty())
        return {nullptr, error};
    return {std::move(messenger), {}};
#else
    return {nullptr, u"%1 names a chat network, but this build of the program has no libpurple. Remove the "
                     u"file to serve the local room, or build with libpurple-dev installed."_s
                         .arg(NetworkSettings::fileName())};
#endif
}
