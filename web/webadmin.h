#pragma once

#include "catalogue/cataloguetransfer.h"
#include "web/adminchange.h"
#include "web/webpages.h"
#include "web/webroutes.h"
#include "web/websnapshot.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <chrono>
#include <deque>
#include <optional>

// The admin pages behind a login: the password checked against an Argon2id
// hash (off the HTTP thread), a session cookie (HttpOnly, SameSite=Strict,
// Secure under TLS) that expires, a CSRF token on every form, failed logins
// limited per address and logins limited in all. Every change names the item
// it changes by what the page showed, not only by its number. Used on the HTTP
// thread only.
class WebAdmin final
{
public:
    // Five wrong passwords from one address lock it out for LockoutWindow from
    // the fifth; failures older than LockoutWindow are forgotten.
    static constexpr int FailuresAllowed = 5;
    static constexpr std::chrono::minutes LockoutWindow{15};
    // Logins checked a minute, from every address together: a check costs a
    // tenth of a second and 64 MiB, and many addresses each under the lockout
    // would otherwise keep the checker busy for good.
    static constexpr int LoginsPerMinute = 30;
    // Beyond those, so a flood cannot keep the operator out: a browser that
    // logged in here before (it holds a signed device cookie, kept for
    // DeviceLifetime) has checks of its own, and so, fewer, has an address
    // with no wrong password in the last LockoutWindow. Each fresh address of
    // a flood spends at most one of the second kind before it is known.
    static constexpr int DeviceLoginsPerMinute = 10;
    static constexpr int CleanAddressLoginsPerMinute = 30;
    static constexpr std::chrono::days DeviceLifetime{90};
    static constexpr std::chrono::hours SessionLifetime{12};
    // The largest catalogue file the import form takes; one upload at a
    // time, and only from a browser that is logged in.
    static constexpr qsizetype ImportBytesAtMost = 16 * 1024 * 1024;

    // How the page reaches the browser: by HTTPS; by plain HTTP on a loopback
    // address (the same machine, or a proxy there); or by plain HTTP over a
    // network, where a password would travel readable, so there is no admin page.
    enum class Channel { Https, HttpOnLoopback, HttpOnNetwork };

    // passwordHash empty: no admin.
    WebAdmin(QByteArray passwordHash, Channel channel);

    // A form sent as multipart/form-data (the import's): its fields, and the file.
    struct Upload
    {
        QHash<QString, QString> fields;
        QString fileName;
        QByteArray file;
    };
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QByteArray said; // ?said=: a notice of this session's
        QString search;  // ?q=
        QByteArray page; // ?page=, as sent
        QByteArray cookies;
        QByteArray body;
        QString address; // the client's
        std::optional<Upload> upload;
    };
    struct Outcome
    {
        WebPages::Response response;
        // A change to make on the chat thread; then afterAction answers.
        std::optional<AdminChange::Change> change;
        // A login's password, to check off the HTTP thread; then loginChecked answers.
        std::optional<QByteArray> password;
        // The catalogue to download in this format, made off the HTTP thread
        // (WebPages::download).
        std::optional<CatalogueTransfer::Format> download;
    };

    // A request to an address under /admin (WebRoutes::isAdmin); route is its
    // entry in the route table, nullptr for an address the table lacks.
    [[nodiscard]] Outcome handle(const WebSnapshot &snapshot, const Request &request, const WebRoutes::Route *route);
    // The answer to a login once its password was checked: matches is empty
    // when the check was not made (the server is stopping).
    [[nodiscard]] WebPages::Response loginChecked(const Request &request, std::optional<bool> matches);
    // The answer once the chat thread made the change: back to the admin page,
    // at the item the change left in view, saying how it went.
    [[nodiscard]] WebPages::Response afterAction(const Request &request, const AdminChange::Told &told);

    [[nodiscard]] const QByteArray &passwordHash() const { return m_hash; }
    // A session of the cookies is logged in: only then is a large upload read.
    [[nodiscard]] bool isLoggedIn(const QByteArray &cookies) const;

private:
    using Clock = std::chrono::steady_clock;
    struct Session
    {
        QByteArray csrf;
        Clock::time_point expires;
        // What the server told after each change, by the code the page's
        // address names: the page shows only texts of its own.
        QList<std::pair<QByteArray, AdminChange::Told>> notices;
    };
    struct Failures
    {
        int count = 0;
        int checking = 0; // passwords of the address being checked now
        Clock::time_point since;
        Clock::time_point lockedUntil;
    };

    [[nodiscard]] WebPages::Response page(const WebSnapshot &snapshot, const Session &session,
                                          const Request &request) const;
    // Remove asks first, on a page of its own (no script).
    [[nodiscard]] WebPages::Response confirmRemove(const Session &session, const QHash<QString, QString> &form) const;
    [[nodiscard]] WebPages::Response loginPage(const QString &why, int status = 200) const;
    [[nodiscard]] Outcome login(const Request &request, const QHash<QString, QString> &form);
    [[nodiscard]] QHash<QByteArray, Session>::iterator session(const Request &request);
    [[nodiscard]] QByteArray cookie(const QByteArray &name, const QByteArray &value, int maxAgeSeconds) const;
    // A device cookie's value: a random name and its signature under a key
    // derived from the password hash (a new password forgets every device).
    [[nodiscard]] QByteArray signedDevice(const QByteArray &name) const;
    [[nodiscard]] bool isKnownDevice(const QByteArray &cookieValue) const;

    QByteArray m_hash;
    Channel m_channel;
    QHash<QByteArray, Session> m_sessions;
    QHash<QString, Failures> m_failures;
    QByteArray m_deviceKey;
    // Logins checked within the last minute: within the cap, for known
    // devices, for addresses with no failure.
    std::deque<Clock::time_point> m_logins;
    std::deque<Clock::time_point> m_deviceLogins;
    std::deque<Clock::time_point> m_cleanLogins;
};
