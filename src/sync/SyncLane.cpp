#include "sync/SyncLane.h"

#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "support/Clock.h"
#include "support/MainQueue.h"
#include "sync/SyncEngine.h"

#include <algorithm>
#include <cmath>

namespace {

// A clip that fell due while the lane looked for work is taken at the next turn of the loop.
constexpr int kShortestWaitMs = 50;

} // namespace

SyncLane::SyncLane(SyncEngine &sync, SyncFailures::Lane kind, Pass pass)
    : m_sync(sync)
    , m_kind(kind)
    , m_pass(std::move(pass))
{
    m_retry.setSingleShot(true);
    QObject::connect(&m_retry, &QTimer::timeout, &m_sync, [this] { retryDue(); });
}

void SyncLane::process()
{
    if (!m_sync.account().isSignedIn()) {
        m_running = false;
        return;
    }
    if (m_running)
        return;
    m_running = true;
    m_sync.status().laneStarted();
    m_pass(*this);
}

void SyncLane::retryNow()
{
    m_serviceFailures = 0;
    m_retry.stop();
    process();
}

void SyncLane::retryDue()
{
    m_retry.stop();
    process();
}

void SyncLane::reset()
{
    m_serviceFailures = 0;
    m_retry.stop();
}

int SyncLane::nextRetryMs() const
{
    // 2 s, 4 s, 8 s ... up to 5 min; the shift stops before it could overflow.
    const int doublings = std::min(m_serviceFailures, 20);
    return int(std::min<qint64>(qint64(kFirstRetryMs) << doublings, kLongestRetryMs));
}

void SyncLane::tryAt(int milliseconds)
{
    // An earlier try that is already set stays.
    if (m_retry.isActive() && m_retry.remainingTime() <= milliseconds)
        return;
    m_backingOff = false;
    m_retry.start(std::max(0, milliseconds));
}

void SyncLane::finish(Outcome outcome)
{
    m_running = false;
    switch (outcome) {
    case Outcome::Sent:
    case Outcome::ClipFailed:
        if (outcome == Outcome::Sent) {
            m_serviceFailures = 0;
            m_retry.stop();
        }
        // Queued, so that a long run of items never nests one pass inside another.
        dispatchMain(&m_sync, [this] { process(); });
        break;
    case Outcome::NothingLeft:
        m_serviceFailures = 0;
        m_retry.stop();
        // Clips that wait for their own time are tried when the first of them is due.
        if (const std::optional<double> due = DBKeeper::nextRetryTime(m_kind)) {
            const double wait = std::ceil((*due - Clock::nowSeconds()) * 1000.0);
            tryAt(int(std::clamp(wait, double(kShortestWaitMs), double(kLongestRetryMs))));
        }
        break;
    case Outcome::ServiceDown:
    case Outcome::QuotaFull:
        // A pass that an event started (a copy, a pull) while the lane waits leaves the wait as
        // it is: only the lane's own tries make it longer, so that copying while the service is
        // down does not put its return further off.
        if (!(m_retry.isActive() && m_backingOff)) {
            m_retry.start(nextRetryMs());
            m_backingOff = true;
            ++m_serviceFailures;
        }
        break;
    }
    m_sync.status().laneFinished(outcome);
}
