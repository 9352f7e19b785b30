#include "app/server/serverweb.h"

#include "app/web/webface.h"
#include "app/web/webmetrics.h"

#include "platform/rowlist.h"
#include "serving/linkserver.h"
#include "serving/sendscheduler.h"
#include "serving/servedrooms.h"
#include "serving/valdrinbas.h"

#ifdef VALDRIN_HAVE_PURPLE
#include "app/server/networkserver.h"
#include "platform/purple/chatconnection.h"
#endif

#include <QLoggingCategory>
#include <QTimer>

using namespace Qt::StringLiterals;

Q_DECLARE_LOGGING_CATEGORY(lcHeadless)

namespace {

// How often the queue gauges are brought up to date while the web face is on.
constexpr int FiguresEveryMs = 5000;

} // namespace

ServerWeb::ServerWeb(LinkServer &server, ServedRooms &rooms, NetworkServer *networks, QObject *parent)
    : QObject(parent), m_server(server), m_rooms(rooms), m_networks(networks),
      m_metrics(std::make_unique<WebMetrics>()), m_face(std::make_unique<WebFace>())
{
}

ServerWeb::~ServerWeb()
{
    m_face->stop();
}

QString ServerWeb::start(const NetworkConfig::Web &settings)
{
    m_face->setMetrics(m_metrics.get());
    if (const QString wrong = m_face->start({settings.host, settings.port, settings.certificate, settings.key});
        !wrong.isEmpty())
        return wrong;
    publish();
    connect(&m_rooms, &ServedRooms::changed, this, &ServerWeb::publish);
    connect(&m_rooms, &ServedRooms::commandAnswered, this,
            [this](const QString &connection, const QString &room, bool list) {
                m_metrics->commandAnswered(connection, room, list ? WebMetrics::Command::List : WebMetrics::Command::Item);
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
    qCInfo(lcHeadless).noquote() << u"The web face listens on %1%2:%3"_s.arg(
        settings.certificate.isEmpty() ? u"http://"_s : u"https://"_s,
        settings.host.contains(u':') ? u"[%1]"_s.arg(settings.host) : settings.host).arg(m_face->port());
    return {};
}

void ServerWeb::publish()
{
    WebSnapshot snapshot;
    snapshot.descriptions = m_server.descriptions().allRows();
    snapshot.addresses = m_server.addresses().allRows();
    snapshot.serverMessage = ValdrinBas::ServerMessage;
    for (const ServedRooms::RoomState &state : m_rooms.states())
        snapshot.rooms.append({state.connection, state.room, state.nick, state.joined, state.serving});
    m_face->publish(std::move(snapshot));
    refreshFigures();
}

void ServerWeb::refreshFigures()
{
    m_metrics->setCatalogueItems(m_server.descriptions().ListCount());
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
