#include "support/SerialWorker.h"

#include <QSemaphore>

namespace {
// The worker whose work runs on this thread now, if any.
thread_local const SerialWorker *t_running = nullptr;

// A pooled thread that has waited this long for work ends.
constexpr int kIdleExpiryMs = 5000;
} // namespace

SerialWorker::SerialWorker()
    : m_pool(new QThreadPool)
{
    m_pool->setMaxThreadCount(1);
    m_pool->setExpiryTimeout(kIdleExpiryMs);
}

SerialWorker::~SerialWorker()
{
    stop();
}

bool SerialWorker::stop(int waitMs)
{
    if (!m_pool)
        return true;
    m_pool->clear();
    if (!m_pool->waitForDone(waitMs)) {
        // Its destructor would wait for ever; the stuck thread ends with the process.
        m_pool = nullptr;
        return false;
    }
    delete m_pool;
    m_pool = nullptr;
    return true;
}

void SerialWorker::async(std::function<void()> fn)
{
    if (!m_pool)
        return;
    m_pool->start([this, fn = std::move(fn)] {
        t_running = this;
        fn();
        t_running = nullptr;
    });
}

void SerialWorker::sync(const std::function<void()> &fn)
{
    if (isCurrent()) {
        fn();
        return;
    }
    if (!m_pool)
        return;
    QSemaphore done;
    async([&] {
        fn();
        done.release();
    });
    done.acquire();
}

bool SerialWorker::isCurrent() const
{
    return t_running == this;
}
