#pragma once

#include <QSet>

#include <functional>
#include <mutex>

struct MHD_Connection;
struct MicroHttpd;

// Requests that wait, suspended, for work done on another thread: an admin
// change on the chat thread, a password check on the checker's. Each is
// resumed once: when its work is done, or when the face stops, whichever comes
// first (then the work's result goes nowhere). Shared with those threads, so
// work finishing after the face is gone finds it closed.
class SuspendedRequests final
{
public:
    // Suspends the request; false when the face is stopping (it is not suspended).
    [[nodiscard]] bool suspend(const MicroHttpd &mhd, MHD_Connection *connection);
    // The request's work is done: deliver runs, and the request is resumed,
    // unless the face stopped meanwhile and resumed it already.
    void finish(const MicroHttpd &mhd, MHD_Connection *connection, const std::function<void()> &deliver);
    // The face is stopping: every suspended request is resumed now.
    void close(const MicroHttpd *mhd);

private:
    std::mutex m_mutex;
    bool m_open = true;
    QSet<MHD_Connection *> m_connections;
};
