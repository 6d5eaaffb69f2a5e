// Reconciliation of the favourites with the service: the body and the reading of the reply.
#include "store/ClipFileManager.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "support/NotificationCenter.h"
#include "support/Notifications.h"
#include "sync/FavouriteService.h"
#include "sync/ReplyChecks.h"
#include "sync/ServiceRequests.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdlib>

namespace {

QJsonArray array(const QJsonObject &reply, const char *key)
{
    return reply.value(QLatin1String(key)).toArray();
}

// A favourite withdrawn on the service later than it was marked here.
bool withdraw(const QJsonObject &unfavourite)
{
    const qint64 historyId = unfavourite.value(QStringLiteral("history_id")).toInteger(0);
    const std::optional<HistoryModel> row =
        DBKeeper::getClipObjectWithHistoryID(historyId, Category::favourite);
    const qint64 when = unfavourite.value(QStringLiteral("favourite")).toInteger(0);
    if (historyId <= 0 || !row || std::llabs(when) <= std::llabs(row->favourite.value_or(0)))
        return false;
    DBKeeper::deleteClipItem(row->hash(), Category::favourite);
    DBKeeper::setFavourite(0, row->hash());
    return true;
}

// A favourite of the service this device lacks or holds in an older state.
bool takeFavourite(const QJsonObject &element)
{
    const std::optional<HistoryModel> remote = HistoryModel::fromJson(element);
    if (!remote || !isClipHash(remote->hash()))
        return false;
    HistoryModel local;
    local.file_hash = remote->file_hash;
    local.category = Category::favourite;
    if (local.isExist()) {
        local.fetch();
        local.file_id = remote->file_id;
        local.file_ready = remote->file_ready;
        local.file_name = remote->file_name;
        local.history_id = remote->history_id;
        local.device_name = remote->device_name;
        local.content = remote->content;
        if (remote->timestamp.value_or(0) > local.timestamp.value_or(0))
            local.timestamp = remote->timestamp;
        const qint64 remoteFavourite = remote->favourite.value_or(0);
        if (std::llabs(remoteFavourite) > std::llabs(local.favourite.value_or(0)))
            local.favourite = remoteFavourite < 0 ? 0 : remoteFavourite;
        local.return_to_zero_change_count();
        DBKeeper::setFavourite(local.favourite.value_or(0), local.hash());
        local.save();
        return true;
    }
    local = HistoryModel();
    local.category = Category::favourite;
    local.content = remote->content;
    local.file_hash = remote->file_hash;
    local.file_name = remote->file_name;
    local.timestamp = remote->timestamp;
    local.type = remote->type;
    local.file_ready = remote->file_ready;
    local.file_id = remote->file_id;
    local.history_id = remote->history_id;
    local.device_name = remote->device_name;
    local.favourite = remote->favourite;
    // The payload may be here already, under the clip's history row.
    local.local_file_ok = QFileInfo::exists(PathHelper::getBaseFilePath(remote->hash())) ? 1 : 0;
    local.save();
    return true;
}

} // namespace

void GetFavouriteRequestManager::genPostData()
{
    const QJsonObject body{{QStringLiteral("favourites"), DBKeeper::getSyncFavourite()}};
    setHttpBodyData(QJsonDocument(body).toJson(QJsonDocument::Compact));
}

RequestResult GetFavouriteRequestManager::parse(const QByteArray &body)
{
    const RequestResult reply = jsonObject(body);
    if (reply && replyCode(*reply) != 0)
        return std::nullopt;
    bool changed = false;
    if (reply) {
        for (const QJsonValue &value : array(*reply, "delfavourites")) {
            const std::optional<QString> hash = DBKeeper::deleteHistoryWithId(
                value.toObject().value(QStringLiteral("history_id")).toVariant());
            if (hash && isClipHash(*hash))
                ClipFileManager::sharedInstance().deleteFilesWithHashArray({*hash});
            changed = true;
        }
        for (const QJsonValue &value : array(*reply, "unfavourites"))
            changed = withdraw(value.toObject()) || changed;
        for (const QJsonValue &value : array(*reply, "histories"))
            changed = takeFavourite(value.toObject()) || changed;
    }
    ClipFileManager::sharedInstance().deleteFilesWithHashArray(
        DBKeeper::cleanupDatabase(Category::favourite));
    if (changed)
        NotificationCenter::sharedInstance().postOnMain(QLatin1String(Notifications::DATA_CHANGED));
    FavouriteService::sharedInstance().process();
    return reply;
}
