#include "sync/SetFavouriteRequestManager.h"

#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "support/MainQueue.h"
#include "support/PayloadLimit.h"
#include "sync/FavouriteMerge.h"
#include "sync/RequestTransport.h"
#include "sync/ServiceRequests.h"
#include "sync/SyncEngine.h"
#include "sync/TransportCall.h"

#include <QJsonDocument>

namespace {

void callOnMain(const ClipCallback &callback, std::optional<QJsonObject> result,
                std::optional<RequestError> error)
{
    dispatchMain([callback, result = std::move(result), error = std::move(error)] {
        if (callback)
            callback(result, error);
    });
}

// The service's record wins when its decision is at least as late as ours. False when the
// clip is no longer here.
bool takeRemote(const HistoryModel &sent, const HistoryModel &remote)
{
    HistoryModel local;
    local.file_hash = sent.file_hash;
    local.category = sent.category;
    if (!local.isExist())
        return false;
    local.fetch();
    local.history_id = remote.history_id;
    local.file_ready = remote.file_ready;
    local.file_id = remote.file_id;
    if (const auto decision = FavouriteMerge::merged(
            local.favourite.value_or(0), remote.favourite.value_or(0), FavouriteMerge::Tie::TakeRemote)) {
        local.favourite = decision->mark;
        if (decision->unmarked)
            DBKeeper::deleteClipItem(local.hash(), Category::favourite);
    }
    DBKeeper::setFavourite(local.favourite.value_or(0), local.hash());
    if (local.categoryName() != Category::favourite)
        local.save();
    return true;
}

} // namespace

SetFavouriteRequestManager::SetFavouriteRequestManager(SyncEngine &sync)
    : m_sync(sync)
{ }

void SetFavouriteRequestManager::setFavourite(const HistoryModel &record, ClipCallback callback)
{
    const bool tooLarge = float(record.file_size.value_or(0)) > float(kMaxPayloadBytes);
    if (!m_sync.account().isSignedIn() || tooLarge || record.isSecret()) {
        callOnMain(callback, std::nullopt, std::nullopt);
        return;
    }
    if (m_favouriteTask.contains(record.hash())) {
        callOnMain(callback, std::nullopt, std::nullopt);
        return;
    }
    m_favouriteTask.insert(record.hash(), record);
    auto request = std::make_shared<SetFavouriteRequest>();
    request->setSync(m_sync);
    const QString url = request->requestURL();
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("history"), record.toJson()}})
                                .toJson(QJsonDocument::Compact);
    sendOnTransport(
        m_sync.transport(), url, "POST", body, [this, record, callback](const TransportReply &reply) {
            m_favouriteTask.remove(record.hash());
            const std::optional<QJsonObject> decoded = RequestManager::jsonObject(reply.body);
            const std::optional<HistoryModel> remote =
                decoded ? HistoryModel::fromJson(decoded->value(QStringLiteral("history"))) : std::nullopt;
            if (!reply.error && decoded && RequestManager::replyCode(*decoded) == 0 && remote) {
                if (takeRemote(record, *remote))
                    m_sync.announceHistoryChanged();
                callOnMain(callback, remote->toJson(), std::nullopt);
                return;
            }
            const qint64 code = decoded ? RequestManager::replyCode(*decoded) : 0;
            if (decoded && code == -4) {
                DBKeeper::deleteClipItem(record.hash());
                m_sync.announceHistoryChanged();
            }
            // Any other refusal keeps the change mark for another try.
            if (!reply.error && code != 0 && code != -4) {
                callOnMain(callback, std::nullopt,
                           RequestError{QLatin1String(PushClipsManager::kServerErrorDomain), int(code),
                                        QString(), reply.statusCode});
                return;
            }
            callOnMain(callback, std::nullopt, reply.error);
        });
}
