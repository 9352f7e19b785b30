#include "web/webpages.h"

#include "catalogue/cataloguetransfer.h"

#include "web/webroutes.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUrlQuery>

#include <numeric>

using namespace Qt::StringLiterals;

namespace {

// The page's look, served as a file of its own: the page may load nothing else
// (no inline style or script, no outside fonts).
constexpr char StyleSheet[] =
    "body{font-family:sans-serif;max-width:60em;margin:0 auto;padding:0 1em;line-height:1.4}"
    "h1{font-size:1.5em}ol{padding-left:0;list-style:none}li{margin:.3em 0;overflow-wrap:anywhere}"
    ".n{display:inline-block;min-width:3.5em;color:#555;font-variant-numeric:tabular-nums}"
    "code{background:#eee;padding:0 .2em}input{max-width:60%}.pages a{margin-right:1em}"
    "table{border-collapse:collapse}td,th{padding:.2em .6em;text-align:left;border-bottom:1px solid #ddd}"
    "li form,td form{display:inline}.note{background:#eef6ee;padding:.4em .6em;white-space:pre-line}"
    // The admin page's boxes show a whole description and address where the page has room.
    "li form input[name=description]{width:24em}li form input[name=address]{width:18em}"
    ".refused{background:#fbe9e7;border-left:.3em solid #c62828;font-weight:bold}"
    "textarea{max-width:100%;box-sizing:border-box}svg.chart{max-width:100%;height:auto}"
    ".links td{overflow-wrap:anywhere}.links tr.dead td:nth-child(4){color:#c62828}.hint{color:#555}\n"
    // On a phone the rooms' and the links' tables become one block a row, each value under its name.
    "@media (max-width:40em){table.rooms,.rooms tbody,.rooms tr,.rooms td,table.links,.links tbody,.links tr,"
    ".links td{display:block}.rooms tr:first-child,.links tr:first-child{display:none}"
    ".rooms tr,.links tr{border-bottom:1px solid #ddd;padding:.4em 0}.rooms td,.links td{border:0;padding:.1em 0}"
    ".rooms td[data-label]::before,.links td[data-label]::before{content:attr(data-label) \": \";color:#555}"
    "li form{display:block;margin:.2em 0}li form input[name]{max-width:100%;width:100%;box-sizing:border-box}"
    ".rooms td[data-label]{margin:.2em 0}"
    "textarea{width:100%}}\n";

// The program's icon, for the browser's tab.
constexpr unsigned char Icon[] = {
#include "webicon.inc"
};

// An address is a link only for the schemes a person follows; anything else
// (javascript:, data:) is shown as text.
bool isFollowable(const QString &address)
{
    const QString scheme = address.section(u':', 0, 0).toLower();
    return address.contains(u':') &&
           (scheme == u"http" || scheme == u"https" || scheme == u"ftp" || scheme == u"mailto");
}

// The ETag of an answer is derived from its bytes: a page that changed, even
// across a restart, never matches a copy the browser holds.
QByteArray etagOf(const QByteArray &body)
{
    return '"' +
           QCryptographicHash::hash(body, QCryptographicHash::Blake2b_160)
               .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals) +
           '"';
}

// ?page=, as a number; anything else is the first page.
int pageNumber(const QByteArray &page)
{
    bool number = false;
    const int value = page.toInt(&number);
    return number ? value : 1;
}

QString htmlPage(const WebSnapshot &snapshot, const QString &query, int page)
{
    using WebPages::escapeHtml;
    const QList<int> found = WebPages::findItems(snapshot, query);
    const int items = snapshot.descriptions.ListCount();
    const int pages = WebPages::pageCount(found.size());
    page = std::clamp(page, 1, pages);

    QString html;
    html.reserve(64 * 1024);
    html += u"<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            u"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
            u"<title>Valdrin AIM Server v2</title><link rel=\"stylesheet\" href=\"/style.css\">"
            u"<link rel=\"icon\" type=\"image/png\" href=\"/favicon.ico\"></head><body>\n"
            u"<h1>Valdrin AIM Server v2</h1>\n"_s;
    if (!snapshot.serverMessage.isEmpty())
        html += u"<p class=\"message\">"_s + escapeHtml(snapshot.serverMessage) + u"</p>\n"_s;
    if (!snapshot.rooms.isEmpty()) {
        html += u"<h2>How to ask</h2><ul>\n"_s;
        for (const WebSnapshot::Room &room : snapshot.rooms) {
            const QString nick = escapeHtml(room.nick);
            const QString asking =
                room.irc
                    ? u"type <code>/say /%1 send N</code> (or <code>//%1 send N</code>) for item N, "
                      u"<code>/say /%1 send list</code> for the list"_s.arg(nick)
                    : u"type <code>/%1 send N</code> for item N, <code>/%1 send list</code> for the list"_s.arg(nick);
            html += u"<li>%1 %2: %3%4</li>\n"_s.arg(escapeHtml(room.connection), escapeHtml(room.room), asking,
                                                    room.serving ? QString() : u" (not served now)"_s);
        }
        html += u"</ul>\n"_s;
    }
    html += u"<form method=\"get\" action=\"/\"><input type=\"search\" name=\"q\" value=\"%1\" "
            u"aria-label=\"Search\"> <button type=\"submit\">Search</button></form>\n"_s.arg(escapeHtml(query));
    html += query.isEmpty() ? u"<p>%1 items</p>\n"_s.arg(found.size())
                            : u"<p>%1 of %2 items match</p>\n"_s.arg(found.size()).arg(items);
    html += u"<ol>\n"_s;
    const int first = (page - 1) * WebPages::ItemsPerPage;
    for (int index = first; index < std::min(int(found.size()), first + WebPages::ItemsPerPage); ++index) {
        const int item = found[index];
        const QString description = escapeHtml(snapshot.descriptions.List(item));
        const QString address = snapshot.addresses.List(item);
        html += u"<li><span class=\"n\">%1</span> "_s.arg(item);
        html += isFollowable(address)
                    ? u"<a href=\"%1\" rel=\"nofollow noopener\">%2</a>"_s.arg(escapeHtml(address), description)
                    : u"%1 <code>%2</code>"_s.arg(description, escapeHtml(address));
        html += u"</li>\n"_s;
    }
    html += u"</ol>\n"_s;
    html += WebPages::pageLinks("/", query, page, pages);
    html += u"</body></html>\n"_s;
    return html;
}

QByteArray catalogueJson(const WebSnapshot &snapshot)
{
    return CatalogueTransfer::write(snapshot.descriptions, snapshot.addresses, CatalogueTransfer::Format::Json);
}

// The list as members get it: "N) description", a line an item.
QByteArray catalogueText(const WebSnapshot &snapshot)
{
    QByteArray text;
    for (int item = 0; item < snapshot.descriptions.ListCount(); ++item)
        text += QByteArray::number(item) + ") " + snapshot.descriptions.utf8(item).toByteArray() + '\n';
    return text;
}

QByteArray readiness(const WebSnapshot &snapshot, bool *ready)
{
    QJsonArray notReady;
    for (const WebSnapshot::Room &room : snapshot.rooms) {
        if (room.joined && room.serving)
            continue;
        notReady.append(QJsonObject{{u"connection"_s, room.connection},
                                    {u"room"_s, room.room},
                                    {u"joined"_s, room.joined},
                                    {u"serving"_s, room.serving}});
    }
    *ready = notReady.isEmpty() && !snapshot.rooms.isEmpty();
    return QJsonDocument(QJsonObject{{u"ready"_s, *ready}, {u"notReady"_s, notReady}}).toJson(QJsonDocument::Compact);
}

} // namespace

namespace WebPages {

QString escapeHtml(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            escaped += u"&amp;"_s;
            break;
        case u'<':
            escaped += u"&lt;"_s;
            break;
        case u'>':
            escaped += u"&gt;"_s;
            break;
        case u'"':
            escaped += u"&quot;"_s;
            break;
        case u'\'':
            escaped += u"&#39;"_s;
            break;
        default:
            // Control characters have no business on the page.
            if (c.unicode() >= 0x20 || c == u'\n' || c == u'\t')
                escaped += c;
        }
    }
    return escaped;
}

QList<std::pair<QByteArray, QByteArray>> securityHeaders()
{
    return {{"Content-Security-Policy", "default-src 'self'; form-action 'self'; frame-ancestors 'none'"},
            {"X-Content-Type-Options", "nosniff"},
            {"Referrer-Policy", "no-referrer"},
            {"X-Frame-Options", "DENY"}};
}

void answerIfChanged(Response &response, const QByteArray &ifNoneMatch)
{
    for (const auto &[name, etag] : std::as_const(response.headers)) {
        if (name != "ETag")
            continue;
        for (const QByteArray &tag : ifNoneMatch.split(',')) {
            if (tag.trimmed() == etag || tag.trimmed() == "*") {
                response.status = 304;
                response.body.clear();
                return;
            }
        }
    }
}

Response methodNotAllowed()
{
    Response response;
    response.headers = securityHeaders();
    response.status = 405;
    response.headers.emplaceBack("Allow", "GET, HEAD");
    response.contentType = "text/plain; charset=utf-8";
    response.body = "Method not allowed\n";
    return response;
}

QList<int> findItems(const WebSnapshot &snapshot, const QString &query)
{
    const int items = snapshot.descriptions.ListCount();
    const QList<QByteArray> words = CatalogueSearch::wordsOf(query);
    if (words.isEmpty()) {
        QList<int> every(items);
        std::iota(every.begin(), every.end(), 0);
        return every;
    }
    if (snapshot.search)
        return snapshot.search->find(words, items).items;
    return CatalogueSearch(snapshot.descriptions, snapshot.addresses).find(words, items).items;
}

int pageCount(qsizetype items)
{
    return std::max(1, int((items + ItemsPerPage - 1) / ItemsPerPage));
}

int pageOf(const QByteArray &requested, qsizetype items)
{
    return std::clamp(pageNumber(requested), 1, pageCount(items));
}

QString pageLinks(const char *base, const QString &query, int page, int pages)
{
    if (pages <= 1)
        return {};
    const QString at =
        QString::fromLatin1(base) + u'?' +
        (query.isEmpty() ? QString() : u"q=%1&amp;"_s.arg(QString::fromLatin1(QUrl::toPercentEncoding(query))));
    QString links = u"<p class=\"pages\">"_s;
    if (page > 1)
        links += u"<a href=\"%1page=%2\" rel=\"prev\">Previous</a>"_s.arg(at).arg(page - 1);
    links += u"Page %1 of %2 "_s.arg(page).arg(pages);
    if (page < pages)
        links += u"<a href=\"%1page=%2\" rel=\"next\">Next</a>"_s.arg(at).arg(page + 1);
    return links + u"</p>\n"_s;
}

QByteArray cacheKey(const Request &request, const WebRoutes::Route &route)
{
    if (route.target != WebRoutes::Target::CataloguePage)
        return route.path;
    return QByteArray::number(pageNumber(request.page)) + ' ' + request.query.toUtf8();
}

Response download(const WebSnapshot &snapshot, CatalogueTransfer::Format format)
{
    Response response;
    response.headers = securityHeaders();
    response.headers.emplaceBack("Cache-Control", "no-store");
    const bool csv = format == CatalogueTransfer::Format::Csv;
    response.contentType = csv ? "text/csv; charset=utf-8" : "application/json; charset=utf-8";
    response.headers.emplaceBack("Content-Disposition", csv ? "attachment; filename=\"catalogue.csv\""
                                                            : "attachment; filename=\"catalogue.json\"");
    response.body = CatalogueTransfer::write(snapshot.descriptions, snapshot.addresses, format);
    return response;
}

Response respond(const WebSnapshot &snapshot, const Request &request)
{
    return respond(snapshot, request, WebRoutes::find(request.path));
}

Response respond(const WebSnapshot &snapshot, const Request &request, const WebRoutes::Route *route)
{
    if (request.method != "GET" && request.method != "HEAD")
        return methodNotAllowed();
    Response response;
    response.headers = securityHeaders();
    using WebRoutes::Target;
    const auto notFound = [&] {
        response.status = 404;
        response.contentType = "text/plain; charset=utf-8";
        response.body = "Not found\n";
        return response;
    };
    if (!route || route->admin || route->form)
        return notFound();
    switch (route->target) {
    case Target::Liveness:
        response.contentType = "text/plain; charset=utf-8";
        response.body = "ok\n";
        return response;
    case Target::Readiness: {
        bool ready = false;
        response.contentType = "application/json; charset=utf-8";
        response.body = readiness(snapshot, &ready);
        response.status = ready ? 200 : 503;
        return response;
    }
    case Target::CataloguePage:
        response.contentType = "text/html; charset=utf-8";
        response.body = htmlPage(snapshot, request.query, pageNumber(request.page)).toUtf8();
        break;
    case Target::CatalogueJson:
        response.contentType = "application/json; charset=utf-8";
        response.body = catalogueJson(snapshot);
        break;
    case Target::CatalogueText:
        response.contentType = "text/plain; charset=utf-8";
        response.body = catalogueText(snapshot);
        break;
    case Target::StyleSheet:
        response.contentType = "text/css; charset=utf-8";
        response.body = StyleSheet;
        break;
    case Target::Icon:
        response.contentType = "image/png";
        response.body = QByteArray::fromRawData(reinterpret_cast<const char *>(Icon), sizeof(Icon));
        break;
    default:
        // The figures are the face's (/metrics), the rest the admin page's.
        return notFound();
    }
    response.headers.emplaceBack("ETag", etagOf(response.body));
    response.headers.emplaceBack("Cache-Control", "no-cache");
    answerIfChanged(response, request.ifNoneMatch);
    // HEAD: the server sends these headers, and the body's length, without the body.
    return response;
}

} // namespace WebPages
