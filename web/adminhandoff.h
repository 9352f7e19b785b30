#pragma once

#include "web/adminchange.h"
#include "web/suspendedrequests.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

struct MHD_Connection;
struct MicroHttpd;

// Hands the admin page's changes to the chat thread: the request waits,
// suspended, and is resumed when the change is made, or when the face stops
// (then the chat thread's answer goes nowhere).
class AdminHandoff final
{
public:
    // What a suspended request learns when it is resumed.
    struct Reply
    {
        bool done = false;
        AdminChange::Told told;
    };

    explicit AdminHandoff(std::shared_ptr<SuspendedRequests> suspended);
    // Changes are made on context's thread by run, which answers with what to tell the operator.
    void setRunner(QObject *context, std::function<AdminChange::Told(const AdminChange::Change &)> run);
    // Suspends the request and sends the change to the chat thread; false
    // (with why) when it cannot go there: nothing to make changes, or stopping.
    bool handOver(const MicroHttpd &mhd, MHD_Connection *connection, std::shared_ptr<Reply> reply,
                  const AdminChange::Change &change, QString *refused);

private:
    std::shared_ptr<SuspendedRequests> m_suspended;
    QPointer<QObject> m_chat;
    std::function<AdminChange::Told(const AdminChange::Change &)> m_run;
};
