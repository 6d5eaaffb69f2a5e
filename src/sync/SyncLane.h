#pragma once

#include "store/SyncFailures.h"

#include <QTimer>

#include <functional>

class SyncEngine;

// One lane of sync work (the history rows, the favourite rows, the payload files): at most one
// transfer under way, started by process() while a user is signed in. The change marks in the
// store are the lane's queue, so its work survives restarts. What one pass sends is the
// lane's own; a pass ends with finish(). When the service cannot be reached the lane tries
// again by itself after a wait that doubles with each of its own tries, from 2 s to at most
// 5 min, and starts over after a transfer that went through; a clip that failed on its own waits for its own
// time (SyncFailures) while the lane goes on with the others. Main thread only.
class SyncLane final
{
public:
    // How a pass ended.
    enum class Outcome {
        Sent, // a transfer went through: the next pass is queued
        NothingLeft, // nothing to send now; clips that wait for their own time are tried then
        ClipFailed, // the clip failed on its own (and waits for its own time): the next pass is queued
        ServiceDown, // the service cannot be reached or cannot work now: the lane waits and tries again
        QuotaFull, // the account's storage is full: the lane waits and tries again
    };

    static constexpr int kFirstRetryMs = 2000;
    static constexpr int kLongestRetryMs = 5 * 60 * 1000;

    // Sends the lane's next item; calls lane.finish() once that transfer is over (at once when
    // there is nothing to send).
    using Pass = std::function<void(SyncLane &lane)>;

    SyncLane(SyncEngine &sync, SyncFailures::Lane kind, Pass pass);
    SyncLane(const SyncLane &) = delete;
    SyncLane &operator=(const SyncLane &) = delete;

    SyncFailures::Lane kind() const { return m_kind; }
    // Starts the next pass when signed in and idle; returns at once.
    void process();
    // The wait after a failure starts over and a pass starts now (the network or the broker
    // came back, the program started, the user asked).
    void retryNow();
    // What the lane's wait runs when it is over: the next pass, as the lane's own try.
    void retryDue();
    // Ends the pass under way.
    void finish(Outcome outcome);
    // Forgets the waits (sign-out).
    void reset();
    bool isRunning() const { return m_running; }
    // True while the lane waits to try again after the service failed.
    bool isWaitingForService() const { return m_serviceFailures > 0; }
    // The wait before the lane tries again after the next failure of the service.
    int nextRetryMs() const;
    // The time of the lane's next try by itself, if one is set.
    bool hasScheduledTry() const { return m_retry.isActive(); }

private:
    void tryAt(int milliseconds);

    SyncEngine &m_sync;
    SyncFailures::Lane m_kind;
    Pass m_pass;
    bool m_running = false;
    int m_serviceFailures = 0;
    // The timer waits after a failure of the service (not for a clip's own time).
    bool m_backingOff = false;
    QTimer m_retry;
};
