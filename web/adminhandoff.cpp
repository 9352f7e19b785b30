#include "web/adminhandoff.h"

#include "web/microhttpd.h"

#include <QMetaObject>

using namespace Qt::StringLiterals;

void AdminHandoff::setRunner(QObject *context, std::function<QString(const AdminChange::Change &)> run)
{
    m_chat = context;
    m_run = std::move(run);
}

bool AdminHandoff::handOver(const MicroHttpd &mhd, MHD_Connection *connection, std::shared_ptr<Reply> reply,
                            const AdminChange::Change &change, QString *refused)
{
    if (!m_chat || !m_run) {
        *refused = u"Nothing was changed: this server takes no changes."_s;
        return false;
    }
    std::shared_ptr<Waiting> waiting = m_waiting;
    {
        const std::lock_guard lock(waiting->mutex);
        if (!waiting->open) {
            *refused = u"Nothing was changed: the server is stopping."_s;
            return false;
        }
        waiting->connections.insert(connection);
    }
    mhd.suspend_connection(connection);
    QMetaObject::invokeMethod(
        m_chat,
        [run = m_run, waiting, reply = std::move(reply), connection, change, mhd = &mhd] {
            const QString told = run(change);
            const std::lock_guard lock(waiting->mutex);
            if (!waiting->open || !waiting->connections.remove(connection))
                return; // the face stopped meanwhile and answered it
            reply->told = told;
            reply->done = true;
            mhd->resume_connection(connection);
        },
        Qt::QueuedConnection);
    return true;
}

void AdminHandoff::close(const MicroHttpd *mhd)
{
    // Requests waiting for the chat thread are answered now: it will not get to them.
    const std::lock_guard lock(m_waiting->mutex);
    m_waiting->open = false;
    if (mhd) {
        for (MHD_Connection *connection : std::as_const(m_waiting->connections))
            mhd->resume_connection(connection);
    }
    m_waiting->connections.clear();
}
