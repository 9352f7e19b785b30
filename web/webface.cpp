#include "web/webface.h"

#include "web/passwordchecks.h"
#include "web/requestdeadlines.h"
#include "web/requestworker.h"
#include "web/webadmin.h"
#include "web/webfaceprivate.h"
#include "web/webmetrics.h"
#include "web/webtransport.h"

WebPages::Response WebFace::Private::PageToMake::make() const
{
    if (download)
        return WebPages::download(*snapshot, *download);
    WebPages::Request plain = request;
    plain.method = "GET";
    plain.ifNoneMatch.clear();
    return WebPages::respond(*snapshot, plain, route);
}

WebPages::Response WebFace::Private::keep(const PageToMake &asked, WebPages::Response made)
{
    if (!asked.route->cached)
        return made;
    const quint64 generation = asked.snapshot->generation;
    if (cache.generation < generation) {
        cache = PageCache{generation, {}, {}, 0};
        cachedBytes = 0;
    }
    const QByteArray key = WebPages::cacheKey(asked.request, *asked.route);
    const qint64 size = made.body.size() + key.size();
    if (cache.generation == generation && !cache.pages.contains(key)) {
        while (!cache.order.empty() && cache.bytes + size > WebFace::PageCacheBytes) {
            cache.bytes -= cache.pages.value(cache.order.front()).body.size() + cache.order.front().size();
            cache.pages.remove(cache.order.front());
            cache.order.pop_front();
        }
        if (cache.bytes + size <= WebFace::PageCacheBytes) {
            cache.bytes += size;
            // The exports and the style sheet are made once per snapshot and
            // kept; the pages of searches make way for newer ones.
            if (asked.route->target == WebRoutes::Target::CataloguePage)
                cache.order.push_back(key);
            cache.pages.insert(key, made);
        }
        cachedBytes = cache.bytes;
    }
    WebPages::answerIfChanged(made, asked.request.ifNoneMatch);
    return made;
}

std::shared_ptr<const WebSnapshot> WebFace::Private::current()
{
    const std::lock_guard lock(mutex);
    return snapshot;
}

WebFace::Private::Answer WebFace::Private::answer(const WebRoutes::Route *route, const Incoming &request)
{
    const std::shared_ptr<const WebSnapshot> snapshot = current();
    if (WebRoutes::isAdmin(request.page.path) && admin) {
        WebAdmin::Outcome outcome = admin->handle(*snapshot, request.admin(), route);
        if (outcome.change)
            return std::move(*outcome.change);
        if (outcome.password)
            return PasswordCheck{std::move(*outcome.password)};
        if (outcome.download)
            return PageToMake{snapshot, request.page, route, outcome.download};
        return outcome.response;
    }
    if (route && route->target == WebRoutes::Target::Metrics && metrics &&
        WebRoutes::allows(*route, request.page.method)) {
        WebPages::Response response;
        response.headers = WebPages::securityHeaders();
        response.contentType = "text/plain; version=0.0.4; charset=utf-8";
        response.body = metrics->text();
        return response;
    }
    const bool cacheable = route && route->cached && (request.page.method == "GET" || request.page.method == "HEAD");
    if (!cacheable)
        return WebPages::respond(*snapshot, request.page, route);
    if (cache.generation == snapshot->generation) {
        const auto found = cache.pages.constFind(WebPages::cacheKey(request.page, *route));
        if (found != cache.pages.cend()) {
            WebPages::Response response = *found;
            WebPages::answerIfChanged(response, request.page.ifNoneMatch);
            return response;
        }
    }
    return PageToMake{snapshot, request.page, route, {}};
}

WebFace::WebFace() : d(std::make_unique<Private>()) {}

WebFace::~WebFace()
{
    stop();
}

QString WebFace::start(const Settings &settings)
{
    return WebTransport::start(*d, settings);
}

void WebFace::stop()
{
    WebTransport::stop(*d);
}

quint16 WebFace::port() const
{
    return WebTransport::port(*d);
}

qint64 WebFace::cachedBytes() const
{
    return d->cachedBytes;
}

void WebFace::setMetrics(const WebMetrics *metrics)
{
    d->metrics = metrics;
}

void WebFace::setAdminRunner(QObject *context, std::function<AdminChange::Told(const AdminChange::Change &)> run)
{
    d->handoff.setRunner(context, std::move(run));
}

void WebFace::publish(WebSnapshot snapshot)
{
    const std::lock_guard lock(d->mutex);
    snapshot.generation = ++d->generation;
    if (!snapshot.search)
        snapshot.search = std::make_shared<const CatalogueSearch>(snapshot.descriptions, snapshot.addresses);
    d->snapshot = std::make_shared<const WebSnapshot>(std::move(snapshot));
}
