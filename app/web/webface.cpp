#include "app/web/webface.h"

#include "app/web/webmetrics.h"
#include "app/web/webpages.h"

#include <QFile>

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <mutex>

using namespace Qt::StringLiterals;

struct WebFace::Private
{
    MHD_Daemon *daemon = nullptr;
    const WebMetrics *metrics = nullptr;
    std::mutex mutex;
    std::shared_ptr<const WebSnapshot> snapshot = std::make_shared<WebSnapshot>();
    quint64 generation = 0;
    QByteArray certificate;
    QByteArray key;

    std::shared_ptr<const WebSnapshot> current()
    {
        const std::lock_guard lock(mutex);
        return snapshot;
    }
};

namespace {

QByteArray header(MHD_Connection *connection, MHD_ValueKind kind, const char *name)
{
    const char *value = MHD_lookup_connection_value(connection, kind, name);
    return value ? QByteArray(value) : QByteArray();
}

MHD_Result answer(void *context, MHD_Connection *connection, const char *url, const char *method, const char *,
                  const char *, size_t *uploadSize, void **requestState)
{
    auto *d = static_cast<WebFace::Private *>(context);
    WebPages::Request request;
    request.method = method;
    request.path = url;
    WebPages::Response response;
    if (*requestState == nullptr) {
        *requestState = d;
        // No page takes a body: a request with one is refused as soon as its
        // headers are in, without reading it (the connection closes after).
        const QByteArray length = header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        if ((length.isEmpty() || length == "0") &&
            header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING).isEmpty())
            return MHD_YES; // answered on the next call, once the request is complete
        response = WebPages::respond(WebSnapshot(), WebPages::Request{"POST", {}, {}, {}, {}});
    } else {
        if (*uploadSize > 0) {
            *uploadSize = 0;
            return MHD_YES;
        }
        request.query = QString::fromUtf8(header(connection, MHD_GET_ARGUMENT_KIND, "q"));
        request.page = header(connection, MHD_GET_ARGUMENT_KIND, "page");
        request.ifNoneMatch = header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_NONE_MATCH);
        response = WebPages::respond(*d->current(), request);
        if (request.path == "/metrics" && d->metrics && response.status == 404) {
            response.status = 200;
            response.contentType = "text/plain; version=0.0.4; charset=utf-8";
            response.body = d->metrics->text();
        }
    }
    MHD_Response *reply =
        MHD_create_response_from_buffer(size_t(response.body.size()), response.body.data(), MHD_RESPMEM_MUST_COPY);
    if (!reply)
        return MHD_NO;
    MHD_add_response_header(reply, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.constData());
    for (const auto &[name, value] : std::as_const(response.headers))
        MHD_add_response_header(reply, name.constData(), value.constData());
    const MHD_Result queued = MHD_queue_response(connection, unsigned(response.status), reply);
    MHD_destroy_response(reply);
    return queued;
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
    const QString &host = settings.host;
    const quint16 port = settings.port;
    sockaddr_storage address{};
    socklen_t length = 0;
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL_LINUX_ONLY | MHD_USE_ERROR_LOG;
    const QByteArray hostBytes = host.toLatin1();
    if (auto *v4 = reinterpret_cast<sockaddr_in *>(&address); inet_pton(AF_INET, hostBytes.constData(), &v4->sin_addr) == 1) {
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
    d->daemon = MHD_start_daemon(
        flags, port, nullptr, nullptr, &answer, d.get(), MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr *>(&address),
        MHD_OPTION_CONNECTION_LIMIT, ConnectionsAtMost, MHD_OPTION_PER_IP_CONNECTION_LIMIT, ConnectionsPerAddress,
        MHD_OPTION_CONNECTION_TIMEOUT, IdleTimeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT, RequestMemoryBytes,
        settings.certificate.isEmpty() ? MHD_OPTION_END : MHD_OPTION_HTTPS_MEM_CERT, d->certificate.constData(),
        MHD_OPTION_HTTPS_MEM_KEY, d->key.constData(), MHD_OPTION_END);
    if (!d->daemon) {
        return u"The web face could not listen on %1 port %2 (is the port taken, or the certificate or key not "
               u"PEM?)"_s.arg(host).arg(port);
    }
    return {};
}

void WebFace::stop()
{
    if (d->daemon) {
        MHD_stop_daemon(d->daemon);
        d->daemon = nullptr;
    }
}

quint16 WebFace::port() const
{
    if (!d->daemon)
        return 0;
    const MHD_DaemonInfo *info = MHD_get_daemon_info(d->daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

void WebFace::setMetrics(const WebMetrics *metrics)
{
    d->metrics = metrics;
}

void WebFace::publish(WebSnapshot snapshot)
{
    const std::lock_guard lock(d->mutex);
    snapshot.generation = ++d->generation;
    d->snapshot = std::make_shared<const WebSnapshot>(std::move(snapshot));
}
