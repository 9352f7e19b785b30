#pragma once

#include "web/requestworker.h"

#include <QByteArray>

#include <memory>
#include <optional>

struct MHD_Connection;
struct MicroHttpd;

// Checks login passwords against the Argon2id hash on a thread of its own, one
// at a time: a check takes a tenth of a second and 64 MiB, so on the HTTP
// thread a handful of logins would hold up every other client. The request
// waits suspended and is resumed with the answer.
class PasswordChecks final
{
public:
    PasswordChecks(QByteArray hash, std::shared_ptr<SuspendedRequests> suspended);

    // Suspends the request and checks the password; matches is set before the
    // request resumes. False when the face is stopping (not suspended).
    [[nodiscard]] bool check(const MicroHttpd &mhd, MHD_Connection *connection, QByteArray password,
                             std::shared_ptr<std::optional<bool>> matches);

private:
    const QByteArray m_hash;
    RequestWorker m_worker;
};
