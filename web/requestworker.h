#pragma once

#include "web/suspendedrequests.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct MHD_Connection;
struct MicroHttpd;

// Work for a request done on a thread of its own, one job at a time, while the
// request waits suspended: the HTTP thread goes on answering everyone else
// (health checks above all) however long the job takes.
class RequestWorker final
{
public:
    // Runs on the worker's thread; returns what hands its result to the
    // request, which runs only while the request still waits.
    using Work = std::function<std::function<void()>()>;

    explicit RequestWorker(std::shared_ptr<SuspendedRequests> suspended);
    // Finishes the job under way; the requests of the others were resumed when
    // the face stopped (SuspendedRequests::close), and their jobs are dropped.
    ~RequestWorker();
    RequestWorker(const RequestWorker &) = delete;
    RequestWorker &operator=(const RequestWorker &) = delete;

    // Suspends the request and queues its work; the request resumes once the
    // work is done. False when the face is stopping (nothing is suspended).
    [[nodiscard]] bool run(const MicroHttpd &mhd, MHD_Connection *connection, Work work);

private:
    struct Job
    {
        const MicroHttpd *mhd = nullptr;
        MHD_Connection *connection = nullptr;
        Work work;
    };
    void loop(std::stop_token stop);

    std::shared_ptr<SuspendedRequests> m_suspended;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::deque<Job> m_jobs;
    std::jthread m_thread;
};
