#pragma once

#include <QMutex>

// The running flag of one sync lane, set and tested under the lane's lock so that at most one
// transfer per lane is under way.
class SyncLane final
{
public:
    // True (and the flag set) when the lane was idle.
    bool tryStart()
    {
        QMutexLocker lock(&m_mutex);
        if (m_isRunning)
            return false;
        m_isRunning = true;
        return true;
    }
    void setIsRunning(bool running)
    {
        QMutexLocker lock(&m_mutex);
        m_isRunning = running;
    }
    bool isRunning() const
    {
        QMutexLocker lock(&m_mutex);
        return m_isRunning;
    }

private:
    mutable QMutex m_mutex;
    bool m_isRunning = false;
};
