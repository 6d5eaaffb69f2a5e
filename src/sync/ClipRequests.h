#pragma once

#include "sync/RequestManager.h"

#include <functional>

// The requests that move clips: the common base of pulling and pushing them. parse() hands over
// a reply whose "code" is 0 and refuses every other.
class ClipRequestManager : public RequestManager
{
public:
    RequestResult parse(const QByteArray &body) override;
};

// "/pull/": the clips other devices pushed since the last pull. Its parse() merges them into
// the history by file hash, applies the deletions and the clear-all the service reports, trims
// the history and starts the push of what is pending here.
class PullClipsManager : public ClipRequestManager
{
public:
    // The cursor starts from the stored "lastPullRequestTime".
    PullClipsManager();

    QString last_request_timestamp() const { return m_last_request_timestamp; }
    void setLastRequestTimestamp(const QString &timestamp) { m_last_request_timestamp = timestamp; }
    // At most this many records; 0 leaves the number to the service.
    int limit() const { return m_limit; }
    void setLimit(int limit) { m_limit = limit; }

    QString methodURL() const override;
    QString requestURL() const override;
    // A page of records: the service bounds its pages, by records and by bytes.
    qint64 maxReplyBytes() const override { return 64 * 1024 * 1024; }
    RequestResult parse(const QByteArray &body) override;

private:
    QString m_last_request_timestamp = QStringLiteral("0");
    int m_limit = 0;
};

// A whole pull: page after page while the service says that more records wait after the cursor
// ("has_more"), so that a first sign-in reaches the newest clips. Then done runs on the main
// thread (dropped when context is gone). A page that fails or leaves the cursor where it was
// ends the pull, as does signing out; so does a bound on the number of pages.
void pullToCurrent(SyncEngine &sync, QObject *context, std::function<void()> done);

// "/push/" URLs (the body is PushClipsManager's): POST adds a clip, PUT changes one, GET asks for a clip's
// file, DELETE removes one.
class PushClipsRequest final : public ClipRequestManager
{
public:
    void setMethod(const QString &method) { setHttpMethod(method); }
    void setHistoryId(const QString &historyId) { m_history_id = historyId; }
    void setFileHash(const QString &fileHash) { m_file_hash = fileHash; }

    QString methodURL() const override;
    QString requestURL() const override;

private:
    QString m_history_id;
    QString m_file_hash;
};
