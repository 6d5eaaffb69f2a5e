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
    {
        std::lock_guard lock(m_mutex);
        if (notBefore > Clock::now())
            m_held.emplace(notBefore, std::make_pair(address, std::move(job)));
        else
            queue(address, std::move(job));
    }
    m_wake.notify_all();
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
                if (m_held.empty())
                    m_wake.wait(lock);
                else
                    m_wake.wait_until(lock, m_held.begin()->first);
            }
            if (m_turns.empty())
                return;
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
