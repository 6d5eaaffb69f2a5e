#pragma once

#include "store/HistoryModel.h"
#include "sync/PushClipsManager.h"

class SyncEngine;

// Errors of the file transfers.
inline constexpr char kDownloadErrorDomain[] = "com.quillet.download";

// Uploads a clip's payload with the signed form the service hands out ("/get_upload_token/"),
// streamed from disk. 401 signs the user out, 404 makes the clip
// local only. Callbacks run on the main thread exactly once.
class UploadFileManager final
{
    Q_DISABLE_COPY_MOVE(UploadFileManager)

public:
    explicit UploadFileManager(SyncEngine &sync);
    void upload(const HistoryModel &record, ClipCallback callback);

private:
    void postForm(const HistoryModel &record, const QJsonObject &credentials, const ClipCallback &callback);

    SyncEngine &m_sync;
};

// Fetches a clip's payload ("/download_file/"), streamed to a temporary file beside its
// destination and checked off the main thread. Only a complete reply whose bytes hash to the clip's
// hash becomes the payload (a zipped payload is unpacked through the package extraction
// first); anything else is discarded and the row stays pending.
class DownloadFileManager final
{
    Q_DISABLE_COPY_MOVE(DownloadFileManager)

public:
    explicit DownloadFileManager(SyncEngine &sync);
    void downloadHistory(const HistoryModel &record, ClipCallback callback);

private:
    SyncEngine &m_sync;
};
