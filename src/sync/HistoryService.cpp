#include "sync/HistoryService.h"

#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "support/MainQueue.h"
#include "sync/FileService.h"
#include "sync/PushClipsManager.h"

HistoryService &HistoryService::sharedInstance()
{
    static auto *instance = new HistoryService;
    return *instance;
}

void HistoryService::process()
{
    if (!ConfigureManager::sharedInstance().isLogined()) {
        m_lane.setIsRunning(false);
        return;
    }
    if (!m_lane.tryStart())
        return;
    const std::optional<HistoryModel> record = DBKeeper::getUnProcessHistory();
    if (!record || record->family() == ClipFamily::Other) {
        m_lane.setIsRunning(false);
        FileService::sharedInstance().process();
        return;
    }
    auto done = [this, record = *record](const std::optional<QJsonObject> &,
                                         const std::optional<RequestError> &error) {
        m_lane.setIsRunning(false);
        if (error)
            return;
        record.return_to_zero_change_count();
        dispatchMain([this] { next(); });
    };
    if (record->history_id.value_or(0) != 0)
        PushClipsManager::sharedInstance().Put(*record, std::move(done));
    else
        PushClipsManager::sharedInstance().Post(*record, std::move(done));
}
