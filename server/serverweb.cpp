#include "server/serverweb.h"
#include "server/backgroundlinkcheck.h"
#include "server/serverlog.h"

#include "web/webadmin.h"
#include "web/webface.h"
#include "web/webmetrics.h"

#include "catalogue/catalogue.h"
#include "catalogue/cataloguetransfer.h"
#include "catalogue/datafolder.h"
#include "platform/rowlist.h"
#include "serving/cataloguechange.h"
#include "serving/linkserver.h"
#include "serving/sendscheduler.h"
#include "serving/servedrooms.h"
#include "serving/valdrinbas.h"

#ifdef VALDRIN_HAVE_PURPLE
#include "messengers/purple/chatconnection.h"
#include "server/networkserver.h"
#endif

#include <QDateTime>
#include <QLoggingCategory>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// How often the queue gauges are brought up to date while the web face is on.
constexpr int FiguresEveryMs = 5000;
// How long an admin change waits for a catalogue command to finish its own.
constexpr int LockWaitMs = 2000;

} // namespace

ServerWeb::ServerWeb(LinkServer &server, ServedRooms &rooms, NetworkServer *networks, const BackgroundLinkCheck &links,
                     QObject *parent)
    : QObject(parent), m_server(server), m_rooms(rooms), m_networks(networks), m_links(links),
      m_metrics(std::make_unique<WebMetrics>()), m_face(std::make_unique<WebFace>())
{}

ServerWeb::~ServerWeb()
{
    m_face->stop();
}

QString ServerWeb::start(const NetworkConfig::Web &settings)
{
    m_face->setMetrics(m_metrics.get());
    m_face->setAdminRunner(this, [this](const AdminChange::Change &asked) { return run(asked); });
    if (const QString wrong = m_face->start(
            {settings.host, settings.port, settings.certificate, settings.key, settings.adminPasswordHash});
        !wrong.isEmpty())
        return wrong;
    m_started = true;
    publish();
    connect(&m_rooms, &ServedRooms::changed, this, &ServerWeb::publish);
    connect(&m_rooms, &ServedRooms::commandAnswered, this,
            [this](const QString &connection, const QString &room, ChatCommand::Kind kind) {
                m_metrics->commandAnswered(connection, room,
                                           kind == ChatCommand::Kind::List   ? WebMetrics::Command::List
                                           : kind == ChatCommand::Kind::Find ? WebMetrics::Command::Search
                                                                             : WebMetrics::Command::Item);
                count(connection, room);
            });
    connect(&m_rooms, &ServedRooms::searched, this, [this](const QString &connection, const QString &room, int found) {
        if (found == 0)
            m_metrics->searchFoundNothing(connection, room);
    });
    connect(&m_rooms, &ServedRooms::itemReplyStarted, this,
            [this](qint64 waitedMs) { m_metrics->itemReplyStarted(double(waitedMs) / 1000.0); });
#ifdef VALDRIN_HAVE_PURPLE
    if (m_networks) {
        connect(m_networks, &NetworkServer::reconnected, this,
                [this](const QString &connection) { m_metrics->reconnected(connection); });
        connect(m_networks, &NetworkServer::rejoined, this,
                [this](const QString &connection, const QString &room) { m_metrics->rejoined(connection, room); });
    }
#endif
    auto *figures = new QTimer(this);
    connect(figures, &QTimer::timeout, this, &ServerWeb::refreshFigures);
    figures->start(FiguresEveryMs);
    refreshFigures();
    qCInfo(lcServer).noquote() << u"The web face listens on %1%2:%3"_s
                                      .arg(settings.certificate.isEmpty() ? u"http://"_s : u"https://"_s,
                                           settings.host.contains(u':') ? u"[%1]"_s.arg(settings.host) : settings.host)
                                      .arg(m_face->port());
    return {};
}

bool ServerWeb::isIrc(const QString &connection) const
{
#ifdef VALDRIN_HAVE_PURPLE
    if (m_networks) {
        if (const ChatConnection *chat = m_networks->connection(connection))
            return chat->settings().protocolId == u"prpl-irc";
    }
#endif
    Q_UNUSED(connection)
    return false;
}

void ServerWeb::publish()
{
    if (!m_started)
        return;
    WebSnapshot snapshot;
    snapshot.descriptions = m_server.descriptions().snapshot();
    snapshot.addresses = m_server.addresses().snapshot();
    snapshot.search = m_server.search();
    snapshot.serverMessage = m_server.values().ServerMessage;
    snapshot.linkCheck = linkCheck();
    for (const ServedRooms::RoomState &state : m_rooms.states()) {
        snapshot.rooms.append({state.connection, state.room, state.nick, state.joined, state.serving, state.lastProblem,
                               lastDay(state.connection, state.room), isIrc(state.connection)});
    }
    m_face->publish(std::move(snapshot));
    m_countsChanged = false;
    refreshFigures();
}

namespace {

qint64 currentHour()
{
    return QDateTime::currentSecsSinceEpoch() / 3600;
}

} // namespace

void ServerWeb::count(const QString &connection, const QString &room)
{
    QHash<qint64, int> &hours = m_hourly[connection + u' ' + room];
    const qint64 hour = currentHour();
    ++hours[hour];
    m_countsChanged = true;
    hours.removeIf([hour](const auto &entry) { return entry.key() <= hour - 24; });
}

QList<int> ServerWeb::lastDay(const QString &connection, const QString &room)
{
    const QHash<qint64, int> hours = m_hourly.value(connection + u' ' + room);
    const qint64 now = currentHour();
    QList<int> counts;
    for (qint64 hour = now - 23; hour <= now; ++hour)
        counts.append(hours.value(hour));
    return counts;
}

AdminChange::Told ServerWeb::run(const AdminChange::Change &asked)
{
    using namespace CatalogueChange;
    return std::visit(
        [this](const auto &what) -> AdminChange::Told {
            using What = std::decay_t<decltype(what)>;
            if constexpr (std::is_same_v<What, AdminChange::SwitchRoom>) {
                const QString refused = m_rooms.setServing(what.connection, what.room, what.on);
                if (!refused.isEmpty())
                    return {refused, -1, true};
                return {u"%1 %2: serving switched %3."_s.arg(what.connection, what.room, what.on ? u"on"_s : u"off"_s),
                        -1};
            } else if constexpr (std::is_same_v<What, AdminChange::ImportFile>) {
                CatalogueTransfer::Read read =
                    CatalogueTransfer::read(what.bytes, CatalogueTransfer::formatOf(what.fileName));
                if (!read.error.isEmpty()) {
                    const QString told =
                        u"Nothing was imported: %1 cannot be read: %2."_s.arg(what.fileName, read.error);
                    qCInfo(lcServer).noquote() << u"Admin page: %1"_s.arg(told);
                    return {told, -1, true};
                }
                return change(ImportItems{std::move(read.items), what.replace, what.dryRun}, -1);
            } else if constexpr (std::is_same_v<What, AddItem>) {
                // A new item lands at the end.
                return change(what, m_server.descriptions().ListCount());
            } else if constexpr (std::is_same_v<What, EditItem> || std::is_same_v<What, RemoveItem>) {
                return change(what, what.item.descriptionRow);
            } else {
                return change(what, -1);
            }
        },
        asked);
}

AdminChange::Told ServerWeb::change(const CatalogueChange::Change &change, int item)
{
    // The same path as the window and the catalogue commands.
    const CatalogueChange::Outcome outcome =
        CatalogueChange::apply({m_server.catalogue(), m_server.serverMessageFile()}, change, LockWaitMs);
    const QString told = outcome.notes.isEmpty() ? outcome.told : outcome.told + u" "_s + outcome.notes;
    // The next "send list" in every room sends the catalogue as it is now.
    m_server.BuildList();
    publish();
    Q_EMIT catalogueChanged();
    qCInfo(lcServer).noquote() << u"Admin page: %1"_s.arg(told.trimmed());
    // The page opens where the change left the item, within the catalogue as it is now.
    const int items = m_server.descriptions().ListCount();
    return {told.trimmed(), items == 0 ? -1 : std::min(item, items - 1),
            outcome.result != CatalogueChange::Outcome::Result::Changed};
}

WebSnapshot::LinkCheck ServerWeb::linkCheck() const
{
    using Verdict = LinkChecker::Verdict;
    const LinkHealth &health = m_links.health();
    WebSnapshot::LinkCheck check;
    check.on = m_links.isOn();
    check.checking = m_links.isChecking();
    check.finished = health.finished();
    check.checked = health.checked();
    check.dead = health.count(Verdict::Dead);
    check.doubtful = health.count(Verdict::Doubtful);
    check.skipped = health.count(Verdict::Skipped);
    if (check.dead + check.doubtful == 0)
        return check;
    const RowList &descriptions = m_server.descriptions();
    const RowList &addresses = m_server.addresses();
    QList<WebSnapshot::LinkCheck::Problem> doubtful;
    for (int item = 0; item < addresses.ListCount(); ++item) {
        const QString address = addresses.List(item);
        if (const LinkHealth::Problem *problem = health.problemOf(address)) {
            const bool dead = problem->verdict == Verdict::Dead;
            (dead ? check.problems : doubtful)
                .append({item, descriptions.List(item), address, dead, problem->found, problem->since});
        }
    }
    check.problems += doubtful;
    return check;
}

void ServerWeb::refreshFigures()
{
    // The admin page's chart follows the counts, a few seconds behind.
    if (m_countsChanged) {
        publish();
        return;
    }
    m_metrics->setCatalogueItems(m_server.descriptions().ListCount());
    if (const LinkHealth &health = m_links.health(); health.isChecked()) {
        m_metrics->setLinkCheck(health.checked(), health.count(LinkChecker::Verdict::Dead),
                                health.count(LinkChecker::Verdict::Doubtful), health.finished().toSecsSinceEpoch());
    }
    for (const ServedRooms::RoomState &state : m_rooms.states())
        m_metrics->setRoom(state.connection, state.room, state.joined, state.serving);
    for (const QString &connection : m_rooms.connections()) {
        if (const SendScheduler *scheduler = m_rooms.scheduler(connection)) {
            const SendScheduler::Counters counters = scheduler->counters();
            m_metrics->setQueues(connection, counters.listsRunning, counters.listsWaiting, counters.linesWaiting,
                                 m_rooms.mutedCount(connection));
        }
#ifdef VALDRIN_HAVE_PURPLE
        if (m_networks) {
            if (const ChatConnection *chat = m_networks->connection(connection))
                m_metrics->setConnectionUp(connection, chat->isSignedOn());
        }
#endif
    }
}
