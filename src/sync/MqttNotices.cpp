#include "sync/MqttNotices.h"

#include "store/ClipFileManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryModel.h"
#include "sync/FavouriteMerge.h"
#include "sync/PushClipsManager.h"
#include "sync/RemoteRecord.h"
#include "sync/ReplyChecks.h"
#include "sync/RequestManager.h"
#include "sync/SyncEngine.h"

namespace MqttNotices {

namespace {

int integer(const QJsonValue &value)
{
    // The service sends numbers; a number written as text is read the same way.
    return int(value.isString() ? value.toString().toLongLong() : value.toInteger());
}

void storeFetched(const QJsonObject &reply, SyncEngine &sync)
{
    if (RequestManager::replyCode(reply) != 0)
        return;
    const QJsonObject history = reply.value(QStringLiteral("history")).toObject();
    std::optional<HistoryModel> record = HistoryModel::fromJson(history);
    if (!record || !isClipHash(record->hash()))
        return;
    record->category = Category::history;
    record->file_ready = integer(history.value(QStringLiteral("file_ready")));
    record->file_size = double(integer(history.value(QStringLiteral("file_size"))));
    record->local_file_ok = 0;
    record->save();
    sync.announceHistoryChanged();
    sync.historyLane().process();
}

} // namespace

void applyDelete(const QJsonObject &data, SyncEngine &sync)
{
    const QString hash = data.value(QStringLiteral("file_hash")).toString();
    // A hash names files in our folders, so only a well-formed one is used.
    if (!isClipHash(hash))
        return;
    DBKeeper::deleteClipItem(hash, Category::history);
    sync.files().deleteFilesWithHashArray({hash});
    sync.announceHistoryChanged();
}

void applyClear(const QJsonObject &data, SyncEngine &sync)
{
    const double clearedAt = data.value(QStringLiteral("timestamp")).toDouble();
    const QStringList hashes = DBKeeper::clearHistoryLessThan(clearedAt);
    sync.files().deleteFilesWithHashArray(hashes);
    sync.announceHistoryChanged();
}

void applyUploadFile(const QJsonObject &data, SyncEngine &sync)
{
    const QString hash = data.value(QStringLiteral("file_hash")).toString();
    if (!isClipHash(hash))
        return;
    const int historyId = integer(data.value(QStringLiteral("history_id")));
    HistoryModel record;
    record.file_hash = hash;
    record.history_id = historyId;
    record.category = Category::history;
    if (record.isExist()) {
        record.fetch();
        record.file_ready = 1;
        if (record.history_id.value_or(0) == 0)
            record.history_id = historyId;
        if (record.file_id.value_or(0) == 0)
            record.file_id = integer(data.value(QStringLiteral("file_id")));
        record.save();
        sync.announceHistoryChanged();
        sync.historyLane().process();
        return;
    }
    // Unknown here: fetched from the service; a failure leaves it to the next pull.
    sync.clips().Get(record, [&sync](const auto &result, const auto &error) {
        if (result && !error)
            storeFetched(*result, sync);
    });
}

void applyFavourite(const QJsonObject &data, SyncEngine &sync)
{
    const std::optional<HistoryModel> remote = HistoryModel::fromJson(data.value(QStringLiteral("history")));
    if (!remote || !isClipHash(remote->hash()) || remote->history_id.value_or(0) <= 0)
        return;
    const QString hash = remote->hash();
    // The local decision is the favourite row's, else the history row's.
    HistoryModel local;
    local.file_hash = hash;
    local.category = Category::favourite;
    const bool hasFavouriteRow = local.isExist();
    if (!hasFavouriteRow)
        local.category = Category::history;
    if (local.isExist())
        local.fetch();
    const std::optional<FavouriteMerge::Decision> decision = FavouriteMerge::merged(
        local.favourite.value_or(0), remote->favourite.value_or(0), FavouriteMerge::Tie::KeepLocal);
    if (!decision)
        return;
    if (decision->unmarked) {
        DBKeeper::deleteClipItem(hash, Category::favourite);
    } else if (hasFavouriteRow) {
        RemoteRecord::takeServiceState(local, *remote);
        local.favourite = decision->mark;
        // The service's decision is the later one: nothing of the older one is sent back.
        local.return_to_zero_change_count();
        local.save();
    } else {
        RemoteRecord::newRow(*remote, Category::favourite).save();
    }
    DBKeeper::setFavourite(decision->mark, hash);
    sync.announceHistoryChanged();
    // A favourite whose payload is not here yet: the push lane hands over to the file lane.
    sync.historyLane().process();
}

} // namespace MqttNotices
