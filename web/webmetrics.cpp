#include "web/webmetrics.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

using prometheus::Labels;

struct WebMetrics::Private
{
    std::shared_ptr<prometheus::Registry> registry = std::make_shared<prometheus::Registry>();
    prometheus::Family<prometheus::Counter> &commands =
        prometheus::BuildCounter()
            .Name("valdrin_commands_answered_total")
            .Help("Commands answered (or queued to be), by kind and room")
            .Register(*registry);
    prometheus::Family<prometheus::Counter> &emptySearches =
        prometheus::BuildCounter()
            .Name("valdrin_searches_empty_total")
            .Help("Searches in the room answered with \"Nothing found\", by room")
            .Register(*registry);
    prometheus::Family<prometheus::Counter> &reconnects = prometheus::BuildCounter()
                                                              .Name("valdrin_reconnects_total")
                                                              .Help("Sign-ons after the first, by connection")
                                                              .Register(*registry);
    prometheus::Family<prometheus::Counter> &rejoins = prometheus::BuildCounter()
                                                           .Name("valdrin_rejoins_total")
                                                           .Help("Joins of a room after the first")
                                                           .Register(*registry);
    prometheus::Family<prometheus::Gauge> &connectionUp = prometheus::BuildGauge()
                                                              .Name("valdrin_connection_up")
                                                              .Help("1 while the connection is signed on")
                                                              .Register(*registry);
    prometheus::Family<prometheus::Gauge> &roomJoined = prometheus::BuildGauge()
                                                            .Name("valdrin_room_joined")
                                                            .Help("1 while the program is in the room")
                                                            .Register(*registry);
    prometheus::Family<prometheus::Gauge> &roomServing =
        prometheus::BuildGauge().Name("valdrin_room_serving").Help("1 while the room is served").Register(*registry);
    prometheus::Family<prometheus::Gauge> &listsRunning = prometheus::BuildGauge()
                                                              .Name("valdrin_lists_running")
                                                              .Help("List replies being sent, by connection")
                                                              .Register(*registry);
    prometheus::Family<prometheus::Gauge> &listsWaiting = prometheus::BuildGauge()
                                                              .Name("valdrin_lists_waiting")
                                                              .Help("List replies waiting their turn, by connection")
                                                              .Register(*registry);
    prometheus::Family<prometheus::Gauge> &linesWaiting = prometheus::BuildGauge()
                                                              .Name("valdrin_lines_waiting")
                                                              .Help("Lines waiting to be sent, by connection")
                                                              .Register(*registry);
    prometheus::Family<prometheus::Gauge> &membersMuted = prometheus::BuildGauge()
                                                              .Name("valdrin_members_muted")
                                                              .Help("Members ignored for flooding, by connection")
                                                              .Register(*registry);
    prometheus::Gauge &catalogueItems = prometheus::BuildGauge()
                                            .Name("valdrin_catalogue_items")
                                            .Help("Items in the catalogue")
                                            .Register(*registry)
                                            .Add({});
    // Shown once a check of the links finished (before, no figure rather than zero dead).
    prometheus::Family<prometheus::Gauge> &linksChecked =
        prometheus::BuildGauge()
            .Name("valdrin_links_checked")
            .Help("Links the last check asked (private addresses are not asked)")
            .Register(*registry);
    prometheus::Family<prometheus::Gauge> &linksDead =
        prometheus::BuildGauge().Name("valdrin_links_dead").Help("Links the last check found gone").Register(*registry);
    prometheus::Family<prometheus::Gauge> &linksDoubtful =
        prometheus::BuildGauge()
            .Name("valdrin_links_doubtful")
            .Help("Links the last check found failing or moved to another host")
            .Register(*registry);
    prometheus::Family<prometheus::Gauge> &linkCheckFinished =
        prometheus::BuildGauge()
            .Name("valdrin_link_check_finished_timestamp_seconds")
            .Help("When the last check of the links finished")
            .Register(*registry);
    prometheus::Histogram &itemLatency =
        prometheus::BuildHistogram()
            .Name("valdrin_item_reply_seconds")
            .Help("From an item command to its reply's first line handed to the network")
            .Register(*registry)
            .Add({}, prometheus::Histogram::BucketBoundaries{0.01, 0.05, 0.1, 0.25, 0.5, 1, 2, 5, 10, 30});
};

namespace {

std::string utf8(const QString &text)
{
    return text.toStdString();
}

Labels roomLabels(const QString &connection, const QString &room)
{
    return {{"connection", utf8(connection)}, {"room", utf8(room)}};
}

} // namespace

WebMetrics::WebMetrics() : d(std::make_unique<Private>()) {}

WebMetrics::~WebMetrics() = default;

void WebMetrics::commandAnswered(const QString &connection, const QString &room, Command kind)
{
    Labels labels = roomLabels(connection, room);
    labels.emplace("kind", kind == Command::Item ? "item" : kind == Command::List ? "list" : "search");
    d->commands.Add(labels).Increment();
}

void WebMetrics::searchFoundNothing(const QString &connection, const QString &room)
{
    d->emptySearches.Add(roomLabels(connection, room)).Increment();
}

void WebMetrics::itemReplyStarted(double seconds)
{
    d->itemLatency.Observe(seconds);
}

void WebMetrics::reconnected(const QString &connection)
{
    d->reconnects.Add({{"connection", utf8(connection)}}).Increment();
}

void WebMetrics::rejoined(const QString &connection, const QString &room)
{
    d->rejoins.Add(roomLabels(connection, room)).Increment();
}

void WebMetrics::setConnectionUp(const QString &connection, bool up)
{
    d->connectionUp.Add({{"connection", utf8(connection)}}).Set(up ? 1 : 0);
}

void WebMetrics::setRoom(const QString &connection, const QString &room, bool joined, bool serving)
{
    d->roomJoined.Add(roomLabels(connection, room)).Set(joined ? 1 : 0);
    d->roomServing.Add(roomLabels(connection, room)).Set(serving ? 1 : 0);
}

void WebMetrics::setQueues(const QString &connection, int listsRunning, int listsWaiting, int linesWaiting,
                           int membersMuted)
{
    const Labels labels{{"connection", utf8(connection)}};
    d->listsRunning.Add(labels).Set(listsRunning);
    d->listsWaiting.Add(labels).Set(listsWaiting);
    d->linesWaiting.Add(labels).Set(linesWaiting);
    d->membersMuted.Add(labels).Set(membersMuted);
}

void WebMetrics::setCatalogueItems(int items)
{
    d->catalogueItems.Set(items);
}

void WebMetrics::setLinkCheck(int checked, int dead, int doubtful, qint64 finishedSecondsSinceEpoch)
{
    d->linksChecked.Add({}).Set(checked);
    d->linksDead.Add({}).Set(dead);
    d->linksDoubtful.Add({}).Set(doubtful);
    d->linkCheckFinished.Add({}).Set(double(finishedSecondsSinceEpoch));
}

QByteArray WebMetrics::text() const
{
    const std::string text = prometheus::TextSerializer().Serialize(d->registry->Collect());
    return QByteArray::fromStdString(text);
}
