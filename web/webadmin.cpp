#include "web/webadmin.h"

#include <QLoggingCategory>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

#include <sodium.h>

using namespace Qt::StringLiterals;
using WebPages::escapeHtml;

Q_LOGGING_CATEGORY(lcWeb, "valdrin.web")

namespace {

constexpr char SessionCookie[] = "valdrin_session";
constexpr char LoginCookie[] = "valdrin_login";
constexpr char DeviceCookie[] = "valdrin_device";

// Drops the times older than a minute; true when fewer than limit remain.
bool hasRoom(std::deque<std::chrono::steady_clock::time_point> &times, int limit,
             std::chrono::steady_clock::time_point now)
{
    while (!times.empty() && now - times.front() > std::chrono::minutes(1))
        times.pop_front();
    return int(times.size()) < limit;
}

QByteArray randomToken()
{
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof(bytes));
    return QByteArray(reinterpret_cast<const char *>(bytes), sizeof(bytes)).toHex();
}

bool sameToken(const QByteArray &one, const QByteArray &other)
{
    return !one.isEmpty() && one.size() == other.size() &&
           sodium_memcmp(one.constData(), other.constData(), size_t(one.size())) == 0;
}

QByteArray cookieValue(const QByteArray &cookies, const QByteArray &name)
{
    for (const QByteArray &pair : cookies.split(';')) {
        const QByteArray trimmed = pair.trimmed();
        if (trimmed.startsWith(QByteArray(name + "=")))
            return trimmed.mid(name.size() + 1);
    }
    return {};
}

// A form's fields (application/x-www-form-urlencoded), decoded.
QHash<QString, QString> formFields(const QByteArray &body)
{
    QByteArray spaced = body;
    spaced.replace('+', "%20");
    QHash<QString, QString> fields;
    const QUrlQuery query(QString::fromUtf8(spaced));
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded))
        fields.insert(key, value);
    return fields;
}

WebPages::Response htmlResponse(int status, const QString &title, const QString &body)
{
    WebPages::Response response;
    response.status = status;
    response.headers = WebPages::securityHeaders();
    response.headers.emplaceBack("Cache-Control", "no-store");
    response.contentType = "text/html; charset=utf-8";
    response.body = (u"<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                     u"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                     u"<title>%1</title><link rel=\"stylesheet\" href=\"/style.css\">"
                     u"<link rel=\"icon\" type=\"image/png\" href=\"/favicon.ico\"></head><body>\n"
                     u"<h1>%1</h1>\n%2</body></html>\n"_s.arg(escapeHtml(title), body))
                        .toUtf8();
    return response;
}

WebPages::Response seeOther(const QByteArray &location)
{
    WebPages::Response response;
    response.status = 303;
    response.headers = WebPages::securityHeaders();
    response.headers.emplaceBack("Location", location);
    response.contentType = "text/plain; charset=utf-8";
    response.body = "See " + location + '\n';
    return response;
}

// Commands answered per hour over the last day, as bars the server draws (no
// script, no outside chart): hours along the bottom, the scale at the left.
QString hourlyChart(const QList<int> &perHour)
{
    const int most = std::max(1, *std::max_element(perHour.cbegin(), perHour.cend()));
    constexpr int Left = 30;   // room for the scale
    constexpr int Height = 40; // of the tallest bar
    int total = 0;
    QString bars;
    for (int hour = 0; hour < perHour.size(); ++hour) {
        total += perHour[hour];
        const int height = perHour[hour] * Height / most;
        bars += u"<rect x=\"%1\" y=\"%2\" width=\"8\" height=\"%3\" fill=\"#33a\"><title>%4 h ago: %5</title></rect>"_s
                    .arg(Left + hour * 10)
                    .arg(2 + Height - height)
                    .arg(std::max(height, perHour[hour] > 0 ? 1 : 0))
                    .arg(perHour.size() - 1 - hour)
                    .arg(perHour[hour]);
    }
    const int width = Left + int(perHour.size()) * 10;
    // Text at 12 units, the page's small print, whatever the chart is scaled to.
    return u"<svg class=\"chart\" width=\"%3\" height=\"60\" viewBox=\"0 0 %3 60\" role=\"img\" aria-label=\"%1 "
           u"commands in 24 hours, at most %4 in an hour\"><g font-size=\"12\" fill=\"#555\">"
           u"<text x=\"%5\" y=\"11\" text-anchor=\"end\">%4</text><text x=\"%5\" y=\"43\" "
           u"text-anchor=\"end\">0</text><text x=\"%6\" y=\"58\">24 h ago</text><text x=\"%7\" y=\"58\" "
           u"text-anchor=\"middle\">12 h</text><text x=\"%3\" y=\"58\" text-anchor=\"end\">now</text></g>"
           u"<line x1=\"%6\" y1=\"43\" x2=\"%3\" y2=\"43\" stroke=\"#999\"/>"
           u"<line x1=\"%6\" y1=\"2\" x2=\"%6\" y2=\"43\" stroke=\"#999\"/>%2</svg> "
           u"<span class=\"total\">%1 in 24 h</span>"_s.arg(total)
               .arg(bars)
               .arg(width)
               .arg(most)
               .arg(Left - 3)
               .arg(Left)
               .arg(Left + 12 * 10);
}

QString shownTime(const QDateTime &time)
{
    return time.toUTC().toString(u"yyyy-MM-dd HH:mm 'UTC'"_s);
}

// What the last check of the links found: dead and doubtful items, with what
// was found and since when, each linked to its place in the list below.
QString linkSection(const WebSnapshot::LinkCheck &check)
{
    // The table stays a page's length; --check-links names every one.
    constexpr int RowsAtMost = 100;
    QString section = u"<h2 id=\"links\">Links</h2>\n<p>"_s;
    if (!check.finished.isValid()) {
        section += check.on ? u"The links are being checked for the first time."_s
                            : u"The links are not checked while the server runs: set <code>link-check = 24h</code> in "
                              u"network.conf, or run <code>--check-links</code>."_s;
        return section + u"</p>\n"_s;
    }
    section += u"Checked %1: %2 links, %3 dead, %4 doubtful"_s.arg(shownTime(check.finished))
                   .arg(check.checked)
                   .arg(check.dead)
                   .arg(check.doubtful);
    if (check.skipped > 0)
        section += u", %1 on private addresses not checked"_s.arg(check.skipped);
    section += check.checking ? u". A new check is under way."_s
               : check.on     ? u"."_s
                              : u". (<code>link-check</code> is off in network.conf: this was the last check.)"_s;
    section += u"</p>\n"_s;
    if (check.problems.isEmpty())
        return section;
    section += u"<table class=\"links\"><tr><th>Item</th><th>Description</th><th>Address</th><th>Found</th>"
               u"<th>Since</th></tr>\n"_s;
    for (const WebSnapshot::LinkCheck::Problem &problem : check.problems.mid(0, RowsAtMost)) {
        section +=
            u"<tr class=\"%1\"><td data-label=\"Item\"><a href=\"/admin?page=%2#item%3\">%3</a></td>"
            u"<td data-label=\"Description\">%4</td><td data-label=\"Address\"><code>%5</code></td>"
            u"<td data-label=\"Found\">%6: %7</td><td data-label=\"Since\">%8</td></tr>\n"_s
                .arg(problem.dead ? u"dead"_s : u"doubtful"_s)
                .arg(problem.item / WebPages::ItemsPerPage + 1)
                .arg(problem.item)
                .arg(escapeHtml(problem.description), escapeHtml(problem.address),
                     problem.dead ? u"Dead"_s : u"Doubtful"_s, escapeHtml(problem.found), shownTime(problem.since));
    }
    section += u"</table>\n"_s;
    if (check.problems.size() > RowsAtMost)
        section += u"<p>And %1 more: <code>--check-links</code> names every one.</p>\n"_s.arg(check.problems.size() -
                                                                                              RowsAtMost);
    return section;
}

QString hidden(const QByteArray &csrf)
{
    return u"<input type=\"hidden\" name=\"csrf\" value=\"%1\">"_s.arg(QString::fromLatin1(csrf));
}

} // namespace

WebAdmin::WebAdmin(QByteArray passwordHash, Channel channel) : m_hash(std::move(passwordHash)), m_channel(channel)
{
    if (sodium_init() < 0) {
        m_hash.clear();
        return;
    }
    m_deviceKey.resize(crypto_generichash_KEYBYTES);
    crypto_generichash(reinterpret_cast<unsigned char *>(m_deviceKey.data()), size_t(m_deviceKey.size()),
                       reinterpret_cast<const unsigned char *>(m_hash.constData()), size_t(m_hash.size()),
                       reinterpret_cast<const unsigned char *>("valdrin device cookie"), 21);
}

QByteArray WebAdmin::signedDevice(const QByteArray &name) const
{
    unsigned char signature[32];
    crypto_generichash(signature, sizeof(signature), reinterpret_cast<const unsigned char *>(name.constData()),
                       size_t(name.size()), reinterpret_cast<const unsigned char *>(m_deviceKey.constData()),
                       size_t(m_deviceKey.size()));
    return name + '.' + QByteArray(reinterpret_cast<const char *>(signature), sizeof(signature)).toHex();
}

bool WebAdmin::isKnownDevice(const QByteArray &cookieValue) const
{
    const qsizetype dot = cookieValue.indexOf('.');
    return dot > 0 && !m_deviceKey.isEmpty() && sameToken(cookieValue, signedDevice(cookieValue.left(dot)));
}

QByteArray WebAdmin::cookie(const QByteArray &name, const QByteArray &value, int maxAgeSeconds) const
{
    return name + '=' + value +
           "; Path=/admin; HttpOnly; SameSite=Strict; Max-Age=" + QByteArray::number(maxAgeSeconds) +
           (m_channel == Channel::Https ? "; Secure" : "");
}

WebPages::Response WebAdmin::loginPage(const QString &why, int status) const
{
    const QByteArray token = randomToken();
    WebPages::Response response = htmlResponse(
        status, u"Admin: log in"_s,
        (why.isEmpty() ? QString() : u"<p class=\"note\">%1</p>\n"_s.arg(escapeHtml(why))) +
            u"<form method=\"post\" action=\"/admin/login\">%1<label>Password <input type=\"password\" "
            u"name=\"password\" autocomplete=\"current-password\" required></label> "
            u"<button type=\"submit\">Log in</button></form>\n<p><a href=\"/\">The catalogue</a></p>\n"_s.arg(
                hidden(token)));
    response.headers.emplaceBack("Set-Cookie", cookie(LoginCookie, token, 600));
    return response;
}

WebAdmin::Outcome WebAdmin::login(const Request &request, const QHash<QString, QString> &form)
{
    const auto now = Clock::now();
    // Addresses that have nothing left to count go, so a flood cannot grow the table for good.
    if (m_failures.size() > 4096) {
        m_failures.removeIf([now](const auto &entry) {
            const Failures &failures = entry.value();
            return failures.checking == 0 && failures.lockedUntil < now && now - failures.since > LockoutWindow;
        });
    }
    Failures &failures = m_failures[request.address];
    if (failures.checking == 0 && failures.count > 0 && now - failures.since > LockoutWindow)
        failures.count = 0;
    // Passwords still being checked count as wrong until they are known: a
    // flood of attempts at once gets no more than five through.
    if (failures.lockedUntil > now || failures.count + failures.checking >= FailuresAllowed) {
        const auto left = std::chrono::ceil<std::chrono::minutes>(std::max(failures.lockedUntil, now) - now);
        return {loginPage(u"Too many wrong passwords from your address: try again in %1 minutes."_s.arg(
                              std::max<qint64>(1, left.count())),
                          429),
                {},
                {},
                {}};
    }
    if (!sameToken(form.value(u"csrf"_s).toLatin1(), cookieValue(request.cookies, LoginCookie)))
        return {loginPage(u"The form had expired: log in again."_s, 403), {}, {}, {}};
    const bool clean = failures.count == 0 && failures.checking == 0;
    std::deque<Clock::time_point> *lane = nullptr;
    if (hasRoom(m_logins, LoginsPerMinute, now))
        lane = &m_logins;
    else if (hasRoom(m_deviceLogins, DeviceLoginsPerMinute, now) &&
             isKnownDevice(cookieValue(request.cookies, DeviceCookie)))
        lane = &m_deviceLogins;
    else if (clean && hasRoom(m_cleanLogins, CleanAddressLoginsPerMinute, now))
        lane = &m_cleanLogins;
    if (!lane) {
        qCWarning(lcWeb).noquote() << u"Admin login from %1 not checked: %2 logins were checked in the last minute, "
                                      u"as many as are checked a minute"_s.arg(request.address)
                                          .arg(LoginsPerMinute);
        return {
            loginPage(u"The server has checked as many logins as it checks in a minute: try again in a minute."_s, 429),
            {},
            {},
            {}};
    }
    lane->push_back(now);
    ++failures.checking;
    return {{}, {}, form.value(u"password"_s).toUtf8(), {}};
}

WebPages::Response WebAdmin::loginChecked(const Request &request, std::optional<bool> matches)
{
    const auto now = Clock::now();
    Failures &failures = m_failures[request.address];
    failures.checking = std::max(0, failures.checking - 1);
    if (!matches)
        return loginPage(u"The server is stopping: log in again in a moment."_s, 503);
    if (!*matches) {
        if (failures.count == 0)
            failures.since = now;
        ++failures.count;
        qCWarning(lcWeb).noquote() << u"Admin login failed from %1 (%2 of %3 allowed in %4 minutes)"_s
                                          .arg(request.address)
                                          .arg(failures.count)
                                          .arg(FailuresAllowed)
                                          .arg(LockoutWindow.count());
        if (failures.count >= FailuresAllowed) {
            // The lockout runs from the last failure, not the first.
            failures.lockedUntil = now + LockoutWindow;
            failures.count = 0;
            qCWarning(lcWeb).noquote() << u"Admin logins from %1 locked out for %2 minutes: %3 wrong passwords"_s
                                              .arg(request.address)
                                              .arg(LockoutWindow.count())
                                              .arg(FailuresAllowed);
        }
        return loginPage(u"Wrong password."_s, 403);
    }
    failures = {};
    // Sessions that ran out go; a flood of logins cannot grow the table without bound.
    m_sessions.removeIf([now](const auto &entry) { return entry.value().expires < now; });
    if (m_sessions.size() >= 64)
        m_sessions.clear();
    const QByteArray session = randomToken();
    m_sessions.insert(session, {randomToken(), now + SessionLifetime, {}});
    qCInfo(lcWeb).noquote() << u"Admin logged in from %1"_s.arg(request.address);
    WebPages::Response response = seeOther("/admin");
    response.headers.emplaceBack("Set-Cookie",
                                 cookie(SessionCookie, session, int(std::chrono::seconds(SessionLifetime).count())));
    response.headers.emplaceBack("Set-Cookie", cookie(LoginCookie, {}, 0));
    // This browser's logins are checked even while a flood fills the cap.
    response.headers.emplaceBack("Set-Cookie", cookie(DeviceCookie, signedDevice(randomToken()),
                                                      int(std::chrono::seconds(DeviceLifetime).count())));
    return response;
}

bool WebAdmin::isLoggedIn(const QByteArray &cookies) const
{
    const auto session = m_sessions.constFind(cookieValue(cookies, SessionCookie));
    return session != m_sessions.cend() && session->expires >= Clock::now();
}

QHash<QByteArray, WebAdmin::Session>::iterator WebAdmin::session(const Request &request)
{
    auto session = m_sessions.find(cookieValue(request.cookies, SessionCookie));
    if (session != m_sessions.end() && session->expires < Clock::now()) {
        m_sessions.erase(session);
        return m_sessions.end();
    }
    return session;
}

WebAdmin::Outcome WebAdmin::handle(const WebSnapshot &snapshot, const Request &request, const WebRoutes::Route *route)
{
    using WebRoutes::Target;
    const auto is = [route](Target target) { return route && route->target == target; };
    if (m_hash.isEmpty()) {
        return {htmlResponse(404, u"Admin"_s,
                             u"<p>The admin page is off: set http-admin-password-hash in network.conf (see "
                             u"valdrin-aim-serverd --hash-password).</p>"_s),
                {},
                {},
                {}};
    }
    // A password and a session cookie never cross a network in the clear.
    if (m_channel == Channel::HttpOnNetwork) {
        return {htmlResponse(403, u"Admin"_s,
                             u"<p>The admin page is off: the server listens on a network address over plain HTTP, "
                             u"where the password and the session would travel in the clear. Serve HTTPS "
                             u"(http-tls-cert, http-tls-key) or listen on a loopback address.</p>"_s),
                {},
                {},
                {}};
    }
    const QHash<QString, QString> form = request.method != "POST" ? QHash<QString, QString>()
                                         : request.upload         ? request.upload->fields
                                                                  : formFields(request.body);
    if (is(Target::AdminLogin) && request.method == "POST")
        return login(request, form);

    const auto session = this->session(request);
    if (session == m_sessions.end()) {
        if (request.method == "POST")
            return {loginPage(u"Log in first."_s, 403), {}, {}, {}};
        return {loginPage({}), {}, {}, {}};
    }
    // HEAD is answered as GET is (libmicrohttpd leaves the body out), with a session or without.
    if (request.method == "GET" || request.method == "HEAD") {
        if (is(Target::AdminPage))
            return {page(snapshot, *session, request), {}, {}, {}};
        if (is(Target::AdminExportJson))
            return {{}, {}, {}, CatalogueTransfer::Format::Json};
        if (is(Target::AdminExportCsv))
            return {{}, {}, {}, CatalogueTransfer::Format::Csv};
    }
    if (request.method != "POST") {
        WebPages::Response refused = htmlResponse(405, u"Admin"_s, u"<p>Not a form of this page.</p>"_s);
        refused.headers.emplaceBack("Allow", "GET, HEAD, POST");
        return {refused, {}, {}, {}};
    }
    // Every form carries the session's token: a page elsewhere cannot post here.
    if (!sameToken(form.value(u"csrf"_s).toLatin1(), session->csrf))
        return {htmlResponse(403, u"Admin"_s,
                             u"<p>The form's token is missing or wrong: nothing was changed. "
                             u"<a href=\"/admin\">Back</a></p>"_s),
                {},
                {},
                {}};
    if (is(Target::AdminLogout)) {
        m_sessions.erase(session);
        WebPages::Response response = seeOther("/admin");
        response.headers.emplaceBack("Set-Cookie", cookie(SessionCookie, {}, 0));
        return {response, {}, {}, {}};
    }
    const QString description = form.value(u"description"_s);
    const QString address = form.value(u"address"_s);
    if (is(Target::AdminAdd))
        return {{}, CatalogueChange::AddItem{description, address}, {}, {}};
    if (is(Target::AdminMessage))
        return {{}, CatalogueChange::SetMessage{form.value(u"text"_s)}, {}, {}};
    if (is(Target::AdminImport)) {
        if (!request.upload || request.upload->file.isEmpty()) {
            return {htmlResponse(400, u"Admin"_s,
                                 u"<p>No file came with the form (or an empty one): nothing was imported. "
                                 u"<a href=\"/admin#import\">Back</a></p>"_s),
                    {},
                    {},
                    {}};
        }
        return {{},
                AdminChange::ImportFile{request.upload->fileName, request.upload->file,
                                        form.value(u"mode"_s) == u"replace", form.value(u"check"_s) == u"1"},
                {},
                {}};
    }
    if (is(Target::AdminRoom)) {
        return {
            {},
            AdminChange::SwitchRoom{form.value(u"connection"_s), form.value(u"room"_s), form.value(u"on"_s) == u"1"},
            {},
            {}};
    }
    if (is(Target::AdminEdit) || is(Target::AdminRemove)) {
        // An item is named by what the page showed of it too: a page loaded
        // before another change never changes an item it did not show.
        bool number = false;
        const CatalogueChange::SeenItem seen = CatalogueChange::SeenItem::numbered(
            form.value(u"number"_s).toInt(&number), form.value(u"seen_description"_s), form.value(u"seen_address"_s));
        if (!number || !form.contains(u"seen_description"_s) || !form.contains(u"seen_address"_s)) {
            return {htmlResponse(400, u"Admin"_s,
                                 u"<p>The form did not say which item it showed: nothing was changed. "
                                 u"<a href=\"/admin\">Load the page again</a></p>"_s),
                    {},
                    {},
                    {}};
        }
        if (is(Target::AdminEdit))
            return {{}, CatalogueChange::EditItem{seen, description, address}, {}, {}};
        if (form.value(u"confirm"_s) != u"1")
            return {confirmRemove(*session, form), {}, {}, {}};
        return {{}, CatalogueChange::RemoveItem{seen}, {}, {}};
    }
    return {htmlResponse(404, u"Admin"_s, u"<p>Not a form of this page.</p>"_s), {}, {}, {}};
}

WebPages::Response WebAdmin::afterAction(const Request &request, const AdminChange::Told &told)
{
    const auto session = this->session(request);
    if (session == m_sessions.end())
        return seeOther("/admin");
    // The address names the notice by a code; its text stays with the session.
    const QByteArray code = randomToken().left(16);
    session->notices.append({code, told});
    if (session->notices.size() > 8)
        session->notices.removeFirst();
    QByteArray location = "/admin?said=" + code;
    if (told.item >= 0)
        location += "&page=" + QByteArray::number(told.item / WebPages::ItemsPerPage + 1) + "#item" +
                    QByteArray::number(told.item);
    return seeOther(location);
}

namespace {

// The hidden fields that name an item by what the page shows of it.
QString seenFields(int item, const QString &description, const QString &address)
{
    return u"<input type=\"hidden\" name=\"number\" value=\"%1\"><input type=\"hidden\" name=\"seen_description\" "
           u"value=\"%2\"><input type=\"hidden\" name=\"seen_address\" value=\"%3\">"_s.arg(item)
               .arg(escapeHtml(description), escapeHtml(address));
}

} // namespace

WebPages::Response WebAdmin::confirmRemove(const Session &session, const QHash<QString, QString> &form) const
{
    const int item = form.value(u"number"_s).toInt();
    const QString description = form.value(u"seen_description"_s);
    const QString address = form.value(u"seen_address"_s);
    return htmlResponse(
        200, u"Admin: remove item %1?"_s.arg(item),
        u"<p>Remove item %1, <b>%2</b> (<code>%3</code>)? The items after it move up by one.</p>\n"
        u"<form method=\"post\" action=\"/admin/remove\">%4%5<input type=\"hidden\" name=\"confirm\" value=\"1\">"
        u"<button type=\"submit\">Remove item %1</button></form>\n<p><a href=\"/admin?page=%6#item%1\">Keep it</a></p>\n"_s
            .arg(item)
            .arg(escapeHtml(description), escapeHtml(address), hidden(session.csrf),
                 seenFields(item, description, address))
            .arg(item / WebPages::ItemsPerPage + 1));
}

WebPages::Response WebAdmin::page(const WebSnapshot &snapshot, const Session &session, const Request &request) const
{
    const QString &search = request.search;
    const QString csrf = hidden(session.csrf);
    // What the last change told, where the page opens: beside its item when
    // it names one, else at the top; a refusal looks like one.
    AdminChange::Told said;
    said.item = -2;
    for (const auto &[code, told] : session.notices) {
        if (code == request.said)
            said = told;
    }
    const QString notice = said.item == -2 ? QString()
                                           : u"<p class=\"%1\" id=\"said\" role=\"%2\">%3</p>\n"_s.arg(
                                                 said.refused ? u"note refused"_s : u"note"_s,
                                                 said.refused ? u"alert"_s : u"status"_s, escapeHtml(said.text));
    QString body;
    body += u"<form method=\"post\" action=\"/admin/logout\">%1<button type=\"submit\">Log out</button></form>\n"_s.arg(
        csrf);

    body +=
        u"<h2>Rooms</h2>\n<table class=\"rooms\"><tr><th>Connection</th><th>Room</th><th>Joined</th><th>Serving</th>"
        u"<th>Last problem</th><th></th><th>Commands answered, last 24 hours</th></tr>\n"_s;
    for (const WebSnapshot::Room &room : snapshot.rooms) {
        body +=
            u"<tr><td data-label=\"Connection\">%1</td><td data-label=\"Room\">%2</td><td data-label=\"Joined\">%3"
            u"</td><td data-label=\"Serving\">%4</td><td data-label=\"Last problem\">%5</td><td><form method=\"post\" "
            u"action=\"/admin/room\">%6<input type=\"hidden\" name=\"connection\" value=\"%1\"><input "
            u"type=\"hidden\" name=\"room\" value=\"%2\"><input type=\"hidden\" name=\"on\" value=\"%7\">"
            u"<button type=\"submit\">%8</button></form></td><td data-label=\"Commands answered, last 24 hours\">%9"
            u"</td></tr>\n"_s.arg(escapeHtml(room.connection), escapeHtml(room.room), room.joined ? u"yes"_s : u"no"_s,
                                  room.serving ? u"yes"_s : u"no"_s, escapeHtml(room.lastProblem), csrf,
                                  room.serving ? u"0"_s : u"1"_s, room.serving ? u"Switch off"_s : u"Switch on"_s,
                                  hourlyChart(room.perHour));
    }
    body += u"</table>\n"_s;
    body += linkSection(snapshot.linkCheck);

    body += u"<h2>Server message</h2>\n<form method=\"post\" action=\"/admin/message\">%1<textarea name=\"text\" "
            u"rows=\"3\" cols=\"60\" aria-label=\"Server message\">%2</textarea> <button type=\"submit\">Set the "
            u"message</button></form>\n"_s.arg(csrf, escapeHtml(snapshot.serverMessage));

    body +=
        u"<h2>Add an item</h2>\n<form method=\"post\" action=\"/admin/add\">%1<input name=\"description\" "
        u"placeholder=\"Description\" aria-label=\"Description\" required> <input name=\"address\" "
        u"placeholder=\"https://…\" aria-label=\"Address\" required> <button type=\"submit\">Add</button></form>\n"_s
            .arg(csrf);

    body += u"<h2 id=\"import\">Import and export</h2>\n<form method=\"post\" action=\"/admin/import\" "
            u"enctype=\"multipart/form-data\">%1<input type=\"file\" name=\"file\" accept=\".csv,.json,.txt\" "
            u"aria-label=\"Catalogue file\" required> <label><input type=\"radio\" name=\"mode\" value=\"append\" "
            u"checked> Add to the items</label> <label><input type=\"radio\" name=\"mode\" value=\"replace\"> "
            u"Replace every item</label> <label><input type=\"checkbox\" name=\"check\" value=\"1\"> Only say what "
            u"would change</label> <button type=\"submit\">Import</button></form>\n<p class=\"hint\">A CSV file with "
            u"a header naming <code>description</code> and <code>url</code>, a <code>catalogue.json</code>, or a "
            u"list of addresses, one a line (%2 MiB at most; a larger file with <code>--import</code>). One bad row "
            u"imports nothing. Download the catalogue: <a href=\"/admin/catalogue.csv\" download>CSV</a>, "
            u"<a href=\"/admin/catalogue.json\" download>JSON</a>.</p>\n"_s.arg(csrf)
                .arg(WebAdmin::ImportBytesAtMost / 1024 / 1024);

    const QList<int> found = WebPages::findItems(snapshot, search);
    const int items = snapshot.descriptions.ListCount();
    const int pages = WebPages::pageCount(found.size());
    const int page = WebPages::pageOf(request.page, found.size());
    const int first = (page - 1) * WebPages::ItemsPerPage;
    const int end = std::min(int(found.size()), first + WebPages::ItemsPerPage);
    const bool saidBesideItem =
        said.item >= 0 && std::find(found.begin() + first, found.begin() + end, said.item) != found.begin() + end;
    if (!saidBesideItem)
        body.prepend(notice);
    body += u"<h2>Items</h2>\n<form method=\"get\" action=\"/admin\"><input type=\"search\" name=\"q\" value=\"%1\" "
            u"aria-label=\"Search\"> <button type=\"submit\">Search</button></form>\n"_s.arg(escapeHtml(search));
    if (!search.isEmpty())
        body += u"<p id=\"count\">%1 of %2 items match"_s.arg(found.size()).arg(items);
    else
        body += u"<p id=\"count\">%1 items"_s.arg(items);
    if (end > first + 1 || found.size() > end)
        body += u"; %1 to %2 shown"_s.arg(first + 1).arg(end);
    body += u"</p>\n<ol>\n"_s;
    for (int index = first; index < end; ++index) {
        const int item = found[index];
        const QString description = snapshot.descriptions.List(item);
        const QString address = snapshot.addresses.List(item);
        const QString seen = seenFields(item, description, address);
        body +=
            u"<li id=\"item%1\"><span class=\"n\">%1</span> <form method=\"post\" action=\"/admin/edit\">%2%3"
            u"<input name=\"description\" value=\"%4\" aria-label=\"Description of item %1\"> <input "
            u"name=\"address\" value=\"%5\" aria-label=\"Address of item %1\"> <button type=\"submit\">Save</button>"
            u"</form> <form method=\"post\" action=\"/admin/remove\">%2%3<button type=\"submit\">Remove</button>"
            u"</form>%6</li>\n"_s.arg(item)
                .arg(csrf, seen, escapeHtml(description), escapeHtml(address),
                     saidBesideItem && item == said.item ? notice : QString());
    }
    body += u"</ol>\n"_s;
    body += WebPages::pageLinks("/admin", search, page, pages);
    body += u"<p><a href=\"/\">The catalogue as members see it</a></p>\n"_s;
    return htmlResponse(200, u"Admin"_s, body);
}
