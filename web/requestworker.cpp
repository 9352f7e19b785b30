#include "web/requestworker.h"

RequestWorker::RequestWorker(std::shared_ptr<SuspendedRequests> suspended)
    : m_suspended(std::move(suspended)), m_thread([this](std::stop_token stop) { loop(std::move(stop)); })
{}

RequestWorker::~RequestWorker()
{
    m_thread.request_stop();
    m_wake.notify_all();
    m_thread.join();
}

bool RequestWorker::run(const MicroHttpd &mhd, MHD_Connection *connection, Work work)
{
    if (!m_suspended->suspend(mhd, connection))
        return false;
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back({&mhd, connection, std::move(work)});
    }
    m_wake.notify_one();
    return true;
}

void RequestWorker::loop(std::stop_token stop)
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
        const std::function<void()> deliver = job.work();
        m_suspended->finish(*job.mhd, job.connection, deliver);
    }
}
