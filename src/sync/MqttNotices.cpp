#include "sync/MqttNotices.h"

#include "store/ClipFileManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryModel.h"
#include "support/NotificationCenter.h"
#include "support/Notifications.h"
#include "sync/HistoryService.h"
#include "sync/PushClipsManager.h"
#include "sync/ReplyChecks.h"
#include "sync/RequestManager.h"

namespace MqttNotices {

namespace {

int integer(const QJsonValue &value)
{
    // The service sends numbers; a number written as text is read the same way.
    return int(value.isString() ? value.toString().toLongLong() : value.toInteger());
}

void storeFetched(const QJsonObject &reply)
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
    NotificationCenter::sharedInstance().post(QLatin1String(Notifications::DATA_CHANGED));
    HistoryService::sharedInstance().process();
}

} // namespace

void applyDelete(const QJsonObject &data)
{
    const QString hash = data.value(QStringLiteral("file_hash")).toString();
    // A hash names files in our folders, so only a well-formed one is used.
    if (!isClipHash(hash))
        return;
    DBKeeper::deleteClipItem(hash, Category::history);
    ClipFileManager::sharedInstance().deleteFilesWithHashArray({hash});
    NotificationCenter::sharedInstance().post(QLatin1String(Notifications::history_delete), hash);
}

void applyClear(const QJsonObject &data)
{
    const double clearedAt = data.value(QStringLiteral("timestamp")).toDouble();
    const QStringList hashes = DBKeeper::clearHistoryLessThan(clearedAt);
    ClipFileManager::sharedInstance().deleteFilesWithHashArray(hashes);
    NotificationCenter::sharedInstance().post(QLatin1String(Notifications::history_delete));
}

void applyUploadFile(const QJsonObject &data)
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
        NotificationCenter::sharedInstance().post(QLatin1String(Notifications::DATA_CHANGED));
        HistoryService::sharedInstance().process();
        return;
    }
    // Unknown here: fetched from the service; a failure leaves it to the next pull.
    PushClipsManager::sharedInstance().Get(record, [](const auto &result, const auto &error) {
        if (result && !error)
            storeFetched(*result);
    });
}

} // namespace MqttNotices
