#pragma once

#include "store/HistoryModel.h"
#include "sync/RequestManager.h"

#include <QHash>
#include <QJsonObject>
#include <QSet>

#include <functional>
#include <optional>

class SyncEngine;

// Receives the decoded reply (when there is one to hand over) and the error; none means done.
using ClipCallback =
    std::function<void(const std::optional<QJsonObject> &result, const std::optional<RequestError> &error)>;

// Sends single clips to the service: POST creates one, PUT updates one the service knows, GET
// fetches one back and DELETE removes one. Replies are read, and the store updated, on the main
// thread; every callback runs there exactly once, never inside the call that sent the request.
class PushClipsManager final
{
    Q_DISABLE_COPY_MOVE(PushClipsManager)

public:
    static constexpr char kServerErrorDomain[] = "server error";

    explicit PushClipsManager(SyncEngine &sync);

    void Post(const HistoryModel &record, ClipCallback callback);
    void Put(const HistoryModel &record, ClipCallback callback);
    void Get(const HistoryModel &record, ClipCallback callback);
    void Del(const HistoryModel &record, ClipCallback callback);

    // True while a POST of the clip with this hash is in flight.
    bool isPosting(const QString &hash) const;

private:
    // Deletes every row of the clip and its payload files, and tells the program.
    void deleteEverywhereLocally(const QString &hash);

    void postReplied(const HistoryModel &sent, const QByteArray &body, int status,
                     const ClipCallback &callback);

    SyncEngine &m_sync;
    // In flight, by hash; only on the main thread.
    QHash<QString, HistoryModel> m_postingTasks;
    QHash<QString, HistoryModel> m_deletingTasks;
    QSet<QString> m_fetchingTasks;
};
