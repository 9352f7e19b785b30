#include "web/requestdeadlines.h"

#include <algorithm>

#include <sys/socket.h>

RequestDeadlines::RequestDeadlines(std::chrono::milliseconds deadline, std::chrono::milliseconds idle)
    : m_deadline(deadline), m_idle(idle), m_thread([this](std::stop_token stop) { watch(std::move(stop)); })
{}

RequestDeadlines::~RequestDeadlines()
{
    m_thread.request_stop();
    m_wake.notify_all();
}

void RequestDeadlines::opened(MHD_Connection *connection, int socket)
{
    const std::lock_guard lock(m_mutex);
    m_connections.insert(connection, {socket, Clock::now(), true, false});
}

void RequestDeadlines::closed(MHD_Connection *connection)
{
    const std::lock_guard lock(m_mutex);
    m_connections.remove(connection);
}

void RequestDeadlines::requestIn(MHD_Connection *connection)
{
    const std::lock_guard lock(m_mutex);
    if (auto found = m_connections.find(connection); found != m_connections.end())
        found->inProgress = false;
}

void RequestDeadlines::requestDone(MHD_Connection *connection)
{
    const std::lock_guard lock(m_mutex);
    if (auto found = m_connections.find(connection); found != m_connections.end()) {
        found->inProgress = true;
        found->since = Clock::now() + m_idle;
    }
}

quint64 RequestDeadlines::cut() const
{
    const std::lock_guard lock(m_mutex);
    return m_cut;
}

void RequestDeadlines::watch(std::stop_token stop)
{
    // A tenth of the deadline between looks, so a request is cut at most 10 % late.
    const auto every = std::clamp(m_deadline / 10, std::chrono::milliseconds(50), std::chrono::milliseconds(1000));
    std::unique_lock lock(m_mutex);
    while (!stop.stop_requested()) {
        m_wake.wait_for(lock, stop, every, [] { return false; });
        const Clock::time_point late = Clock::now() - m_deadline;
        for (Waiting &waiting : m_connections) {
            if (waiting.inProgress && !waiting.shut && waiting.since < late) {
                ::shutdown(waiting.socket, SHUT_RDWR);
                waiting.shut = true;
                ++m_cut;
            }
        }
    }
}
