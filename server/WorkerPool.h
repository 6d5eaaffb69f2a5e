#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of threads that run posted jobs. The HTTP front hands each complete request to
// it, so no thread waits on a slow network peer. Jobs are queued per client address and the
// addresses take turns: a client flooding the service waits behind its own requests, while
// another address's request waits for at most one job of each busy address. A job may be held
// until a given time without holding a thread.
class WorkerPool final
{
public:
    using Clock = std::chrono::steady_clock;

    explicit WorkerPool(int threads);
    // Runs the jobs still queued (held ones at once), then ends every thread.
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    void post(const QString &address, std::function<void()> job, Clock::time_point notBefore = {});

private:
    void run();
    void queue(const QString &address, std::function<void()> job);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    QHash<QString, std::deque<std::function<void()>>> m_queues;
    // Addresses with queued jobs, in the order they take their turns.
    std::deque<QString> m_turns;
    std::multimap<Clock::time_point, std::pair<QString, std::function<void()>>> m_held;
    bool m_stopping = false;
    bool m_keepingTime = false;
    std::vector<std::thread> m_threads;
};
