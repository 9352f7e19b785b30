#include "web/passwordchecks.h"

#include <sodium.h>

PasswordChecks::PasswordChecks(QByteArray hash, std::shared_ptr<SuspendedRequests> suspended)
    : m_hash(std::move(hash)), m_suspended(std::move(suspended)),
      m_thread([this](std::stop_token stop) { work(std::move(stop)); })
{}

PasswordChecks::~PasswordChecks()
{
    m_thread.request_stop();
    m_wake.notify_all();
    m_thread.join();
    for (Job &job : m_jobs)
        sodium_memzero(job.password.data(), size_t(job.password.size()));
}

bool PasswordChecks::check(const MicroHttpd &mhd, MHD_Connection *connection, QByteArray password,
                           std::shared_ptr<std::optional<bool>> matches)
{
    if (!m_suspended->suspend(mhd, connection))
        return false;
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back({&mhd, connection, std::move(password), std::move(matches)});
    }
    m_wake.notify_one();
    return true;
}

void PasswordChecks::work(std::stop_token stop)
{
    while (true) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait(lock, stop, [this] { return !m_jobs.empty(); }))
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        const bool matches =
            crypto_pwhash_str_verify(m_hash.constData(), job.password.constData(), quint64(job.password.size())) == 0;
        // The password leaves no copy behind in this thread's memory.
        sodium_memzero(job.password.data(), size_t(job.password.size()));
        m_suspended->finish(*job.mhd, job.connection, [&] { *job.matches = matches; });
    }
}
