#pragma once

#include "sync/SyncLane.h"

// Pushes the history rows changed on this computer, newest first, one request at a time, and
// hands over to the file service when none is left. The change marks in the store are the
// queue, so the work survives restarts.
class HistoryService final
{
    Q_DISABLE_COPY_MOVE(HistoryService)

public:
    static HistoryService &sharedInstance();

    // Starts the next push when signed in and idle; returns at once. Any thread.
    void process();
    void next() { process(); }
    bool isRunning() const { return m_lane.isRunning(); }
    void setIsRunning(bool running) { m_lane.setIsRunning(running); }

private:
    HistoryService() = default;

    SyncLane m_lane;
};
