#include "web/webtransport.h"

#include "web/microhttpd.h"
#include "web/passwordchecks.h"
#include "web/requestdeadlines.h"
#include "web/requestworker.h"
#include "web/webadmin.h"
#include "web/webfaceprivate.h"

#include <QFile>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace {

// One request as the HTTP thread gathers it, and the admin change it waits for.
struct RequestState
{
    QByteArray body;
    bool tooLarge = false;
    // The import's form (multipart/form-data), parsed by libmicrohttpd as it
    // comes in: the file, and the other fields (small).
    MHD_PostProcessor *uploadParser = nullptr;
    bool holdsUploadSlot = false;
    bool uploadBroken = false;
    QHash<QByteArray, QByteArray> uploadFields;
    WebAdmin::Upload upload;
    AdminHandoff::Reply reply;
    // A login's password being checked, and the check's answer once made.
    bool checkingPassword = false;
    std::optional<bool> passwordMatches;
    // A page being made off the HTTP thread, and the page once made.
    std::optional<WebFace::Private::PageToMake> makingPage;
    std::optional<WebPages::Response> madePage;
};

QByteArray header(const MicroHttpd &mhd, MHD_Connection *connection, MHD_ValueKind kind, const char *name)
{
    const char *value = mhd.lookup_connection_value(connection, kind, name);
    return value ? QByteArray(value) : QByteArray();
}

QString clientAddress(const MicroHttpd &mhd, MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = mhd.get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char text[INET6_ADDRSTRLEN] = {};
    if (!info || !info->client_addr)
        return {};
    if (info->client_addr->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(info->client_addr)->sin_addr, text, sizeof(text));
    else if (info->client_addr->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(info->client_addr)->sin6_addr, text, sizeof(text));
    return QString::fromLatin1(text);
}

// A piece of the import's form: the file's bytes go to the upload, up to
// what the form takes; any other field is small, and there are few.
MHD_Result takeUploadPiece(void *context, MHD_ValueKind, const char *key, const char *fileName, const char *,
                           const char *, const char *data, uint64_t offset, size_t size)
{
    auto *state = static_cast<RequestState *>(context);
    const QByteArrayView name(key ? key : "");
    if (name == "file") {
        if (offset == 0) {
            // One file a form.
            if (!state->upload.file.isEmpty())
                return MHD_NO;
            if (fileName)
                state->upload.fileName = QString::fromUtf8(fileName).left(255);
        }
        if (state->upload.file.size() + qsizetype(size) > WebAdmin::ImportBytesAtMost) {
            state->tooLarge = true;
            return MHD_NO;
        }
        state->upload.file.append(data, qsizetype(size));
        return MHD_YES;
    }
    QByteArray &field = state->uploadFields[name.toByteArray()];
    if (state->uploadFields.size() > 8 || field.size() + qsizetype(size) > 1024)
        return MHD_NO;
    field.append(data, qsizetype(size));
    return MHD_YES;
}

// The import's form stops being read: the parser goes, and another upload may come.
void endUpload(WebFace::Private &face, RequestState &state)
{
    if (state.uploadParser) {
        face.mhd->destroy_post_processor(state.uploadParser);
        state.uploadParser = nullptr;
    }
    if (state.holdsUploadSlot) {
        state.holdsUploadSlot = false;
        --face.uploadsReading;
    }
}

// The values of every Content-Length header of the request.
MHD_Result collectLength(void *lengths, MHD_ValueKind, const char *name, const char *value)
{
    if (qstricmp(name, MHD_HTTP_HEADER_CONTENT_LENGTH) == 0)
        static_cast<QList<QByteArray> *>(lengths)->append(QByteArray(value ? value : "").trimmed());
    return MHD_YES;
}

// Two Content-Length headers that differ: a proxy in front may read the body
// by the other one, and the rest of it would be taken for a request of its
// own (request smuggling). Refused.
bool lengthsDisagree(const MicroHttpd &mhd, MHD_Connection *connection)
{
    QList<QByteArray> lengths;
    mhd.get_connection_values(connection, MHD_HEADER_KIND, &collectLength, &lengths);
    return std::any_of(lengths.cbegin(), lengths.cend(),
                       [&](const QByteArray &length) { return length != lengths.constFirst(); });
}

// A refusal in a line of plain text: 400 for a request that cannot be taken,
// 413 for a form too large, 503 for a page the stopping face did not make.
WebPages::Response refusal(int status, const QByteArray &why)
{
    WebPages::Response refused;
    refused.status = status;
    refused.headers = WebPages::securityHeaders();
    refused.contentType = "text/plain; charset=utf-8";
    refused.body = why + '\n';
    return refused;
}

void releaseBody(void *body)
{
    delete static_cast<QByteArray *>(body);
}

MHD_Result queue(const WebFace::Private &face, MHD_Connection *connection, const WebPages::Response &response)
{
    const MicroHttpd &mhd = *face.mhd;
    // The body is shared with the page cache, not copied: it lives until sent.
    auto *body = new QByteArray(response.body);
    MHD_Response *reply = mhd.create_response(size_t(body->size()), body->data(), &releaseBody, body);
    if (!reply) {
        delete body;
        return MHD_NO;
    }
    mhd.add_response_header(reply, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.constData());
    for (const auto &[name, value] : std::as_const(response.headers))
        mhd.add_response_header(reply, name.constData(), value.constData());
    // Once a browser has the page over HTTPS, it asks this host by HTTPS only for a year.
    if (face.https)
        mhd.add_response_header(reply, "Strict-Transport-Security", "max-age=31536000");
    const MHD_Result queued = mhd.queue_response(connection, unsigned(response.status), reply);
    mhd.destroy_response(reply);
    return queued;
}

MHD_Result answer(void *context, MHD_Connection *connection, const char *url, const char *method, const char *version,
                  const char *uploadData, size_t *uploadSize, void **requestState)
{
    auto *face = static_cast<WebFace::Private *>(context);
    const MicroHttpd &mhd = *face->mhd;
    const QByteArray path(url);
    const WebRoutes::Route *route = WebRoutes::find(path);
    const bool form = route && route->form && qstrcmp(method, "POST") == 0;
    if (*requestState == nullptr) {
        *requestState = new std::shared_ptr<RequestState>(std::make_shared<RequestState>());
        // Refused as soon as the headers are in: the request is answered now.
        const auto refuse = [&](const WebPages::Response &refusal) {
            face->deadlines->requestIn(connection);
            return queue(*face, connection, refusal);
        };
        if (lengthsDisagree(mhd, connection))
            return refuse(refusal(400, "Two Content-Length headers that differ"));
        if (qstrcmp(version, MHD_HTTP_VERSION_1_1) == 0 &&
            !mhd.lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST))
            return refuse(refusal(400, "An HTTP/1.1 request needs a Host header"));
        // Only the admin page's forms have a body; any other request with one is
        // refused as soon as its headers are in, without reading it.
        const QByteArray length = header(mhd, connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        const bool hasBody = (!length.isEmpty() && length != "0") ||
                             !header(mhd, connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING).isEmpty();
        if (!hasBody || !form)
            return hasBody ? refuse(WebPages::methodNotAllowed()) : MHD_YES;
        if (route->target == WebRoutes::Target::AdminImport) {
            // A file of megabytes is read only for a browser that is logged
            // in, and one at a time.
            if (!face->admin ||
                !face->admin->isLoggedIn(header(mhd, connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_COOKIE)))
                return refuse(refusal(403, "Log in to the admin page first: nothing was imported."));
            if (face->uploadsReading > 0)
                return refuse(refusal(503, "Another catalogue file is being sent: try again once it is in."));
            RequestState &state = **static_cast<std::shared_ptr<RequestState> *>(*requestState);
            state.uploadParser = mhd.create_post_processor(connection, 64 * 1024, &takeUploadPiece, &state);
            if (!state.uploadParser)
                return refuse(refusal(400, "The import form is sent as multipart/form-data: nothing was imported."));
            state.holdsUploadSlot = true;
            ++face->uploadsReading;
        }
        return MHD_YES; // answered once the request is complete
    }
    const std::shared_ptr<RequestState> state = *static_cast<std::shared_ptr<RequestState> *>(*requestState);
    if (*uploadSize > 0) {
        if (state->uploadParser) {
            if (!state->tooLarge && !state->uploadBroken &&
                mhd.post_process(state->uploadParser, uploadData, *uploadSize) != MHD_YES)
                state->uploadBroken = true;
        } else if (form && state->body.size() + qsizetype(*uploadSize) <= WebFace::FormBytesAtMost) {
            state->body.append(uploadData, qsizetype(*uploadSize));
        } else {
            state->tooLarge = true;
        }
        *uploadSize = 0;
        return MHD_YES;
    }
    // The request is in: from here on it is answered, however long that takes.
    face->deadlines->requestIn(connection);
    const bool upload = state->holdsUploadSlot;
    endUpload(*face, *state);
    if (state->tooLarge) {
        return queue(*face, connection,
                     upload ? refusal(413, QByteArray("The file is larger than the ") +
                                               QByteArray::number(WebAdmin::ImportBytesAtMost / 1024 / 1024) +
                                               " MiB the admin page takes: nothing was imported. Import it with "
                                               "--import on the server.")
                            : refusal(413, "The form is larger than the admin page takes."));
    }
    if (state->uploadBroken)
        return queue(*face, connection, refusal(400, "The import form could not be read: nothing was imported."));

    WebFace::Private::Incoming request;
    request.page.method = method;
    request.page.path = path;
    request.page.query = QString::fromUtf8(header(mhd, connection, MHD_GET_ARGUMENT_KIND, "q"));
    request.page.page = header(mhd, connection, MHD_GET_ARGUMENT_KIND, "page");
    request.page.ifNoneMatch = header(mhd, connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_NONE_MATCH);
    if (WebRoutes::isAdmin(path)) {
        request.said = header(mhd, connection, MHD_GET_ARGUMENT_KIND, "said");
        request.cookies = header(mhd, connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_COOKIE);
        request.body = state->body;
        request.address = clientAddress(mhd, connection);
        if (upload) {
            state->upload.fields.clear();
            for (auto field = state->uploadFields.cbegin(); field != state->uploadFields.cend(); ++field)
                state->upload.fields.insert(QString::fromUtf8(field.key()), QString::fromUtf8(field.value()));
            request.upload = std::move(state->upload);
            state->upload = {};
        }
    }
    // Resumed: the chat thread made the change, or the password was checked (or the face stopped).
    if (state->reply.done)
        return queue(*face, connection, face->admin->afterAction(request.admin(), state->reply.told));
    if (state->makingPage) {
        const WebFace::Private::PageToMake asked = *std::exchange(state->makingPage, std::nullopt);
        if (!state->madePage)
            return queue(*face, connection, refusal(503, "The server is stopping."));
        return queue(*face, connection, face->keep(asked, std::move(*state->madePage)));
    }
    if (state->checkingPassword) {
        state->checkingPassword = false;
        return queue(*face, connection, face->admin->loginChecked(request.admin(), state->passwordMatches));
    }

    WebFace::Private::Answer answered = face->answer(route, request);
    if (auto *check = std::get_if<WebFace::Private::PasswordCheck>(&answered)) {
        state->checkingPassword = true;
        if (face->passwords &&
            face->passwords->check(mhd, connection, std::move(check->password),
                                   std::shared_ptr<std::optional<bool>>(state, &state->passwordMatches)))
            return MHD_YES;
        state->checkingPassword = false;
        return queue(*face, connection, face->admin->loginChecked(request.admin(), std::nullopt));
    }
    if (auto *page = std::get_if<WebFace::Private::PageToMake>(&answered)) {
        state->makingPage = *page;
        const std::shared_ptr<std::optional<WebPages::Response>> made(state, &state->madePage);
        if (face->pages && face->pages->run(mhd, connection, [asked = *page, made] {
                auto response = std::make_shared<WebPages::Response>(asked.make());
                return std::function<void()>([made, response] { *made = std::move(*response); });
            }))
            return MHD_YES;
        state->makingPage.reset();
        return queue(*face, connection, refusal(503, "The server is stopping."));
    }
    if (const auto *change = std::get_if<AdminChange::Change>(&answered)) {
        QString refused;
        // The reply lives as long as the request's state, which the chat thread holds meanwhile.
        if (face->handoff.handOver(mhd, connection, std::shared_ptr<AdminHandoff::Reply>(state, &state->reply), *change,
                                   &refused))
            return MHD_YES;
        return queue(*face, connection, face->admin->afterAction(request.admin(), {refused, -1}));
    }
    return queue(*face, connection, std::get<WebPages::Response>(answered));
}

void completed(void *context, MHD_Connection *connection, void **requestState, MHD_RequestTerminationCode)
{
    auto *face = static_cast<WebFace::Private *>(context);
    if (auto *state = static_cast<std::shared_ptr<RequestState> *>(*requestState))
        endUpload(*face, **state);
    delete static_cast<std::shared_ptr<RequestState> *>(*requestState);
    *requestState = nullptr;
    static_cast<WebFace::Private *>(context)->deadlines->requestDone(connection);
}

void connectionChanged(void *context, MHD_Connection *connection, void **, MHD_ConnectionNotificationCode code)
{
    auto *face = static_cast<WebFace::Private *>(context);
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
        face->deadlines->closed(connection);
        return;
    }
    const MHD_ConnectionInfo *info = face->mhd->get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info)
        face->deadlines->opened(connection, info->connect_fd);
}

// Each connection is a file: the process may need more open at once than the
// soft limit many systems start with (1024). The soft limit is raised up to the
// hard one; the connections allowed are what fits under it.
unsigned connectionsThatFit()
{
    constexpr rlim_t Spare = 128; // for the rest of the program: its files, chat connections, libraries
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0)
        return WebFace::ConnectionsAtMost;
    const rlim_t wanted = WebFace::ConnectionsAtMost + Spare;
    if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < wanted) {
        files.rlim_cur = files.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, files.rlim_max);
        (void)setrlimit(RLIMIT_NOFILE, &files);
        (void)getrlimit(RLIMIT_NOFILE, &files);
    }
    if (files.rlim_cur == RLIM_INFINITY || files.rlim_cur >= wanted)
        return WebFace::ConnectionsAtMost;
    return unsigned(std::max<rlim_t>(files.rlim_cur, 2 * Spare) - Spare);
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

namespace WebTransport {

QString start(WebFace::Private &face, const WebFace::Settings &settings)
{
    QString unavailable;
    face.mhd = MicroHttpd::load(&unavailable);
    if (!face.mhd)
        return unavailable;
    const QString &host = settings.host;
    const quint16 port = settings.port;
    sockaddr_storage address{};
    // No error log: a client that goes away mid-answer is nothing the operator can act on.
    // poll(), not epoll: with a hundred or more keep-alive connections busy at
    // once, libmicrohttpd 0.9.75's epoll loop leaves requests unread in their
    // sockets for seconds (bench/webface-hostile.py measures it).
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_ALLOW_SUSPEND_RESUME;
    const QByteArray hostBytes = host.toLatin1();
    if (auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
        inet_pton(AF_INET, hostBytes.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
    } else if (auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
               inet_pton(AF_INET6, hostBytes.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        flags |= MHD_USE_IPv6;
    } else {
        return u"http-listen names %1, which is not an IP address of this machine"_s.arg(host);
    }
    if (settings.certificate.isEmpty() != settings.key.isEmpty())
        return u"HTTPS needs both http-tls-cert and http-tls-key"_s;
    QString error;
    if (!settings.certificate.isEmpty()) {
        face.certificate = readPem(settings.certificate, &error);
        if (error.isEmpty())
            face.key = readPem(settings.key, &error);
        if (!error.isEmpty())
            return error;
        flags |= MHD_USE_TLS;
    }
    face.https = !settings.certificate.isEmpty();
    face.deadlines =
        std::make_unique<RequestDeadlines>(settings.requestDeadline, std::chrono::seconds(WebFace::IdleTimeoutSeconds));
    const bool loopback = host.startsWith(u"127."_s) || host == u"::1";
    const WebAdmin::Channel channel = !settings.certificate.isEmpty() ? WebAdmin::Channel::Https
                                      : loopback                      ? WebAdmin::Channel::HttpOnLoopback
                                                                      : WebAdmin::Channel::HttpOnNetwork;
    face.admin = std::make_unique<WebAdmin>(settings.adminPasswordHash, channel);
    face.pages = std::make_unique<RequestWorker>(face.suspended);
    if (!face.admin->passwordHash().isEmpty())
        face.passwords = std::make_unique<PasswordChecks>(face.admin->passwordHash(), face.suspended);
    face.daemon = face.mhd->start_daemon(
        flags, port, nullptr, nullptr, &answer, &face, MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr *>(&address),
        MHD_OPTION_CONNECTION_LIMIT, connectionsThatFit(), MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        WebFace::ConnectionsPerAddress, MHD_OPTION_CONNECTION_TIMEOUT, WebFace::IdleTimeoutSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, WebFace::RequestMemoryBytes, MHD_OPTION_NOTIFY_COMPLETED, &completed, &face,
        MHD_OPTION_NOTIFY_CONNECTION, &connectionChanged, &face,
        settings.certificate.isEmpty() ? MHD_OPTION_END : MHD_OPTION_HTTPS_MEM_CERT, face.certificate.constData(),
        MHD_OPTION_HTTPS_MEM_KEY, face.key.constData(), MHD_OPTION_END);
    if (!face.daemon) {
        return u"The web face could not listen on %1 port %2 (is the port taken, or the certificate or key not "
               u"PEM?)"_s.arg(host)
                   .arg(port);
    }
    return {};
}

void stop(WebFace::Private &face)
{
    // Requests waiting for a change or a password check are answered now.
    face.suspended->close(face.mhd);
    if (face.daemon) {
        face.mhd->stop_daemon(face.daemon);
        face.daemon = nullptr;
    }
    face.deadlines.reset();
    face.passwords.reset();
    face.pages.reset();
}

quint16 port(const WebFace::Private &face)
{
    if (!face.daemon)
        return 0;
    const MHD_DaemonInfo *info = face.mhd->get_daemon_info(face.daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

} // namespace WebTransport
