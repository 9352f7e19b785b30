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
                     u"<title>%1</title><link rel=\"stylesheet\" href=\"/style.css\"></head><body>\n"
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

// Commands answered per hour over the last day, as bars the server draws (no script, no outside chart).
QString hourlyChart(const QList<int> &perHour)
{
    const int most = std::max(1, *std::max_element(perHour.cbegin(), perHour.cend()));
    int total = 0;
    QString bars;
    for (int hour = 0; hour < perHour.size(); ++hour) {
        total += perHour[hour];
        const int height = perHour[hour] * 40 / most;
        bars += u"<rect x=\"%1\" y=\"%2\" width=\"8\" height=\"%3\" fill=\"#33a\"><title>%4 h ago: %5</title></rect>"_s
                    .arg(hour * 10)
                    .arg(40 - height)
                    .arg(std::max(height, perHour[hour] > 0 ? 1 : 0))
                    .arg(perHour.size() - 1 - hour)
                    .arg(perHour[hour]);
    }
    return u"<svg width=\"240\" height=\"42\" viewBox=\"0 0 240 42\" role=\"img\" aria-label=\"%1 commands in 24 "
           u"hours\"><line x1=\"0\" y1=\"41\" x2=\"240\" y2=\"41\" stroke=\"#999\"/>%2</svg> %1"_s.arg(total)
               .arg(bars);
}

QString hidden(const QByteArray &csrf)
{
    return u"<input type=\"hidden\" name=\"csrf\" value=\"%1\">"_s.arg(QString::fromLatin1(csrf));
}

} // namespace

WebAdmin::WebAdmin(QByteArray passwordHash, Channel channel) : m_hash(std::move(passwordHash)), m_channel(channel)
{
    if (sodium_init() < 0)
        m_hash.clear();
}

QByteArray WebAdmin::hashPassword(const QByteArray &password)
{
    if (sodium_init() < 0)
        return {};
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.constData(), quint64(password.size()), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    return QByteArray(hash);
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

WebPages::Response WebAdmin::login(const Request &request, const QHash<QString, QString> &form)
{
    using Clock = std::chrono::steady_clock;
    const auto now = Clock::now();
    Failures &failures = m_failures[request.address];
    if (now - failures.since > LockoutWindow)
        failures = {0, now};
    if (failures.count >= FailuresAllowed) {
        qCWarning(lcWeb).noquote()
            << u"Admin login refused from %1: too many wrong passwords; locked out for a while"_s.arg(request.address);
        return loginPage(
            u"Too many wrong passwords from your address: try again in %1 minutes."_s.arg(LockoutWindow.count()), 429);
    }
    if (!sameToken(form.value(u"csrf"_s).toLatin1(), cookieValue(request.cookies, LoginCookie)))
        return loginPage(u"The form had expired: log in again."_s, 403);
    const QByteArray password = form.value(u"password"_s).toUtf8();
    if (crypto_pwhash_str_verify(m_hash.constData(), password.constData(), quint64(password.size())) != 0) {
        ++failures.count;
        qCWarning(lcWeb).noquote() << u"Admin login failed from %1 (%2 of %3 allowed in %4 minutes)"_s
                                          .arg(request.address)
                                          .arg(failures.count)
                                          .arg(FailuresAllowed)
                                          .arg(LockoutWindow.count());
        return loginPage(u"Wrong password."_s, 403);
    }
    failures = {0, now};
    // Sessions that ran out go; a flood of logins cannot grow the table without bound.
    m_sessions.removeIf([now](const auto &entry) { return entry.value().expires < now; });
    if (m_sessions.size() >= 64)
        m_sessions.clear();
    const QByteArray session = randomToken();
    m_sessions.insert(session, {randomToken(), now + SessionLifetime});
    qCInfo(lcWeb).noquote() << u"Admin logged in from %1"_s.arg(request.address);
    WebPages::Response response = seeOther("/admin");
    response.headers.emplaceBack("Set-Cookie",
                                 cookie(SessionCookie, session, int(std::chrono::seconds(SessionLifetime).count())));
    response.headers.emplaceBack("Set-Cookie", cookie(LoginCookie, {}, 0));
    return response;
}

WebAdmin::Outcome WebAdmin::handle(const WebSnapshot &snapshot, const Request &request, const WebRoutes::Route *route)
{
    using WebRoutes::Target;
    const auto is = [route](Target target) { return route && route->target == target; };
    if (m_hash.isEmpty()) {
        return {htmlResponse(404, u"Admin"_s,
                             u"<p>The admin page is off: set http-admin-password-hash in network.conf (see "
                             u"valdrin-aim-serverd --hash-password).</p>"_s),
                {}};
    }
    // A password and a session cookie never cross a network in the clear.
    if (m_channel == Channel::HttpOnNetwork) {
        return {htmlResponse(403, u"Admin"_s,
                             u"<p>The admin page is off: the server listens on a network address over plain HTTP, "
                             u"where the password and the session would travel in the clear. Serve HTTPS "
                             u"(http-tls-cert, http-tls-key) or listen on a loopback address.</p>"_s),
                {}};
    }
    const QHash<QString, QString> form =
        request.method == "POST" ? formFields(request.body) : QHash<QString, QString>();
    if (is(Target::AdminLogin) && request.method == "POST")
        return {login(request, form), {}};

    const QByteArray sessionId = cookieValue(request.cookies, SessionCookie);
    auto session = m_sessions.find(sessionId);
    if (session != m_sessions.end() && session->expires < std::chrono::steady_clock::now()) {
        m_sessions.erase(session);
        session = m_sessions.end();
    }
    if (session == m_sessions.end()) {
        if (request.method == "POST")
            return {loginPage(u"Log in first."_s, 403), {}};
        return {loginPage({}), {}};
    }
    if (request.method == "GET" && is(Target::AdminPage))
        return {page(snapshot, *session, request.query), {}};
    if (request.method != "POST") {
        WebPages::Response refused = htmlResponse(405, u"Admin"_s, u"<p>Not a form of this page.</p>"_s);
        refused.headers.emplaceBack("Allow", "GET, POST");
        return {refused, {}};
    }
    // Every form carries the session's token: a page elsewhere cannot post here.
    if (!sameToken(form.value(u"csrf"_s).toLatin1(), session->csrf))
        return {htmlResponse(403, u"Admin"_s,
                             u"<p>The form's token is missing or wrong: nothing was changed. "
                             u"<a href=\"/admin\">Back</a></p>"_s),
                {}};
    if (is(Target::AdminLogout)) {
        m_sessions.erase(session);
        WebPages::Response response = seeOther("/admin");
        response.headers.emplaceBack("Set-Cookie", cookie(SessionCookie, {}, 0));
        return {response, {}};
    }
    bool number = false;
    const int item = form.value(u"number"_s).toInt(&number);
    const QString description = form.value(u"description"_s);
    const QString address = form.value(u"address"_s);
    if (is(Target::AdminAdd))
        return {{}, AdminChange::AddItem{description, address}};
    if (is(Target::AdminEdit) && number)
        return {{}, AdminChange::EditItem{item, description, address}};
    if (is(Target::AdminRemove) && number)
        return {{}, AdminChange::RemoveItem{item}};
    if (is(Target::AdminMessage))
        return {{}, AdminChange::SetMessage{form.value(u"text"_s)}};
    if (is(Target::AdminRoom)) {
        return {
            {},
            AdminChange::SwitchRoom{form.value(u"connection"_s), form.value(u"room"_s), form.value(u"on"_s) == u"1"}};
    }
    return {htmlResponse(404, u"Admin"_s, u"<p>Not a form of this page.</p>"_s), {}};
}

WebPages::Response WebAdmin::afterAction(const QString &told)
{
    return seeOther("/admin?said=" + QUrl::toPercentEncoding(told));
}

WebPages::Response WebAdmin::page(const WebSnapshot &snapshot, const Session &session, const QByteArray &query) const
{
    const QUrlQuery args(QString::fromUtf8(query));
    const QString said = args.queryItemValue(u"said"_s, QUrl::FullyDecoded);
    const QString search = args.queryItemValue(u"q"_s, QUrl::FullyDecoded);
    const QString csrf = hidden(session.csrf);
    QString body;
    if (!said.isEmpty())
        body += u"<p class=\"note\" id=\"said\">%1</p>\n"_s.arg(escapeHtml(said));
    body += u"<form method=\"post\" action=\"/admin/logout\">%1<button type=\"submit\">Log out</button></form>\n"_s.arg(
        csrf);

    body += u"<h2>Rooms</h2>\n<table><tr><th>Connection</th><th>Room</th><th>Joined</th><th>Serving</th>"
            u"<th>Last problem</th><th></th><th>Commands answered, last 24 hours</th></tr>\n"_s;
    for (const WebSnapshot::Room &room : snapshot.rooms) {
        body +=
            u"<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td><form method=\"post\" "
            u"action=\"/admin/room\">%6<input type=\"hidden\" name=\"connection\" value=\"%1\"><input "
            u"type=\"hidden\" name=\"room\" value=\"%2\"><input type=\"hidden\" name=\"on\" value=\"%7\">"
            u"<button type=\"submit\">%8</button></form></td><td>%9</td></tr>\n"_s.arg(
                escapeHtml(room.connection), escapeHtml(room.room), room.joined ? u"yes"_s : u"no"_s,
                room.serving ? u"yes"_s : u"no"_s, escapeHtml(room.lastProblem), csrf, room.serving ? u"0"_s : u"1"_s,
                room.serving ? u"Switch off"_s : u"Switch on"_s, hourlyChart(room.perHour));
    }
    body += u"</table>\n"_s;

    body += u"<h2>Server message</h2>\n<form method=\"post\" action=\"/admin/message\">%1<textarea name=\"text\" "
            u"rows=\"3\" cols=\"60\" aria-label=\"Server message\">%2</textarea> <button type=\"submit\">Set the "
            u"message</button></form>\n"_s.arg(csrf, escapeHtml(snapshot.serverMessage));

    body +=
        u"<h2>Add an item</h2>\n<form method=\"post\" action=\"/admin/add\">%1<input name=\"description\" "
        u"placeholder=\"Description\" aria-label=\"Description\" required> <input name=\"address\" "
        u"placeholder=\"https://…\" aria-label=\"Address\" required> <button type=\"submit\">Add</button></form>\n"_s
            .arg(csrf);

    body += u"<h2>Items</h2>\n<form method=\"get\" action=\"/admin\"><input type=\"search\" name=\"q\" value=\"%1\" "
            u"aria-label=\"Search\"> <button type=\"submit\">Search</button></form>\n<ol>\n"_s.arg(escapeHtml(search));
    int shown = 0;
    for (int item = 0; item < snapshot.descriptions.ListCount() && shown < WebPages::ItemsPerPage; ++item) {
        const QString description = snapshot.descriptions.List(item);
        const QString address = snapshot.addresses.List(item);
        if (!search.isEmpty() && !description.contains(search, Qt::CaseInsensitive) &&
            !address.contains(search, Qt::CaseInsensitive))
            continue;
        ++shown;
        body += u"<li id=\"item%1\"><span class=\"n\">%1</span> <form method=\"post\" action=\"/admin/edit\">%2"
                u"<input type=\"hidden\" name=\"number\" value=\"%1\"><input name=\"description\" value=\"%3\" "
                u"aria-label=\"Description of item %1\"> <input name=\"address\" value=\"%4\" aria-label=\"Address of "
                u"item %1\"> <button type=\"submit\">Save</button></form> <form method=\"post\" "
                u"action=\"/admin/remove\">%2<input type=\"hidden\" name=\"number\" value=\"%1\"><button "
                u"type=\"submit\">Remove</button></form></li>\n"_s.arg(item)
                    .arg(csrf, escapeHtml(description), escapeHtml(address));
    }
    body += u"</ol>\n<p><a href=\"/\">The catalogue as members see it</a></p>\n"_s;
    return htmlResponse(200, u"Admin"_s, body);
}
