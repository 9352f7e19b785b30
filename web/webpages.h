#pragma once

#include "catalogue/cataloguetransfer.h"
#include "web/websnapshot.h"

namespace WebRoutes {
struct Route;
}

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

// The web face's pages, made from a snapshot: no sockets, no threads, so every
// page and every refusal is tested as a function.
namespace WebPages {

// Items on one page of the catalogue.
inline constexpr int ItemsPerPage = 200;

struct Request
{
    QByteArray method;
    QByteArray path; // decoded, without the query
    QString query;   // the search, ?q=
    QByteArray page; // ?page=, as sent
    QByteArray ifNoneMatch;
};

struct Response
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
};

// The answer to a request: a page, a refusal (404, 405), or 304 when the
// client's copy is current. HEAD gets GET's headers without the body.
[[nodiscard]] Response respond(const WebSnapshot &snapshot, const Request &request);
// The same, for a request whose route (WebRoutes::find) is known.
[[nodiscard]] Response respond(const WebSnapshot &snapshot, const Request &request, const WebRoutes::Route *route);

// The items whose description or address holds every word of the query
// (letter case and accents ignored, see CatalogueSearch), in order; every item
// for a query without words.
[[nodiscard]] QList<int> findItems(const WebSnapshot &snapshot, const QString &query);
// Pages of ItemsPerPage for a count of items (at least one), and ?page= as
// sent made a page that exists (anything but a number is the first page).
[[nodiscard]] int pageCount(qsizetype items);
[[nodiscard]] int pageOf(const QByteArray &requested, qsizetype items);

// "Previous", "Page 2 of 5", "Next" under a list of pages at base ("/",
// "/admin"), keeping the search; empty for a single page.
[[nodiscard]] QString pageLinks(const char *base, const QString &query, int page, int pages);

// What the answer to a request depends on, for the page cache: the route, and
// for the catalogue's page the search and the page number. Anything else in the
// address (?q= on the exports, a page number that is no number) changes nothing.
[[nodiscard]] QByteArray cacheKey(const Request &request, const WebRoutes::Route &route);

// The client's copy is current (If-None-Match names the response's ETag): the
// response becomes 304 without its body.
void answerIfChanged(Response &response, const QByteArray &ifNoneMatch);

// 405, for a method or a body no page takes.
[[nodiscard]] Response methodNotAllowed();
// The whole catalogue as a file to save (the admin page's downloads), in a
// form --import and the admin page's import read back.
[[nodiscard]] Response download(const WebSnapshot &snapshot, CatalogueTransfer::Format format);

// Text made safe to stand in HTML, as element text and in a quoted attribute.
[[nodiscard]] QString escapeHtml(const QString &text);

// The headers every answer carries: what the browser may load, and how.
[[nodiscard]] QList<std::pair<QByteArray, QByteArray>> securityHeaders();

} // namespace WebPages
