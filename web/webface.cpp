#include "web/webface.h"

#include "web/microhttpd.h"
#include "web/webadmin.h"
#include "web/webmetrics.h"
#include "web/webpages.h"

#include <QFile>
#include <QPointer>
#include <QSet>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <mutex>

using namespace Qt::StringLiterals;

namespace {

// libmicrohttpd's functions, once the web face started.
const MicroHttpd *mhd = nullptr;

// One request as the HTTP thread gathers it, and the admin change it waits for.
struct RequestState
{
    QByteArray body;
    bool tooLarge = false;
    bool done = false; // the chat thread made the change
    QString told;
};

// What the HTTP thread and the chat thread share about suspended requests.
struct Waiting
{
    std::mutex mutex;
    bool open = true;
    QSet<MHD_Connection *> connections;
};

} // namespace

struct WebFace::Private
{
    MHD_Daemon *daemon = nullptr;
    const WebMetrics *metrics = nullptr;
    std::unique_ptr<WebAdmin> admin;
    QPointer<QObject> chat;
    std::function<QString(const AdminAction &)> runAction;
    std::shared_ptr<Waiting> waiting = std::make_shared<Waiting>();
    // Pages made from the current snapshot, by request, so the same page is made once.
    QHash<QByteArray, WebPages::Response> pages;
    quint64 pagesGeneration = 0;
    std::mutex mutex;
    std::shared_ptr<const WebSnapshot> snapshot = std::make_shared<WebSnapshot>();
    quint64 generation = 0;
    QByteArray certificate;
    QByteArray key;

    // A page as WebPages makes it, from the cache when it was made before for
    // this snapshot; a client's current copy gets 304.
    WebPages::Response page(const WebSnapshot &snapshot, const WebPages::Request &request)
    {
        const bool cacheable = (request.method == "GET" || request.method == "HEAD") &&
                               (request.path == "/" || request.path == "/catalogue.json" ||
                                request.path == "/catalogue.txt" || request.path == "/style.css");
        if (!cacheable)
            return WebPages::respond(snapshot, request);
        if (pagesGeneration != snapshot.generation) {
            pages.clear();
            pagesGeneration = snapshot.generation;
        }
        const QByteArray key = request.path + '?' + request.query.toUtf8() + '&' + request.page;
        auto found = pages.find(key);
        if (found == pages.end()) {
            WebPages::Request plain = request;
            plain.method = "GET";
            plain.ifNoneMatch.clear();
            // A handful of searches are kept; more would only hold memory.
            if (pages.size() >= 32)
                pages.clear();
            found = pages.insert(key, WebPages::respond(snapshot, plain));
        }
        WebPages::Response response = *found;
        WebPages::answerIfChanged(response, request.ifNoneMatch);
        return response;
    }

    std::shared_ptr<const WebSnapshot> current()
    {
        const std::lock_guard lock(mutex);
        return snapshot;
    }
};

namespace {

QByteArray header(MHD_Connection *connection, MHD_ValueKind kind, const char *name)
{
    const char *value = mhd->lookup_connection_value(connection, kind, name);
    return value ? QByteArray(value) : QByteArray();
}

QString clientAddress(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = mhd->get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char text[INET6_ADDRSTRLEN] = {};
    if (!info || !info->client_addr)
        return {};
    if (info->client_addr->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(info->client_addr)->sin_addr, text, sizeof(text));
    else if (info->client_addr->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(info->client_addr)->sin6_addr, text, sizeof(text));
    return QString::fromLatin1(text);
}

void releaseBody(void *body)
{
    delete static_cast<QByteArray *>(body);
}

MHD_Result queue(MHD_Connection *connection, const WebPages::Response &response)
{
    // The body is shared with the page cache, not copied: it lives until sent.
    auto *body = new QByteArray(response.body);
    MHD_Response *reply = mhd->create_response(size_t(body->size()), body->data(), &releaseBody, body);
    if (!reply) {
        delete body;
        return MHD_NO;
    }
    mhd->add_response_header(reply, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.constData());
    for (const auto &[name, value] : std::as_const(response.headers))
        mhd->add_response_header(reply, name.constData(), value.constData());
    const MHD_Result queued = mhd->queue_response(connection, unsigned(response.status), reply);
    mhd->destroy_response(reply);
    return queued;
}

// The admin change goes to the chat thread; the request waits, suspended,
// and is answered when the change is made.
MHD_Result handOver(WebFace::Private *d, MHD_Connection *connection, const std::shared_ptr<RequestState> &state,
                    const AdminAction &action)
{
    if (!d->chat || !d->runAction)
        return queue(connection,
                     WebAdmin::afterAction(QStringLiteral("Nothing was changed: this server takes no changes.")));
    std::shared_ptr<Waiting> waiting = d->waiting;
    {
        const std::lock_guard lock(waiting->mutex);
        if (!waiting->open)
            return queue(connection,
                         WebAdmin::afterAction(QStringLiteral("Nothing was changed: the server is stopping.")));
        waiting->connections.insert(connection);
    }
    mhd->suspend_connection(connection);
    QMetaObject::invokeMethod(
        d->chat,
        [run = d->runAction, waiting, state, connection, action] {
            const QString told = run(action);
            const std::lock_guard lock(waiting->mutex);
            if (!waiting->open || !waiting->connections.remove(connection))
                return; // the face stopped meanwhile and answered it
            state->told = told;
            state->done = true;
            mhd->resume_connection(connection);
        },
        Qt::QueuedConnection);
    return MHD_YES;
}

MHD_Result answer(void *context, MHD_Connection *connection, const char *url, const char *method, const char *,
                  const char *uploadData, size_t *uploadSize, void **requestState)
{
    auto *d = static_cast<WebFace::Private *>(context);
    const QByteArray path(url);
    const bool adminForm = WebAdmin::isAdminPath(path) && qstrcmp(method, "POST") == 0;
    if (*requestState == nullptr) {
        *requestState = new std::shared_ptr<RequestState>(std::make_shared<RequestState>());
        // Only the admin page's forms have a body; any other request with one is
        // refused as soon as its headers are in, without reading it.
        const QByteArray length = header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        const bool hasBody = (!length.isEmpty() && length != "0") ||
                             !header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING).isEmpty();
        if (!hasBody || adminForm)
            return MHD_YES; // answered once the request is complete
        return queue(connection, WebPages::methodNotAllowed());
    }
    const std::shared_ptr<RequestState> state = *static_cast<std::shared_ptr<RequestState> *>(*requestState);
    if (*uploadSize > 0) {
        if (adminForm && state->body.size() + qsizetype(*uploadSize) <= WebFace::FormBytesAtMost)
            state->body.append(uploadData, qsizetype(*uploadSize));
        else
            state->tooLarge = true;
        *uploadSize = 0;
        return MHD_YES;
    }
    if (state->done)
        return queue(connection, WebAdmin::afterAction(state->told));
    const std::shared_ptr<const WebSnapshot> snapshot = d->current();
    if (WebAdmin::isAdminPath(path) && d->admin) {
        if (state->tooLarge) {
            WebPages::Response refused;
            refused.status = 413;
            refused.headers = WebPages::securityHeaders();
            refused.contentType = "text/plain; charset=utf-8";
            refused.body = "The form is larger than the admin page takes.\n";
            return queue(connection, refused);
        }
        const QByteArray query =
            "said=" + QUrl::toPercentEncoding(QString::fromUtf8(header(connection, MHD_GET_ARGUMENT_KIND, "said"))) +
            "&q=" + QUrl::toPercentEncoding(QString::fromUtf8(header(connection, MHD_GET_ARGUMENT_KIND, "q")));
        const WebAdmin::Outcome outcome = d->admin->handle(
            *snapshot, {method, path, query, header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_COOKIE), state->body,
                        clientAddress(connection)});
        if (outcome.action)
            return handOver(d, connection, state, *outcome.action);
        return queue(connection, outcome.response);
    }
    WebPages::Request request;
    request.method = method;
    request.path = path;
    request.query = QString::fromUtf8(header(connection, MHD_GET_ARGUMENT_KIND, "q"));
    request.page = header(connection, MHD_GET_ARGUMENT_KIND, "page");
    request.ifNoneMatch = header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_NONE_MATCH);
    WebPages::Response response = d->page(*snapshot, request);
    if (request.path == "/metrics" && d->metrics && response.status == 404) {
        response.status = 200;
        response.contentType = "text/plain; version=0.0.4; charset=utf-8";
        response.body = d->metrics->text();
    }
    return queue(connection, response);
}

void completed(void *, MHD_Connection *, void **requestState, MHD_RequestTerminationCode)
{
    delete static_cast<std::shared_ptr<RequestState> *>(*requestState);
    *requestState = nullptr;
}

QByteArray readPem(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = u"%1 cannot be read: %2"_s.arg(path, file.errorString());
        return {};
    }
    QByteArray pem = file.readAll();
    pem.append('\0');
    return pem;
}

} // namespace

WebFace::WebFace() : d(std::make_unique<Private>()) {}

WebFace::~WebFace()
{
    stop();
}

QString WebFace::start(const Settings &settings)
{
    QString unavailable;
    mhd = MicroHttpd::load(&unavailable);
    if (!mhd)
        return unavailable;
    const QString &host = settings.host;
    const quint16 port = settings.port;
    sockaddr_storage address{};
    socklen_t length = 0;
    // No error log: a client that goes away mid-answer is nothing the operator can act on.
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL_LINUX_ONLY | MHD_ALLOW_SUSPEND_RESUME;
    const QByteArray hostBytes = host.toLatin1();
    if (auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
        inet_pton(AF_INET, hostBytes.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof(sockaddr_in);
    } else if (auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
               inet_pton(AF_INET6, hostBytes.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof(sockaddr_in6);
        flags |= MHD_USE_IPv6;
    } else {
        return u"http-listen names %1, which is not an IP address of this machine"_s.arg(host);
    }
    Q_UNUSED(length)
    if (settings.certificate.isEmpty() != settings.key.isEmpty())
        return u"HTTPS needs both http-tls-cert and http-tls-key"_s;
    QString error;
    if (!settings.certificate.isEmpty()) {
        d->certificate = readPem(settings.certificate, &error);
        if (error.isEmpty())
            d->key = readPem(settings.key, &error);
        if (!error.isEmpty())
            return error;
        flags |= MHD_USE_TLS;
    }
    const bool loopback = host.startsWith(u"127."_s) || host == u"::1";
    const WebAdmin::Channel channel = !settings.certificate.isEmpty() ? WebAdmin::Channel::Https
                                      : loopback                      ? WebAdmin::Channel::HttpOnLoopback
                                                                      : WebAdmin::Channel::HttpOnNetwork;
    d->admin = std::make_unique<WebAdmin>(settings.adminPasswordHash, channel);
    d->daemon = mhd->start_daemon(
        flags, port, nullptr, nullptr, &answer, d.get(), MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr *>(&address),
        MHD_OPTION_CONNECTION_LIMIT, ConnectionsAtMost, MHD_OPTION_PER_IP_CONNECTION_LIMIT, ConnectionsPerAddress,
        MHD_OPTION_CONNECTION_TIMEOUT, IdleTimeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT, RequestMemoryBytes,
        MHD_OPTION_NOTIFY_COMPLETED, &completed, nullptr,
        settings.certificate.isEmpty() ? MHD_OPTION_END : MHD_OPTION_HTTPS_MEM_CERT, d->certificate.constData(),
        MHD_OPTION_HTTPS_MEM_KEY, d->key.constData(), MHD_OPTION_END);
    if (!d->daemon) {
        return u"The web face could not listen on %1 port %2 (is the port taken, or the certificate or key not "
               u"PEM?)"_s.arg(host)
                   .arg(port);
    }
    return {};
}

void WebFace::stop()
{
    {
        // Requests waiting for the chat thread are answered now: it will not get to them.
        const std::lock_guard lock(d->waiting->mutex);
        d->waiting->open = false;
        for (MHD_Connection *connection : std::as_const(d->waiting->connections))
            mhd->resume_connection(connection);
        d->waiting->connections.clear();
    }
    if (d->daemon) {
        mhd->stop_daemon(d->daemon);
        d->daemon = nullptr;
    }
}

quint16 WebFace::port() const
{
    if (!d->daemon)
        return 0;
    const MHD_DaemonInfo *info = mhd->get_daemon_info(d->daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

void WebFace::setMetrics(const WebMetrics *metrics)
{
    d->metrics = metrics;
}

void WebFace::setAdminRunner(QObject *context, std::function<QString(const AdminAction &)> run)
{
    d->chat = context;
    d->runAction = std::move(run);
}

void WebFace::publish(WebSnapshot snapshot)
{
    const std::lock_guard lock(d->mutex);
    snapshot.generation = ++d->generation;
    d->snapshot = std::make_shared<const WebSnapshot>(std::move(snapshot));
}
