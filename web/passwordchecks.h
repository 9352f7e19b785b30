#pragma once

#include "web/suspendedrequests.h"

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

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
    // Finishes the check under way; the requests still waiting were resumed
    // when the face stopped (SuspendedRequests::close).
    ~PasswordChecks();
    PasswordChecks(const PasswordChecks &) = delete;
    PasswordChecks &operator=(const PasswordChecks &) = delete;

    // Suspends the request and checks the password; matches is set before the
    // request resumes. False when the face is stopping (not suspended).
    [[nodiscard]] bool check(const MicroHttpd &mhd, MHD_Connection *connection, QByteArray password,
                             std::shared_ptr<std::optional<bool>> matches);

private:
    struct Job
    {
        const MicroHttpd *mhd = nullptr;
        MHD_Connection *connection = nullptr;
        QByteArray password;
        std::shared_ptr<std::optional<bool>> matches;
    };
    void work(std::stop_token stop);

    const QByteArray m_hash;
    std::shared_ptr<SuspendedRequests> m_suspended;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::deque<Job> m_jobs;
    std::jthread m_thread;
};
