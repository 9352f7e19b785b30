#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// The server's figures in Prometheus's text format, for /metrics. The chat
// thread counts and sets them; the HTTP thread only reads them (the registry
// is safe to share between threads). No member name is ever a label.
class WebMetrics final
{
public:
    WebMetrics();
    ~WebMetrics();
    WebMetrics(const WebMetrics &) = delete;
    WebMetrics &operator=(const WebMetrics &) = delete;

    enum class Command { Item, List, Search };
    void commandAnswered(const QString &connection, const QString &room, Command kind);
    // A search in the room that found nothing (no words of it are kept).
    void searchFoundNothing(const QString &connection, const QString &room);
    // From an item command to its reply's first line handed to the network.
    void itemReplyStarted(double seconds);
    void reconnected(const QString &connection);
    void rejoined(const QString &connection, const QString &room);

    void setConnectionUp(const QString &connection, bool up);
    void setRoom(const QString &connection, const QString &room, bool joined, bool serving);
    void setQueues(const QString &connection, int listsRunning, int listsWaiting, int linesWaiting, int membersMuted);
    void setCatalogueItems(int items);
    // What the last check of the links found, and when it finished.
    void setLinkCheck(int checked, int dead, int doubtful, qint64 finishedSecondsSinceEpoch);

    // Every figure, as Prometheus scrapes them.
    [[nodiscard]] QByteArray text() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
