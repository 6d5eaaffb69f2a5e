#pragma once

#include "sync/SyncLane.h"

#include <QDateTime>
#include <QList>
#include <QObject>

#include <initializer_list>

class ConfigureManager;

// Where this computer stands with the sync service, from what the lanes report: in sync,
// sending, or unable to reach the service (or finding the account's storage full) and since
// when; and how many clips failed for good. Main thread only.
class SyncStatus final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SyncStatus)

public:
    enum class State {
        SignedOut,
        InSync, // nothing waits to be sent or fetched
        Sending, // transfers are under way or wait for their turn
        Unreachable, // the service cannot be reached (or cannot work now); the lanes try again by themselves
        QuotaFull, // the account's storage on the service is full; the lanes try again by themselves
    };
    struct Snapshot {
        State state = State::SignedOut;
        // Since when the service could not be reached (or was full).
        QDateTime since;
        // Clips whose transfer failed for good.
        int failed = 0;
    };

    SyncStatus(ConfigureManager &account, std::initializer_list<const SyncLane *> lanes,
               QObject *parent = nullptr);

    Snapshot snapshot() const;

    // What the lanes report.
    void laneStarted();
    void laneFinished(SyncLane::Outcome outcome);

Q_SIGNALS:
    // The status changed (at most once per turn of the event loop).
    void changed();
    // The service refused a transfer because the account's storage is full. Once, until a
    // transfer goes through again.
    void quotaFull();

private:
    void scheduleChanged();

    ConfigureManager &m_account;
    QList<const SyncLane *> m_lanes;
    QDateTime m_troubleSince;
    bool m_quotaFull = false;
    bool m_quotaTold = false;
    bool m_changeQueued = false;
};
