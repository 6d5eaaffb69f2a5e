#include "sync/MqttNotices.h"

#include "store/ClipFileManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryModel.h"
#include "sync/PushClipsManager.h"
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

} // namespace MqttNotices
