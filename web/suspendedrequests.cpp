#include "web/suspendedrequests.h"

#include "web/microhttpd.h"

bool SuspendedRequests::suspend(const MicroHttpd &mhd, MHD_Connection *connection)
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_open)
            return false;
        m_connections.insert(connection);
    }
    mhd.suspend_connection(connection);
    return true;
}

void SuspendedRequests::finish(const MicroHttpd &mhd, MHD_Connection *connection, const std::function<void()> &deliver)
{
    const std::lock_guard lock(m_mutex);
    if (!m_open || !m_connections.remove(connection))
        return; // the face stopped meanwhile and answered it
    deliver();
    mhd.resume_connection(connection);
}

void SuspendedRequests::close(const MicroHttpd *mhd)
{
    const std::lock_guard lock(m_mutex);
    m_open = false;
    if (mhd) {
        for (MHD_Connection *connection : std::as_const(m_connections))
            mhd->resume_connection(connection);
    }
    m_connections.clear();
}
