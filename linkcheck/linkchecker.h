#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

#include <deque>
#include <memory>

class QNetworkAccessManager;
class RowList;
class QNetworkReply;
class QTimer;

// Checks web addresses the way a careful visitor would: HEAD, then GET where
// a server refuses HEAD (reading the headers only), redirects followed on the
// same host, a few requests at once and never many to one host, a server's
// "come back later" honoured. Runs on the event loop; nothing waits for it.
class LinkChecker final : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        int perHost = 2;
        int atOnce = 8;
        int timeoutMs = 10000;
        int redirects = 5;
        // The longest Retry-After waited for; a longer one is a doubtful link.
        int longestRetryAfterMs = 60000;
        // Addresses on loopback and private networks are checked too.
        bool checkPrivate = false;
    };

    // What a link was found to be.
    enum class Verdict {
        Alive,    // it answered with a page (2xx), perhaps after redirects on its host
        Dead,     // gone: 404, 410, another 4xx, a name that no longer resolves, refused, TLS failed
        Doubtful, // a server error, a timeout, a redirect to another host or too many
        Skipped   // not checked: a private or loopback address
    };

    struct Result
    {
        int item = -1;
        QString address;
        Verdict verdict = Verdict::Alive;
        // What was found, for the operator: "404 Not Found", "redirects to https://other.example/".
        QString found;
    };

    struct Link
    {
        int item = -1;
        QString address;
    };

    explicit LinkChecker(Limits limits, QObject *parent = nullptr);
    ~LinkChecker() override;

    // Only http and https addresses are links to check; the rest (file:,
    // ftp:, mailto:, a description typed as an address) are left out.
    [[nodiscard]] static bool isCheckable(const QString &address);
    // The User-Agent every request names.
    [[nodiscard]] static QByteArray userAgent();
    // The catalogue's addresses as links to check, each with its item's number.
    [[nodiscard]] static QList<Link> linksOf(const RowList &addresses);

    // Starts checking; finished() comes once every link has a result (at
    // once for none). A check already running is given up first.
    void check(const QList<Link> &links);
    void cancel();
    // The most requests that were on their way to one host at once.
    [[nodiscard]] int mostAtOnceOnAHost() const { return m_mostOnAHost; }

Q_SIGNALS:
    void progress(int done, int total);
    void finished(const QList<LinkChecker::Result> &results);

private:
    struct Pending;
    void startMore();
    void start(const std::shared_ptr<Pending> &pending);
    void request(const std::shared_ptr<Pending> &pending);
    void answered(const std::shared_ptr<Pending> &pending, QNetworkReply *reply);
    void finish(const std::shared_ptr<Pending> &pending, Verdict verdict, const QString &found);
    [[nodiscard]] bool hostIsPrivate(const QString &host, QString *why) const;

    Limits m_limits;
    QNetworkAccessManager *m_network;
    std::deque<std::shared_ptr<Pending>> m_queue;
    QHash<QString, int> m_perHost;
    // A host that asked to wait: not asked again before then (ms since the epoch).
    QHash<QString, qint64> m_hostWaitsUntil;
    int m_running = 0;
    int m_mostOnAHost = 0;
    bool m_starting = false;
    int m_total = 0;
    int m_done = 0;
    QList<Result> m_results;
    QTimer *m_wake;
    quint64 m_round = 0;
};
