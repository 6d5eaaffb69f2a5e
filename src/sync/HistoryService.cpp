#include "sync/HistoryService.h"

#include "store/DBKeeper.h"
#include "sync/PushClipsManager.h"
#include "sync/PushLanePass.h"

HistoryService &HistoryService::sharedInstance()
{
    static auto *instance = new HistoryService;
    return *instance;
}

void HistoryService::process()
{
    runPushLanePass(
        m_lane, &DBKeeper::getUnProcessHistory,
        [](const HistoryModel &row, ClipCallback done) {
            if (row.history_id.value_or(0) != 0)
                PushClipsManager::sharedInstance().Put(row, std::move(done));
            else
                PushClipsManager::sharedInstance().Post(row, std::move(done));
        },
        [this] { next(); });
}
