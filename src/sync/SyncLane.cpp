#include "sync/SyncLane.h"

#include "store/ConfigureManager.h"
#include "support/MainQueue.h"
#include "sync/SyncEngine.h"

SyncLane::SyncLane(SyncEngine &sync, Pass pass)
    : m_sync(sync)
    , m_pass(std::move(pass))
{ }

void SyncLane::process()
{
    if (!m_sync.account().isSignedIn()) {
        m_running = false;
        return;
    }
    if (m_running)
        return;
    m_running = true;
    m_pass(*this);
}

void SyncLane::finish(bool goOn)
{
    m_running = false;
    // Queued, so that a long run of items never nests one pass inside another.
    if (goOn)
        dispatchMain(&m_sync, [this] { process(); });
}
