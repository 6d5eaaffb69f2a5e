#include "store/ClipFileManager.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "sync/ClipRequests.h"
#include "sync/FavouriteMerge.h"
#include "sync/RemoteRecord.h"
#include "sync/ReplyChecks.h"
#include "sync/SyncEngine.h"

#include <QJsonArray>

namespace {

// More than any history holds at the service's page size; a service that keeps saying "more"
// beyond it is not followed.
constexpr int kMaxPullPages = 10000;

QString storedCursor()
{
    return Settings::pullCursor();
}

void pullPage(SyncEngine &sync, QObject *context, std::function<void()> done, int page)
{
    auto pull = std::make_shared<PullClipsManager>();
    const QString cursor = pull->last_request_timestamp();
    pull->request(
        sync,
        [&sync, context, done = std::move(done), page, cursor](const RequestResult &result, int,
                                                               const std::optional<RequestError> &error) {
            const bool more = !error && result && result->value(QStringLiteral("has_more")).toBool()
                              && storedCursor() != cursor && page + 1 < kMaxPullPages
                              && sync.account().isSignedIn();
            if (more)
                pullPage(sync, context, done, page + 1);
            else if (done)
                done();
        },
        context);
}

// Merges one record of the reply into the history row of its hash, or adds it.
void mergeRecord(const QJsonObject &element)
{
    const std::optional<HistoryModel> remote = HistoryModel::fromJson(element);
    if (!remote || !isClipHash(remote->hash()))
        return;
    HistoryModel local;
    local.file_hash = remote->hash();
    local.category = Category::history;
    if (local.isExist()) {
        local.fetch();
        RemoteRecord::takeServiceState(local, *remote);
        if (const auto decision = FavouriteMerge::merged(
                local.favourite.value_or(0), remote->favourite.value_or(0), FavouriteMerge::Tie::KeepLocal)) {
            local.favourite = decision->mark;
            if (decision->unmarked)
                DBKeeper::deleteClipItem(local.hash(), Category::favourite);
        }
    } else {
        local = RemoteRecord::newRow(*remote, Category::history);
    }
    local.save();
    DBKeeper::updateHistoryID(local.history_id.value_or(0), local.file_id.value_or(0), local.hash());
}

void applyDeletions(const QJsonArray &actions, ClipFileManager &files)
{
    for (const QJsonValue &value : actions) {
        const QJsonObject action = value.toObject();
        if (action.value(QStringLiteral("action")).toString().toLower() != QLatin1String("del"))
            continue;
        const std::optional<QString> hash =
            DBKeeper::deleteHistoryWithId(action.value(QStringLiteral("history_id")).toVariant());
        if (hash && isClipHash(*hash))
            files.deleteFilesWithHashArray({*hash});
    }
}

void applyClearAll(double clearedAt, SyncEngine &sync)
{
    const QStringList hashes = DBKeeper::clearHistoryLessThan(clearedAt);
    sync.files().deleteFilesWithHashArray(hashes);
    sync.announceHistoryChanged();
}

} // namespace

void pullToCurrent(SyncEngine &sync, QObject *context, std::function<void()> done)
{
    pullPage(sync, context, std::move(done), 0);
}

PullClipsManager::PullClipsManager()
    : m_last_request_timestamp(storedCursor())
{ }

RequestResult PullClipsManager::parse(const QByteArray &body)
{
    const RequestResult reply = jsonObject(body);
    if (reply && replyCode(*reply) != 0)
        return std::nullopt;
    if (reply) {
        // A cursor that is no whole number of 0 or more is never stored: it would break every
        // later pull.
        const QJsonValue cursor = reply->value(QStringLiteral("request_timestamp"));
        if (cursor.isDouble() && cursor.toDouble() == double(cursor.toInteger()) && cursor.toInteger() > 0)
            sync().settings().setPullCursor(cursor.toInteger());
        const QJsonArray histories = reply->value(QStringLiteral("histories")).toArray();
        for (const QJsonValue &element : histories)
            mergeRecord(element.toObject());
        applyDeletions(reply->value(QStringLiteral("action")).toArray(), sync().files());
        if (reply->contains(QStringLiteral("clear_all_ts")))
            applyClearAll(reply->value(QStringLiteral("clear_all_ts")).toDouble(), sync());
    }
    sync().files().deleteFilesWithHashArray(DBKeeper::cleanupDatabase(Category::history));
    DBKeeper::removeInvalidDatas();
    sync().historyLane().process();
    return reply;
}
