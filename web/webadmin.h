#pragma once

#include "web/adminchange.h"
#include "web/webpages.h"
#include "web/webroutes.h"
#include "web/websnapshot.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <chrono>
#include <optional>

// The admin pages behind a login: the password checked against an Argon2id
// hash, a session cookie (HttpOnly, SameSite=Strict, Secure under TLS) that
// expires, a CSRF token on every form, and failed logins limited per address.
// Used on the HTTP thread only.
class WebAdmin final
{
public:
    // Failed logins from one address within LockoutWindow lock it out for that long.
    static constexpr int FailuresAllowed = 5;
    static constexpr std::chrono::minutes LockoutWindow{15};
    static constexpr std::chrono::hours SessionLifetime{12};

    // How the page reaches the browser: by HTTPS; by plain HTTP on a loopback
    // address (the same machine, or a proxy there); or by plain HTTP over a
    // network, where a password would travel readable, so there is no admin page.
    enum class Channel { Https, HttpOnLoopback, HttpOnNetwork };

    // passwordHash empty: no admin.
    WebAdmin(QByteArray passwordHash, Channel channel);

    struct Request
    {
        QByteArray method;
        QByteArray path;
        QByteArray query;
        QByteArray cookies;
        QByteArray body;
        QString address; // the client's
    };
    struct Outcome
    {
        WebPages::Response response;
        // A change to make on the chat thread; then afterAction answers.
        std::optional<AdminChange::Change> change;
    };

    // A request to an address under /admin (WebRoutes::isAdmin); route is its
    // entry in the route table, nullptr for an address the table lacks.
    [[nodiscard]] Outcome handle(const WebSnapshot &snapshot, const Request &request, const WebRoutes::Route *route);
    // The answer once the chat thread made the change: back to the admin page, saying how it went.
    [[nodiscard]] static WebPages::Response afterAction(const QString &told);

    // A new Argon2id hash of a password, for http-admin-password-hash; empty when it failed.
    [[nodiscard]] static QByteArray hashPassword(const QByteArray &password);

private:
    struct Session
    {
        QByteArray csrf;
        std::chrono::steady_clock::time_point expires;
    };
    struct Failures
    {
        int count = 0;
        std::chrono::steady_clock::time_point since;
    };

    [[nodiscard]] WebPages::Response page(const WebSnapshot &snapshot, const Session &session,
                                          const QByteArray &query) const;
    [[nodiscard]] WebPages::Response loginPage(const QString &why, int status = 200) const;
    [[nodiscard]] WebPages::Response login(const Request &request, const QHash<QString, QString> &form);
    [[nodiscard]] QByteArray cookie(const QByteArray &name, const QByteArray &value, int maxAgeSeconds) const;

    QByteArray m_hash;
    Channel m_channel;
    QHash<QByteArray, Session> m_sessions;
    QHash<QString, Failures> m_failures;
};
