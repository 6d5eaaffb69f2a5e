#include "sync/PushLanePass.h"

#include "store/ConfigureManager.h"
#include "support/MainQueue.h"
#include "sync/FileService.h"

void runPushLanePass(SyncLane &lane, const std::function<std::optional<HistoryModel>()> &pendingRow,
                     const std::function<void(const HistoryModel &row, ClipCallback done)> &send,
                     std::function<void()> again)
{
    if (!ConfigureManager::sharedInstance().isSignedIn()) {
        lane.setIsRunning(false);
        return;
    }
    if (!lane.tryStart())
        return;
    const std::optional<HistoryModel> record = pendingRow();
    if (!record || record->family() == ClipFamily::Other) {
        lane.setIsRunning(false);
        FileService::sharedInstance().process();
        return;
    }
    send(*record, [&lane, record = *record, again = std::move(again)](
                      const std::optional<QJsonObject> &, const std::optional<RequestError> &error) {
        lane.setIsRunning(false);
        if (error)
            return;
        record.return_to_zero_change_count();
        dispatchMain(again);
    });
}
