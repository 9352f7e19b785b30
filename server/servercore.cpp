#include "server/servercore.h"

#include "server/backgroundlinkcheck.h"
#include "server/filewatcher.h"
#include "server/serverlog.h"

#include "catalogue/catalogue.h"
#include "platform/durablefile.h"
#include "platform/messenger.h"
#include "serving/linkserver.h"
#include "serving/servedrooms.h"
#include "serving/valdrinbas.h"

#ifdef VALDRIN_HAVE_WEB
#include "server/serverweb.h"
#endif
#ifdef VALDRIN_HAVE_PURPLE
#include "server/networkserver.h"
#endif

#include <QFileInfo>
#include <QLockFile>
#include <QLoggingCategory>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcServer, "valdrin.server")

namespace {

// How long a reload waits for a catalogue command to finish its change.
constexpr int ReloadLockWaitMs = 5000;

} // namespace

struct ServerCore::Faces
{
#ifdef VALDRIN_HAVE_PURPLE
    std::unique_ptr<NetworkServer> networks;
#endif
#ifdef VALDRIN_HAVE_WEB
    std::unique_ptr<ServerWeb> web;
#endif
};

ServerCore::ServerCore(const DataFolder &folder, Serving serving, QObject *parent)
    : QObject(parent), m_folder(folder), m_links(std::make_unique<LinkServer>(m_descriptions, m_addresses, folder)),
      m_rooms(std::make_unique<ServedRooms>(*m_links)),
      m_linkCheck(std::make_unique<BackgroundLinkCheck>(folder.path(), m_addresses)),
      m_faces(std::make_unique<Faces>()), m_serving(serving)
{
    m_rooms->setServeOnJoin(serving == Serving::OnJoin);
    connect(m_rooms.get(), &ServedRooms::changed, this,
            [this] { Q_EMIT servingChanged(m_rooms->servingCount(), m_rooms->roomCount()); });
}

ServerCore::~ServerCore()
{
    // Rooms taken out from here on are not told to anyone: whoever listened
    // (the window, the start's status) may be gone already.
    disconnect(m_rooms.get(), nullptr, this, nullptr);
    // The faces first, then the rooms they read, then the rooms' messengers.
#ifdef VALDRIN_HAVE_WEB
    m_faces->web.reset();
#endif
#ifdef VALDRIN_HAVE_PURPLE
    m_faces->networks.reset();
#endif
    m_rooms.reset();
}

Catalogue &ServerCore::catalogue()
{
    return m_links->catalogue();
}

QStringList ServerCore::load()
{
    return m_links->load();
}

QString ServerCore::start(const NetworkConfig &config)
{
    m_links->values().CatalogueAddress = config.web.publicUrl;
#ifdef VALDRIN_HAVE_PURPLE
    m_faces->networks = std::make_unique<NetworkServer>(*m_rooms);
    if (const QString wrong = m_faces->networks->start(config); !wrong.isEmpty())
        return wrong;
    // Networks that turned the program away for good are not asked again.
    connect(m_faces->networks.get(), &NetworkServer::allRefused, this, [this] {
        m_rooms->stopReplies();
        Q_EMIT allRefused();
    });
#else
    return u"%1 names a chat network, but this build of the program has no libpurple. Build with libpurple-dev "
           u"installed."_s.arg(NetworkSettings::fileName());
#endif
#ifdef VALDRIN_HAVE_WEB
    // The web face reads snapshots on a thread of its own; the chat thread
    // publishes a new one whenever the catalogue or a room changes.
    m_faces->web = std::make_unique<ServerWeb>(*m_links, *m_rooms,
#ifdef VALDRIN_HAVE_PURPLE
                                               m_faces->networks.get(),
#else
                                               nullptr,
#endif
                                               *m_linkCheck);
    connect(m_faces->web.get(), &ServerWeb::catalogueChanged, this, &ServerCore::catalogueChanged);
    connect(m_linkCheck.get(), &BackgroundLinkCheck::changed, m_faces->web.get(), &ServerWeb::publish);
    if (config.web.isOn()) {
        if (const QString wrong = m_faces->web->start(config.web); !wrong.isEmpty())
            return wrong;
    }
#else
    if (config.web.isOn())
        return u"%1 sets http-listen, but this build of the program has no web face. Remove the http- lines, or "
               u"build with libmicrohttpd-dev installed."_s.arg(NetworkSettings::fileName());
#endif
    watchFiles(m_serving == Serving::ByOperator);
    m_linkCheck->setSettings(config.linkCheck);
    return {};
}

void ServerCore::start(MorvexAIMOCX::AIM *room)
{
    m_rooms->addRoom(u"local"_s, u"room"_s, room);
    watchFiles(false);
}

void ServerCore::watchFiles(bool settingsToo)
{
    // The operator edits the files while the program runs (by hand, or with
    // its catalogue commands): it reads them again when they change.
    const auto name = [](const QString &path) { return QFileInfo(path).fileName(); };
    m_watcher = std::make_unique<FileWatcher>(
        m_folder.path(),
        QStringList{name(m_folder.descriptionsPath()), name(m_folder.addressesPath()), name(m_folder.messagePath())});
    connect(m_watcher.get(), &FileWatcher::changed, this, &ServerCore::reloadCatalogue);
    if (settingsToo) {
        m_settingsWatcher = std::make_unique<FileWatcher>(m_folder.path(), QStringList{NetworkSettings::fileName()});
        connect(m_settingsWatcher.get(), &FileWatcher::changed, this, &ServerCore::reloadSettings);
    }
}

void ServerCore::publish()
{
#ifdef VALDRIN_HAVE_WEB
    if (m_faces->web)
        m_faces->web->publish();
#endif
    Q_EMIT catalogueChanged();
}

void ServerCore::reloadCatalogue()
{
    // It waits for a command's change to be complete.
    QLockFile lock(m_folder.lockPath());
    // A folder nobody can write in needs no lock to be read.
    if (!lock.tryLock(ReloadLockWaitMs) && durablefile::folderProblem(m_folder.path()).isEmpty()) {
        qCWarning(lcServer).noquote() << u"The catalogue was not read again: %1 stays locked. The catalogue in use "
                                         u"stays as it was."_s.arg(m_folder.lockPath());
        return;
    }
    for (const QString &told : m_links->reload())
        qCInfo(lcServer).noquote() << told;
    publish();
}

void ServerCore::reload()
{
    reloadCatalogue();
    reloadSettings();
}

void ServerCore::reloadSettings()
{
#ifdef VALDRIN_HAVE_PURPLE
    if (!m_faces->networks)
        return;
    NetworkConfig::Parsed changed = NetworkConfig::load(m_folder.path());
    if (changed.error.isEmpty() && !changed.value)
        changed.error = u"%1 is gone from %2"_s.arg(NetworkSettings::fileName(), m_folder.path());
    if (!changed.error.isEmpty()) {
        const QString mistake = changed.error.endsWith(u'.') ? changed.error : changed.error + u'.';
        const QString why = u"%1 The changed %2 was not applied; the rooms go on as they were."_s.arg(
            mistake, NetworkSettings::fileName());
        qCWarning(lcServer).noquote() << why;
        Q_EMIT settingsRefused(why);
        return;
    }
    m_links->values().CatalogueAddress = changed.value->web.publicUrl;
    m_linkCheck->setSettings(changed.value->linkCheck);
    for (const QString &told : m_faces->networks->apply(*changed.value))
        qCInfo(lcServer).noquote() << told;
#endif
}

void ServerCore::stop()
{
    m_linkCheck->stop();
    m_rooms->stopReplies();
}

QString ServerCore::switchOn(OpeningLines lines)
{
    return m_rooms->switchAllOn(lines);
}

bool ServerCore::switchOff(StopLine line)
{
    return m_rooms->switchAllOff(line);
}

QStringList ServerCore::roomStates() const
{
    QStringList lines;
    for (const ServedRooms::RoomState &state : m_rooms->states()) {
        QString line = u"%1 %2"_s.arg(state.connection, state.room);
        line += state.serving ? u": served"_s : state.joined ? u": joined, not served"_s : u": not joined"_s;
        if (!state.lastProblem.isEmpty())
            line += u" (%1)"_s.arg(state.lastProblem);
        lines.append(line);
    }
    return lines;
}
