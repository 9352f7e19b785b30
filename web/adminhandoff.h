#pragma once

#include "web/adminchange.h"

#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

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
        QString told;
    };

    // Changes are made on context's thread by run, which answers with what to tell the operator.
    void setRunner(QObject *context, std::function<QString(const AdminChange::Change &)> run);
    // Suspends the request and sends the change to the chat thread; false
    // (with why) when it cannot go there: nothing to make changes, or stopping.
    bool handOver(const MicroHttpd &mhd, MHD_Connection *connection, std::shared_ptr<Reply> reply,
                  const AdminChange::Change &change, QString *refused);
    // The face is stopping: every suspended request is resumed (and answered
    // with its reply, if the change was made).
    void close(const MicroHttpd *mhd);

private:
    // What the HTTP thread and the chat thread share about suspended requests.
    struct Waiting
    {
        std::mutex mutex;
        bool open = true;
        QSet<MHD_Connection *> connections;
    };

    QPointer<QObject> m_chat;
    std::function<QString(const AdminChange::Change &)> m_run;
    std::shared_ptr<Waiting> m_waiting = std::make_shared<Waiting>();
};
