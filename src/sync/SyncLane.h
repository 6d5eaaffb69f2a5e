#pragma once

#include <functional>

class SyncEngine;

// One lane of sync work (the history rows, the favourite rows, the payload files): at most one
// transfer under way, started by process() while a user is signed in. The change marks in the
// store are the lane's queue, so its work survives restarts. What one pass sends is the
// lane's own; a pass ends with finish(). Main thread only.
class SyncLane final
{
public:
    // Sends the lane's next item; calls lane.finish() once that transfer is over (at once when
    // there is nothing to send).
    using Pass = std::function<void(SyncLane &lane)>;

    SyncLane(SyncEngine &sync, Pass pass);
    SyncLane(const SyncLane &) = delete;
    SyncLane &operator=(const SyncLane &) = delete;

    // Starts the next pass when signed in and idle; returns at once.
    void process();
    // Ends the pass under way; with goOn, the next pass is queued.
    void finish(bool goOn);
    bool isRunning() const { return m_running; }

private:
    SyncEngine &m_sync;
    Pass m_pass;
    bool m_running = false;
};
