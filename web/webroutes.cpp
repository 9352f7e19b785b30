#include "web/webroutes.h"

#include <array>

namespace WebRoutes {

namespace {

constexpr std::array Routes{
    // Health first: never cached.
    Route{"/livez", Target::Liveness, false, false, false},
    Route{"/readyz", Target::Readiness, false, false, false},
    Route{"/metrics", Target::Metrics, false, false, false},
    Route{"/", Target::CataloguePage, false, true, false},
    Route{"/catalogue.json", Target::CatalogueJson, false, true, false},
    Route{"/catalogue.txt", Target::CatalogueText, false, true, false},
    Route{"/style.css", Target::StyleSheet, false, true, false},
    Route{"/favicon.ico", Target::Icon, false, true, false},
    Route{"/admin", Target::AdminPage, false, false, true},
    Route{"/admin/login", Target::AdminLogin, true, false, true},
    Route{"/admin/logout", Target::AdminLogout, true, false, true},
    Route{"/admin/add", Target::AdminAdd, true, false, true},
    Route{"/admin/edit", Target::AdminEdit, true, false, true},
    Route{"/admin/remove", Target::AdminRemove, true, false, true},
    Route{"/admin/message", Target::AdminMessage, true, false, true},
    Route{"/admin/room", Target::AdminRoom, true, false, true},
    // A catalogue file sent from the browser (multipart/form-data).
    Route{"/admin/import", Target::AdminImport, true, false, true},
    Route{"/admin/catalogue.json", Target::AdminExportJson, false, false, true},
    Route{"/admin/catalogue.csv", Target::AdminExportCsv, false, false, true},
};

} // namespace

const Route *find(QByteArrayView path)
{
    for (const Route &route : Routes) {
        if (path == QByteArrayView(route.path))
            return &route;
    }
    return nullptr;
}

bool isAdmin(QByteArrayView path)
{
    return path == "/admin" || path.startsWith("/admin/");
}

bool allows(const Route &route, QByteArrayView method)
{
    return route.form ? method == "POST" : (method == "GET" || method == "HEAD");
}

QByteArray allowed(const Route &route)
{
    return route.form ? QByteArray("POST") : QByteArray("GET, HEAD");
}

} // namespace WebRoutes
