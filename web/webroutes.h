#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Every address the web face answers, in one table: what answers it, which
// method it takes, whether its answer is made once per published snapshot and
// kept, and whether it is behind the admin login. The HTTP thread looks a
// request up here once; nothing else compares paths.
namespace WebRoutes {

enum class Target {
    Liveness,
    Readiness,
    CataloguePage,
    CatalogueJson,
    CatalogueText,
    StyleSheet,
    Icon,
    Metrics,
    AdminPage,
    AdminLogin,
    AdminLogout,
    AdminAdd,
    AdminEdit,
    AdminRemove,
    AdminMessage,
    AdminRoom,
    AdminImport,
    AdminExportJson,
    AdminExportCsv,
};

struct Route
{
    const char *path;
    Target target;
    // A form posted with a body (POST); otherwise a page to get (GET, and HEAD
    // with GET's headers).
    bool form;
    // Made once per published snapshot and kept, with its ETag.
    bool cached;
    // Behind the admin login.
    bool admin;
};

// The route of a path (decoded, without the query); nullptr for none.
[[nodiscard]] const Route *find(QByteArrayView path);
// True for every address under /admin, in the table or not: the admin page
// answers those (an unknown one with its own "not a form of this page").
[[nodiscard]] bool isAdmin(QByteArrayView path);
[[nodiscard]] bool allows(const Route &route, QByteArrayView method);
// The Allow header of a 405 for the route.
[[nodiscard]] QByteArray allowed(const Route &route);

} // namespace WebRoutes
