#include "sync/SyncStatus.h"

#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/SyncFailures.h"
#include "support/Log.h"
#include "support/MainQueue.h"

#include <algorithm>

SyncStatus::SyncStatus(ConfigureManager &account, std::initializer_list<const SyncLane *> lanes,
                       QObject *parent)
    : QObject(parent)
    , m_account(account)
    , m_lanes(lanes)
{
    // A new account starts with no trouble.
    connect(&m_account, &ConfigureManager::signedOut, this, [this] {
        m_troubleSince = QDateTime();
        m_quotaFull = false;
        m_quotaTold = false;
        scheduleChanged();
    });
    connect(&m_account, &ConfigureManager::signedIn, this, &SyncStatus::scheduleChanged);
}

void SyncStatus::laneStarted()
{
    scheduleChanged();
}

void SyncStatus::laneFinished(SyncLane::Outcome outcome)
{
    const bool troubled =
        outcome == SyncLane::Outcome::ServiceDown || outcome == SyncLane::Outcome::QuotaFull;
    if (troubled) {
        if (!m_troubleSince.isValid())
            m_troubleSince = QDateTime::currentDateTime();
        m_quotaFull = outcome == SyncLane::Outcome::QuotaFull;
    }
    if (outcome == SyncLane::Outcome::QuotaFull && !m_quotaTold) {
        m_quotaTold = true;
        qCWarning(lcSync) << "the service's storage for this account is full; the lanes wait";
        Q_EMIT quotaFull();
    }
    if (outcome == SyncLane::Outcome::Sent)
        m_quotaTold = false;
    // The trouble is over once no lane waits for the service any more.
    if (std::none_of(m_lanes.begin(), m_lanes.end(),
                     [](const SyncLane *lane) { return lane->isWaitingForService(); })) {
        m_troubleSince = QDateTime();
        m_quotaFull = false;
    }
    scheduleChanged();
}

void SyncStatus::scheduleChanged()
{
    if (m_changeQueued)
        return;
    m_changeQueued = true;
    dispatchMain(this, [this] {
        m_changeQueued = false;
        Q_EMIT changed();
    });
}

SyncStatus::Snapshot SyncStatus::snapshot() const
{
    Snapshot status;
    if (!m_account.isSignedIn())
        return status;
    status.failed = int(SyncFailures::failedForGood().size());
    if (m_troubleSince.isValid()) {
        status.since = m_troubleSince;
        status.state = m_quotaFull ? State::QuotaFull : State::Unreachable;
        return status;
    }
    const bool busy =
        std::any_of(m_lanes.begin(), m_lanes.end(),
                    [](const SyncLane *lane) { return lane->isRunning() || lane->hasScheduledTry(); })
        || DBKeeper::getUnProcessHistory() || DBKeeper::getUnProcessFavourite()
        || DBKeeper::getFileProcessHistory();
    status.state = busy ? State::Sending : State::InSync;
    return status;
}
