#include "sync/FileService.h"

#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "support/MainQueue.h"
#include "support/NotificationCenter.h"
#include "support/Notifications.h"
#include "sync/FileTransfer.h"

FileService &FileService::sharedInstance()
{
    static auto *instance = new FileService;
    return *instance;
}

void FileService::process()
{
    if (!ConfigureManager::sharedInstance().isSignedIn()) {
        m_lane.setIsRunning(false);
        return;
    }
    if (!m_lane.tryStart())
        return;
    const std::optional<HistoryModel> record = DBKeeper::getFileProcessHistory();
    if (!record || record->family() == ClipFamily::Other) {
        m_lane.setIsRunning(false);
        return;
    }
    if (record->file_ready.value_or(0) == 1) {
        DownloadFileManager::sharedInstance().downloadHistory(
            *record, [this, record = *record](const std::optional<QJsonObject> &,
                                              const std::optional<RequestError> &error) {
                m_lane.setIsRunning(false);
                if (error)
                    return;
                if (!DBKeeper::getFileProcessHistory())
                    NotificationCenter::sharedInstance().post(
                        QLatin1String(Notifications::ALL_FILE_DOWNLOAD_DONE));
                dispatchMain([this] { next(); });
            });
        return;
    }
    UploadFileManager::sharedInstance().upload(
        *record, [this](const std::optional<QJsonObject> &, const std::optional<RequestError> &error) {
            m_lane.setIsRunning(false);
            if (!error)
                dispatchMain([this] { next(); });
        });
}
