#include "sync/FavouriteService.h"

#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "support/MainQueue.h"
#include "sync/FileService.h"
#include "sync/PushClipsManager.h"
#include "sync/SetFavouriteRequestManager.h"

FavouriteService &FavouriteService::sharedInstance()
{
    static auto *instance = new FavouriteService;
    return *instance;
}

void FavouriteService::process()
{
    if (!ConfigureManager::sharedInstance().isLogined()) {
        m_lane.setIsRunning(false);
        return;
    }
    if (!m_lane.tryStart())
        return;
    const std::optional<HistoryModel> record = DBKeeper::getUnProcessFavourite();
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
        dispatchMain([this] { process(); });
    };
    if (record->history_id.value_or(0) != 0)
        SetFavouriteRequestManager::sharedInstance().setFavourite(*record, std::move(done));
    else
        PushClipsManager::sharedInstance().Post(*record, std::move(done));
}
