#include "linkcheck/linkchecker.h"

#include "platform/rowlist.h"

#include <QDateTime>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// A wait a server asks for without saying how long.
constexpr int DefaultRetryAfterMs = 5000;
// How often one link is asked again after a "come back later".
constexpr int RetriesAtMost = 2;

bool isPrivateAddress(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4); // IPv4-mapped IPv6 addresses too
    if (isV4) {
        const auto in = [v4](quint32 network, int bits) { return (v4 >> (32 - bits)) == (network >> (32 - bits)); };
        return in(0x00000000, 8) || in(0x0A000000, 8) || in(0x7F000000, 8) || in(0x64400000, 10) ||
               in(0xA9FE0000, 16) || in(0xAC100000, 12) || in(0xC0A80000, 16);
    }
    const Q_IPV6ADDR v6 = address.toIPv6Address();
    return address.isLoopback() || address == QHostAddress(QHostAddress::AnyIPv6) || (v6[0] & 0xFE) == 0xFC ||
           (v6[0] == 0xFE && (v6[1] & 0xC0) == 0x80);
}

QString statusText(QNetworkReply *reply, int status)
{
    const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().trimmed();
    // A server's reason phrase is its own text: kept short and plain.
    QString plain;
    for (const QChar c : reason.left(60))
        plain += c.isPrint() ? c : u' ';
    return plain.isEmpty() ? QString::number(status) : u"%1 %2"_s.arg(status).arg(plain);
}

// Retry-After in seconds or as an HTTP date; -1 when it says neither.
qint64 retryAfterMs(QNetworkReply *reply)
{
    const QByteArray value = reply->rawHeader("Retry-After").trimmed();
    if (value.isEmpty())
        return -1;
    bool number = false;
    const qint64 seconds = value.toLongLong(&number);
    if (number)
        return seconds < 0 ? -1 : std::min<qint64>(seconds, 86400) * 1000;
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(value), Qt::RFC2822Date);
    return when.isValid() ? std::max<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(when)) : -1;
}

} // namespace

struct LinkChecker::Pending
{
    Link link;
    QUrl url;
    QString host; // lower case; redirects stay on it
    quint64 round = 0;
    int redirects = 0;
    int retries = 0;
    bool get = false;
    QSet<QUrl> seen;
    // A number that tells the answer of the request on its way from a stale one's.
    int attempt = 0;
};

LinkChecker::LinkChecker(Limits limits, QObject *parent)
    : QObject(parent), m_limits(limits), m_network(new QNetworkAccessManager(this)), m_wake(new QTimer(this))
{
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    // Cookies would make one link's answer depend on another's.
    m_network->setCookieJar(nullptr);
    m_wake->setSingleShot(true);
    connect(m_wake, &QTimer::timeout, this, &LinkChecker::startMore);
}

LinkChecker::~LinkChecker()
{
    cancel();
}

bool LinkChecker::isCheckable(const QString &address)
{
    const QUrl url(address.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

QByteArray LinkChecker::userAgent()
{
    return "Valdrin-AIM-Server/" VALDRIN_VERSION " (link check)";
}

QList<LinkChecker::Link> LinkChecker::linksOf(const RowList &addresses)
{
    QList<Link> links;
    links.reserve(addresses.ListCount());
    for (int item = 0; item < addresses.ListCount(); ++item)
        links.append({item, addresses.List(item)});
    return links;
}

void LinkChecker::check(const QList<Link> &links)
{
    cancel();
    m_results.clear();
    m_done = 0;
    m_total = 0;
    for (const Link &link : links) {
        if (!isCheckable(link.address))
            continue;
        auto pending = std::make_shared<Pending>();
        pending->link = link;
        pending->url = QUrl(link.address.trimmed(), QUrl::StrictMode);
        pending->host = pending->url.host().toLower();
        pending->round = m_round;
        m_queue.push_back(std::move(pending));
        ++m_total;
    }
    if (m_total == 0) {
        QTimer::singleShot(0, this, [this, round = m_round] {
            if (round == m_round)
                Q_EMIT finished({});
        });
        return;
    }
    startMore();
}

void LinkChecker::cancel()
{
    ++m_round;
    m_queue.clear();
    m_perHost.clear();
    m_hostWaitsUntil.clear();
    m_running = 0;
    m_wake->stop();
    // Replies of the round given up are aborted; their answers find a stale round.
    const QList<QNetworkReply *> replies = m_network->findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : replies)
        reply->abort();
}

void LinkChecker::startMore()
{
    // A link that ends at once (skipped) asks for more from within: the
    // outer call goes on instead.
    if (m_starting)
        return;
    m_starting = true;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    qint64 wakeAt = 0;
    while (m_running < m_limits.atOnce) {
        const auto startable = std::find_if(m_queue.begin(), m_queue.end(), [&](const auto &pending) {
            const qint64 waitsUntil = m_hostWaitsUntil.value(pending->host);
            if (waitsUntil > now)
                wakeAt = wakeAt == 0 ? waitsUntil : std::min(wakeAt, waitsUntil);
            return m_perHost.value(pending->host) < m_limits.perHost && waitsUntil <= now;
        });
        if (startable == m_queue.end())
            break;
        const std::shared_ptr<Pending> pending = *startable;
        m_queue.erase(startable);
        ++m_running;
        m_mostOnAHost = std::max(m_mostOnAHost, ++m_perHost[pending->host]);
        start(pending);
    }
    m_starting = false;
    if (wakeAt > 0)
        m_wake->start(int(std::max<qint64>(1, wakeAt - now)));
}

bool LinkChecker::hostIsPrivate(const QString &host, QString *why) const
{
    if (m_limits.checkPrivate)
        return false;
    QHostAddress literal;
    if (literal.setAddress(host)) {
        *why = u"skipped: %1 is a loopback or private address (link-check-private = on checks it)"_s.arg(host);
        return isPrivateAddress(literal);
    }
    *why = u"skipped: %1 is this machine (link-check-private = on checks it)"_s.arg(host);
    return host == u"localhost" || host.endsWith(u".localhost");
}

void LinkChecker::start(const std::shared_ptr<Pending> &pending)
{
    QString why;
    if (hostIsPrivate(pending->host, &why)) {
        finish(pending, Verdict::Skipped, why);
        return;
    }
    QHostAddress literal;
    if (m_limits.checkPrivate || literal.setAddress(pending->host)) {
        request(pending);
        return;
    }
    // A name is looked up first: one that leads to this machine or a private
    // network is not asked, and one that no longer resolves is dead.
    QHostInfo::lookupHost(pending->host, this, [this, pending](const QHostInfo &info) {
        if (pending->round != m_round)
            return;
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
            finish(pending, Verdict::Dead, u"the name %1 no longer resolves"_s.arg(pending->host));
            return;
        }
        const QList<QHostAddress> addresses = info.addresses();
        if (std::any_of(addresses.cbegin(), addresses.cend(), isPrivateAddress)) {
            finish(pending, Verdict::Skipped,
                   u"skipped: %1 leads to a loopback or private address (link-check-private = on checks it)"_s.arg(
                       pending->host));
            return;
        }
        request(pending);
    });
}

void LinkChecker::request(const std::shared_ptr<Pending> &pending)
{
    QNetworkRequest request(pending->url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setRawHeader("Accept", "*/*");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = pending->get ? m_network->get(request) : m_network->head(request);
    const int attempt = ++pending->attempt;
    auto *timeout = new QTimer(reply);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, this, [this, pending, attempt, reply] {
        if (pending->round != m_round || pending->attempt != attempt)
            return;
        ++pending->attempt; // its abort is no answer
        if (reply->isRunning())
            reply->abort();
        finish(pending, Verdict::Doubtful, u"no answer within %1 s"_s.arg(m_limits.timeoutMs / 1000));
    });
    timeout->start(m_limits.timeoutMs);
    // A GET is read to its headers only: the page itself is never fetched.
    const auto done = [this, pending, attempt, reply] {
        if (pending->round != m_round || pending->attempt != attempt)
            return;
        ++pending->attempt;
        answered(pending, reply);
        // The rest of the page is not read: once the answer so far is handled
        // (a short page has ended by then), the request ends.
        if (reply->operation() == QNetworkAccessManager::GetOperation) {
            QTimer::singleShot(0, reply, [reply] {
                if (reply->isRunning())
                    reply->abort();
            });
        }
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, done] {
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
            done();
    });
    connect(reply, &QNetworkReply::finished, this, done);
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

void LinkChecker::answered(const std::shared_ptr<Pending> &pending, QNetworkReply *reply)
{
    const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!code.isValid()) {
        switch (reply->error()) {
        case QNetworkReply::HostNotFoundError:
            finish(pending, Verdict::Dead, u"the name %1 no longer resolves"_s.arg(pending->host));
            return;
        case QNetworkReply::ConnectionRefusedError:
            finish(pending, Verdict::Dead, u"the server refuses connections"_s);
            return;
        case QNetworkReply::SslHandshakeFailedError:
            finish(pending, Verdict::Dead, u"TLS failed: %1"_s.arg(reply->errorString()));
            return;
        default:
            finish(pending, Verdict::Doubtful, u"no answer: %1"_s.arg(reply->errorString()));
            return;
        }
    }
    const int status = code.toInt();
    if (status >= 300 && status < 400) {
        const QUrl location = QUrl::fromEncoded(reply->rawHeader("Location").trimmed(), QUrl::StrictMode);
        const QUrl target = pending->url.resolved(location);
        if (location.isEmpty() || !isCheckable(target.toString())) {
            finish(pending, Verdict::Doubtful,
                   u"%1 without a web address to go on to"_s.arg(statusText(reply, status)));
            return;
        }
        if (target.host().toLower() != pending->host) {
            finish(pending, Verdict::Doubtful, u"redirects to another host: %1"_s.arg(target.toString()));
            return;
        }
        pending->seen.insert(pending->url);
        if (pending->seen.contains(target)) {
            finish(pending, Verdict::Dead, u"redirects in a loop"_s);
            return;
        }
        if (++pending->redirects > m_limits.redirects) {
            finish(pending, Verdict::Doubtful, u"more than %1 redirects"_s.arg(m_limits.redirects));
            return;
        }
        pending->url = target;
        request(pending);
        return;
    }
    if (!pending->get && (status == 405 || status == 501)) {
        // A server that does not take HEAD is asked for the page's headers.
        pending->get = true;
        request(pending);
        return;
    }
    if (status == 429 || status == 503) {
        const qint64 asked = retryAfterMs(reply);
        const qint64 wait = asked < 0 ? (status == 429 ? DefaultRetryAfterMs : -1) : asked;
        if (wait >= 0 && wait <= m_limits.longestRetryAfterMs && pending->retries < RetriesAtMost) {
            // The host is not asked again before then, by this link or another.
            ++pending->retries;
            const qint64 until = QDateTime::currentMSecsSinceEpoch() + wait;
            m_hostWaitsUntil[pending->host] = std::max(m_hostWaitsUntil.value(pending->host), until);
            QTimer::singleShot(int(wait), this, [this, pending] {
                if (pending->round == m_round)
                    request(pending);
            });
            return;
        }
        finish(pending, Verdict::Doubtful,
               wait > 0 ? u"%1, asks to wait %2 s"_s.arg(statusText(reply, status)).arg(wait / 1000)
                        : statusText(reply, status));
        return;
    }
    if (status >= 200 && status < 300) {
        finish(pending, Verdict::Alive, statusText(reply, status));
        return;
    }
    finish(pending, status >= 400 && status < 500 ? Verdict::Dead : Verdict::Doubtful, statusText(reply, status));
}

void LinkChecker::finish(const std::shared_ptr<Pending> &pending, Verdict verdict, const QString &found)
{
    if (pending->round != m_round)
        return;
    pending->round = 0; // answered: nothing more of it counts
    --m_running;
    if (--m_perHost[pending->host] <= 0)
        m_perHost.remove(pending->host);
    m_results.append({pending->link.item, pending->link.address, verdict, found});
    ++m_done;
    Q_EMIT progress(m_done, m_total);
    if (m_done == m_total) {
        std::sort(m_results.begin(), m_results.end(), [](const Result &a, const Result &b) { return a.item < b.item; });
        Q_EMIT finished(m_results);
        return;
    }
    startMore();
}
