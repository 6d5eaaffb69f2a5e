// Reconciliation of the favourites with the service: the body and the reading of the reply.
#include "store/ClipFileManager.h"
#include "store/DBKeeper.h"
#include "sync/FavouriteMerge.h"
#include "sync/RemoteRecord.h"
#include "sync/ReplyChecks.h"
#include "sync/ServiceRequests.h"
#include "sync/SyncEngine.h"

#include <QJsonArray>
#include <QJsonDocument>

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
    if (historyId <= 0 || !row
        || !FavouriteMerge::merged(row->favourite.value_or(0), when, FavouriteMerge::Tie::KeepLocal))
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
        RemoteRecord::takeServiceState(local, *remote);
        local.content = remote->content;
        if (const auto decision = FavouriteMerge::merged(
                local.favourite.value_or(0), remote->favourite.value_or(0), FavouriteMerge::Tie::KeepLocal))
            local.favourite = decision->mark;
        local.return_to_zero_change_count();
        DBKeeper::setFavourite(local.favourite.value_or(0), local.hash());
        local.save();
        return true;
    }
    RemoteRecord::newRow(*remote, Category::favourite).save();
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
                sync().files().deleteFilesWithHashArray({*hash});
            changed = true;
        }
        for (const QJsonValue &value : array(*reply, "unfavourites"))
            changed = withdraw(value.toObject()) || changed;
        for (const QJsonValue &value : array(*reply, "histories"))
            changed = takeFavourite(value.toObject()) || changed;
    }
    sync().files().deleteFilesWithHashArray(DBKeeper::cleanupDatabase(Category::favourite));
    if (changed)
        sync().announceHistoryChanged();
    sync().favouriteLane().process();
    return reply;
}
