#include "sync/PushClipsManager.h"

#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryEdits.h"
#include "support/MainQueue.h"
#include "support/PayloadLimit.h"
#include "sync/ClipRequests.h"
#include "sync/FavouriteMerge.h"
#include "sync/RequestTransport.h"
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

QString pushURL(SyncEngine &sync, const QString &method, const HistoryModel &record)
{
    auto request = std::make_shared<PushClipsRequest>();
    request->setSync(sync);
    request->setMethod(method);
    request->setHistoryId(QString::number(record.history_id.value_or(0)));
    request->setFileHash(record.hash());
    return request->requestURL();
}

QByteArray body(const QJsonObject &history)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("history"), history}}).toJson(QJsonDocument::Compact);
}

bool tooLarge(const HistoryModel &record)
{
    return float(record.file_size.value_or(0)) > float(kMaxPayloadBytes);
}

} // namespace

PushClipsManager::PushClipsManager(SyncEngine &sync)
    : m_sync(sync)
{ }

void PushClipsManager::deleteEverywhereLocally(const QString &hash)
{
    HistoryEdits::deleteClip(hash, m_sync.files());
    m_sync.announceHistoryChanged();
}

bool PushClipsManager::isPosting(const QString &hash) const
{
    return m_postingTasks.contains(hash);
}

void PushClipsManager::Post(const HistoryModel &record, ClipCallback callback)
{
    // A secret clip never leaves this computer, whoever asks.
    if (!m_sync.account().isSignedIn() || tooLarge(record) || record.isSecret()) {
        callOnMain(callback, std::nullopt, std::nullopt);
        return;
    }
    if (m_postingTasks.contains(record.hash())) {
        callOnMain(callback, std::nullopt, std::nullopt);
        return;
    }
    m_postingTasks.insert(record.hash(), record);
    sendOnTransport(m_sync.transport(), pushURL(m_sync, QStringLiteral("POST"), record), "POST",
                    body(record.toJson()), [this, record, callback](const TransportReply &reply) {
                        m_postingTasks.remove(record.hash());
                        // Not reached, or refused by status: the row stays as it is.
                        if (reply.error) {
                            callOnMain(callback, std::nullopt, reply.error);
                            return;
                        }
                        postReplied(record, reply.body, reply.statusCode, callback);
                    });
}

void PushClipsManager::postReplied(const HistoryModel &sent, const QByteArray &bytes, int status,
                                   const ClipCallback &callback)
{
    const std::optional<QJsonObject> reply = RequestManager::jsonObject(bytes);
    const std::optional<HistoryModel> remote =
        reply ? HistoryModel::fromJson(reply->value(QStringLiteral("history"))) : std::nullopt;
    if (!reply || RequestManager::replyCode(*reply) != 0 || !remote) {
        const int code = reply ? int(RequestManager::replyCode(*reply)) : 0;
        const QString details =
            reply ? QString::fromUtf8(QJsonDocument(*reply).toJson(QJsonDocument::Compact)) : QString();
        callOnMain(callback, std::nullopt,
                   RequestError{QLatin1String(kServerErrorDomain), code, details, status});
        return;
    }
    // The reply is applied to the row as it is now: while the POST was under way the user may
    // have marked the clip a favourite (or deleted it), and that stays.
    HistoryModel local;
    local.file_hash = sent.file_hash;
    local.category = sent.category;
    if (local.isExist()) {
        local.fetch();
        local.history_id = remote->history_id;
        local.file_ready = remote->file_ready;
        local.file_id = remote->file_id;
        local.device_name = remote->device_name;
        if (const auto decision = FavouriteMerge::merged(
                local.favourite.value_or(0), remote->favourite.value_or(0), FavouriteMerge::Tie::KeepLocal)) {
            local.favourite = decision->mark;
            if (decision->unmarked)
                DBKeeper::deleteClipItem(local.hash(), Category::favourite);
        }
        local.save();
    }
    DBKeeper::updateHistoryID(remote->history_id.value_or(0), remote->file_id.value_or(0), sent.hash());
    DBKeeper::setRemoteFileReady(remote->file_ready.value_or(0), sent.hash());
    callOnMain(callback, remote->toJson(), std::nullopt);
}

void PushClipsManager::Put(const HistoryModel &record, ClipCallback callback)
{
    if (!m_sync.account().isSignedIn() || !record.history_id || record.isSecret()) {
        callOnMain(callback, std::nullopt, std::nullopt);
        return;
    }
    QJsonObject history = record.toJson();
    history.remove(QStringLiteral("content"));
    sendOnTransport(m_sync.transport(), pushURL(m_sync, QStringLiteral("PUT"), record), "PUT", body(history),
                    [record, callback](const TransportReply &reply) {
                        const std::optional<QJsonObject> decoded = RequestManager::jsonObject(reply.body);
                        const qint64 code = decoded ? RequestManager::replyCode(*decoded) : 0;
                        // -10: the service no longer knows the clip, which becomes local only.
                        if (decoded && code == -10)
                            DBKeeper::setLocalHistoryOnly(record.hash());
                        // Any other refusal keeps the change mark for another try.
                        if (!reply.error && code != 0 && code != -10) {
                            callOnMain(callback, decoded,
                                       RequestError{QLatin1String(kServerErrorDomain), int(code), QString(),
                                                    reply.statusCode});
                            return;
                        }
                        callOnMain(callback, decoded, reply.error);
                    });
}

void PushClipsManager::Get(const HistoryModel &record, ClipCallback callback)
{
    // Notices for one clip that arrive together cost one request: a second GET of a clip
    // whose first is in flight completes at once without a result.
    if (!m_sync.account().isSignedIn() || !record.history_id || m_fetchingTasks.contains(record.hash())) {
        callOnMain(callback, std::nullopt, std::nullopt);
        return;
    }
    m_fetchingTasks.insert(record.hash());
    sendOnTransport(m_sync.transport(), pushURL(m_sync, QStringLiteral("GET"), record), "GET", std::nullopt,
                    [this, hash = record.hash(), callback](const TransportReply &reply) {
                        m_fetchingTasks.remove(hash);
                        callOnMain(callback, RequestManager::jsonObject(reply.body), reply.error);
                    });
}

void PushClipsManager::Del(const HistoryModel &record, ClipCallback callback)
{
    const QString hash = record.hash();
    if (!m_sync.account().isSignedIn() || record.history_id.value_or(0) == 0) {
        dispatchMain(&m_sync, [this, hash, callback] {
            deleteEverywhereLocally(hash);
            if (callback)
                callback(std::nullopt, std::nullopt);
        });
        return;
    }
    if (m_deletingTasks.contains(hash)) {
        callOnMain(callback, std::nullopt, std::nullopt);
        return;
    }
    m_deletingTasks.insert(hash, record);
    sendOnTransport(m_sync.transport(), pushURL(m_sync, QStringLiteral("DELETE"), record), "DELETE",
                    std::nullopt, [this, hash, callback](const TransportReply &reply) {
                        m_deletingTasks.remove(hash);
                        const std::optional<QJsonObject> decoded = RequestManager::jsonObject(reply.body);
                        if (!reply.error && decoded && RequestManager::replyCode(*decoded) == 0)
                            deleteEverywhereLocally(hash);
                        callOnMain(callback, decoded, reply.error);
                    });
}
