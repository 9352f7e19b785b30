#include "web/adminhandoff.h"

#include <QMetaObject>

using namespace Qt::StringLiterals;

AdminHandoff::AdminHandoff(std::shared_ptr<SuspendedRequests> suspended) : m_suspended(std::move(suspended)) {}

void AdminHandoff::setRunner(QObject *context, std::function<AdminChange::Told(const AdminChange::Change &)> run)
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
    if (!m_suspended->suspend(mhd, connection)) {
        *refused = u"Nothing was changed: the server is stopping."_s;
        return false;
    }
    QMetaObject::invokeMethod(
        m_chat,
        [run = m_run, suspended = m_suspended, reply = std::move(reply), connection, change, mhd = &mhd] {
            const AdminChange::Told told = run(change);
            suspended->finish(*mhd, connection, [&] {
                reply->told = told;
                reply->done = true;
            });
        },
        Qt::QueuedConnection);
    return true;
}
