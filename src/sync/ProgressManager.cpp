#include "sync/ProgressManager.h"

#include "support/MainQueue.h"

void ProgressManager::registerGlobalProgress(QObject *owner, Observer observer)
{
    QMutexLocker lock(&m_mutex);
    m_owner = owner;
    m_observer = std::move(observer);
}

void ProgressManager::progress(qint64 completed, qint64 total, const QString &)
{
    if (total <= 0)
        return;
    const float fraction = float(double(completed) / double(total));
    dispatchMain([this, fraction] {
        QMutexLocker lock(&m_mutex);
        if (!m_owner || !m_observer)
            return;
        const Observer observer = m_observer;
        lock.unlock();
        observer(fraction, false);
    });
}
