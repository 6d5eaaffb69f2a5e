#pragma once

#include "store/HistoryModel.h"
#include "sync/PushClipsManager.h"

#include <QHash>

class SyncEngine;

// Sends one clip's favourite mark to the service ("/set_favourite/") and takes the service's answer: the
// later mark wins, ties go to the service; a clip the service does not have ("code" -4) is removed here. The
// callback runs on the main thread exactly once.
class SetFavouriteRequestManager final
{
    Q_DISABLE_COPY_MOVE(SetFavouriteRequestManager)

public:
    explicit SetFavouriteRequestManager(SyncEngine &sync);

    void setFavourite(const HistoryModel &record, ClipCallback callback);

private:
    SyncEngine &m_sync;
    QHash<QString, HistoryModel> m_favouriteTask; // in flight, by hash; only on the main thread
};
