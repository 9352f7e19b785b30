#pragma once

#include "web/adminchange.h"
#include "web/adminhandoff.h"
#include "web/suspendedrequests.h"
#include "web/webadmin.h"
#include "web/webface.h"
#include "web/webpages.h"
#include "web/webroutes.h"

#include <QHash>
#include <QPointer>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <variant>

struct MHD_Daemon;
struct MicroHttpd;
class PasswordChecks;
class RequestDeadlines;
class RequestWorker;

// What the HTTP thread reads and the chat thread publishes. The transport
// (webtransport.cpp) takes requests off the wire and hands them to answer();
// admin changes go to the chat thread through the hand-off (adminhandoff.cpp).
struct WebFace::Private
{
    // libmicrohttpd's functions, loaded when the face starts.
    const MicroHttpd *mhd = nullptr;
    MHD_Daemon *daemon = nullptr;
    // Requests not in by their deadline are cut (slow clients).
    std::unique_ptr<RequestDeadlines> deadlines;
    // Served over TLS: every answer tells the browser to keep to HTTPS.
    bool https = false;
    const WebMetrics *metrics = nullptr;
    std::unique_ptr<WebAdmin> admin;
    // Import forms being read now (one at a time): the HTTP thread's alone.
    int uploadsReading = 0;
    // Requests waiting for another thread: an admin change, a password check.
    std::shared_ptr<SuspendedRequests> suspended = std::make_shared<SuspendedRequests>();
    AdminHandoff handoff{suspended};
    std::unique_ptr<PasswordChecks> passwords;
    // Makes the pages the cache does not hold, so that no page (a search, the
    // whole catalogue as JSON) holds up the HTTP thread: health checks and
    // cached pages are answered meanwhile.
    std::unique_ptr<RequestWorker> pages;
    // Pages made from the current snapshot, by what they depend on
    // (WebPages::cacheKey), so the same page is made once; PageCacheBytes at
    // most, the oldest search dropped first. The HTTP thread's alone.
    struct PageCache
    {
        quint64 generation = 0;
        QHash<QByteArray, WebPages::Response> pages;
        std::deque<QByteArray> order; // the catalogue's pages, the oldest first
        qint64 bytes = 0;
    } cache;
    std::atomic<qint64> cachedBytes = 0;
    std::mutex mutex;
    std::shared_ptr<const WebSnapshot> snapshot = std::make_shared<WebSnapshot>();
    quint64 generation = 0;
    QByteArray certificate;
    QByteArray key;

    // A request as the transport read it.
    struct Incoming
    {
        WebPages::Request page; // method, path, search, page, If-None-Match
        QByteArray said;        // ?said=, for the admin page
        QByteArray cookies;
        QByteArray body;
        QString address; // the client's
        std::optional<WebAdmin::Upload> upload;
        [[nodiscard]] WebAdmin::Request admin() const
        {
            return {page.method, page.path, said, page.query, page.page, cookies, body, address, upload};
        }
    };
    // A login's password, to check off the HTTP thread.
    struct PasswordCheck
    {
        QByteArray password;
    };
    // A page of the cache's routes the cache does not hold, to make off the
    // HTTP thread (make()) and keep (keep()); or an admin download, to make there too.
    struct PageToMake
    {
        std::shared_ptr<const WebSnapshot> snapshot;
        WebPages::Request request;
        const WebRoutes::Route *route = nullptr;
        // The admin page's download of the catalogue, not kept.
        std::optional<CatalogueTransfer::Format> download;
        [[nodiscard]] WebPages::Response make() const;
    };
    // The answer to a request: a response now, or first an admin change to
    // make on the chat thread, a password to check or a page to make.
    using Answer = std::variant<WebPages::Response, AdminChange::Change, PasswordCheck, PageToMake>;
    [[nodiscard]] Answer answer(const WebRoutes::Route *route, const Incoming &request);

    // A page made off the HTTP thread goes into the cache, unless a newer
    // snapshot came meanwhile; the client's current copy gets 304.
    [[nodiscard]] WebPages::Response keep(const PageToMake &asked, WebPages::Response made);
    [[nodiscard]] std::shared_ptr<const WebSnapshot> current();
};
