#include "sync/FavouriteService.h"

#include "store/DBKeeper.h"
#include "sync/PushClipsManager.h"
#include "sync/PushLanePass.h"
#include "sync/SetFavouriteRequestManager.h"

FavouriteService &FavouriteService::sharedInstance()
{
    static auto *instance = new FavouriteService;
    return *instance;
}

void FavouriteService::process()
{
    runPushLanePass(
        m_lane, &DBKeeper::getUnProcessFavourite,
        [](const HistoryModel &row, ClipCallback done) {
            if (row.history_id.value_or(0) != 0)
                SetFavouriteRequestManager::sharedInstance().setFavourite(row, std::move(done));
            else
                PushClipsManager::sharedInstance().Post(row, std::move(done));
        },
        [this] { process(); });
}
