#pragma once

#include <QHash>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct MHD_Connection;

// A request must be in within a deadline, whatever trickles in meanwhile: a
// client that sends one header line every few seconds would otherwise hold
// its connection for as long as it likes, and a few hundred such clients would
// hold every connection the server has. A thread of its own looks a few times
// a second and shuts the socket of every request still not in after the
// deadline; libmicrohttpd then closes the connection as one the client ended.
//
// opened, closed, requestIn and requestDone are called on the HTTP thread.
// closed comes before libmicrohttpd closes the socket, and the socket is shut
// under the same lock, so a socket number is never shut after its reuse.
class RequestDeadlines final
{
public:
    // A kept-alive connection may sit idle for idle after an answer before
    // its next request's clock starts (the first byte of that request cannot
    // be seen from here: libmicrohttpd reads it).
    explicit RequestDeadlines(std::chrono::milliseconds deadline,
                              std::chrono::milliseconds idle = std::chrono::milliseconds(0));
    ~RequestDeadlines();
    RequestDeadlines(const RequestDeadlines &) = delete;
    RequestDeadlines &operator=(const RequestDeadlines &) = delete;

    // A connection was accepted: its first request's clock starts.
    void opened(MHD_Connection *connection, int socket);
    void closed(MHD_Connection *connection);
    // The request is in (headers and any body): no deadline while it is answered.
    void requestIn(MHD_Connection *connection);
    // It was answered: the next request on the connection has the deadline
    // again, after the idle time a kept-alive connection is allowed.
    void requestDone(MHD_Connection *connection);
    // Connections cut so far.
    [[nodiscard]] quint64 cut() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Waiting
    {
        int socket = -1;
        Clock::time_point since;
        bool inProgress = true; // a request is being read
        bool shut = false;
    };
    void watch(std::stop_token stop);

    const std::chrono::milliseconds m_deadline;
    const std::chrono::milliseconds m_idle;
    mutable std::mutex m_mutex;
    std::condition_variable_any m_wake;
    QHash<MHD_Connection *, Waiting> m_connections;
    quint64 m_cut = 0;
    std::jthread m_thread;
};
