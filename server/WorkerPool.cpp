#include "WorkerPool.h"

WorkerPool::WorkerPool(int threads)
{
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

void WorkerPool::queue(const QString &address, std::function<void()> job)
{
    auto &jobs = m_queues[address];
    if (jobs.empty())
        m_turns.push_back(address);
    jobs.push_back(std::move(job));
}

void WorkerPool::post(const QString &address, std::function<void()> job, Clock::time_point notBefore)
{
    bool wakeAll = false;
    {
        std::lock_guard lock(m_mutex);
        if (notBefore > Clock::now()) {
            // The thread keeping time must wake earlier for a job due before the others.
            wakeAll = m_held.empty() || notBefore < m_held.begin()->first;
            m_held.emplace(notBefore, std::make_pair(address, std::move(job)));
        } else {
            queue(address, std::move(job));
        }
    }
    if (wakeAll)
        m_wake.notify_all();
    else
        m_wake.notify_one();
}

void WorkerPool::run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            for (;;) {
                // Held jobs whose time has come (all of them when stopping) join their queues.
                const auto now = Clock::now();
                while (!m_held.empty() && (m_stopping || m_held.begin()->first <= now)) {
                    auto &[address, held] = m_held.begin()->second;
                    queue(address, std::move(held));
                    m_held.erase(m_held.begin());
                }
                if (!m_turns.empty() || m_stopping)
                    break;
                // One thread keeps time for the held jobs; the others sleep until there is work.
                if (!m_held.empty() && !m_keepingTime) {
                    m_keepingTime = true;
                    m_wake.wait_until(lock, m_held.begin()->first);
                    m_keepingTime = false;
                } else {
                    m_wake.wait(lock);
                }
            }
            if (m_turns.empty())
                return;
            // Another thread takes over keeping time while this one works.
            if (!m_held.empty() || m_turns.size() > 1)
                m_wake.notify_one();
            const QString address = m_turns.front();
            m_turns.pop_front();
            auto jobs = m_queues.find(address);
            job = std::move(jobs->front());
            jobs->pop_front();
            if (jobs->empty())
                m_queues.erase(jobs);
            else
                m_turns.push_back(address);
        }
        job();
    }
}
