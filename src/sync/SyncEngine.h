#pragma once

#include "store/HistoryModel.h"
#include "sync/RequestManager.h"
#include "sync/RequestTransport.h"
#include "sync/SyncLane.h"
#include "sync/SyncStatus.h"

#include <QObject>

#include <functional>
#include <memory>

class ClipFileManager;
class HistoryStore;
class ConfigureManager;
class Settings;
class DownloadFileManager;
class MqttManager;
class ProgressManager;
class PushClipsManager;
class SetFavouriteRequestManager;
class UploadFileManager;

// The client side of sync, made once by the application: the HTTP transport every request
// goes through, the senders of clips, favourites and payloads, the three lanes that drain the
// store's change marks, and the change notices. The parts reach the account, the payload files
// and each other through it. Everything runs on the main thread; long work (hashing and
// unpacking a download) goes to the thread pool and comes back.
class SyncEngine final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SyncEngine)

public:
    SyncEngine(ConfigureManager &account, HistoryStore &store, QObject *parent = nullptr);
    ~SyncEngine() override;

    ConfigureManager &account() { return m_account; }
    Settings &settings();
    HistoryStore &store() { return m_store; }
    ClipFileManager &files();
    RequestTransport &transport() { return m_transport; }
    ProgressManager &progress() { return *m_progress; }
    PushClipsManager &clips() { return *m_clips; }
    SetFavouriteRequestManager &favouriteMarks() { return *m_favouriteMarks; }
    UploadFileManager &uploads() { return *m_uploads; }
    DownloadFileManager &downloads() { return *m_downloads; }
    MqttManager &notices() { return *m_notices; }

    // The rows changed here, newest first: history rows, favourite rows, then payloads (the
    // first two hand over to the file lane when they run dry).
    SyncLane &historyLane() { return m_historyLane; }
    SyncLane &favouriteLane() { return m_favouriteLane; }
    SyncLane &fileLane() { return m_fileLane; }

    // Sends a request to the service (see RequestManager::request).
    void send(const std::shared_ptr<RequestManager> &request, RequestCompletion completion,
              QObject *context = nullptr);

    // What the menu's clip actions mean for sync. Deleting: signed in, a clip the service knows
    // is deleted there first and here once it confirms; otherwise every row of the clip goes
    // at once. Unfavouriting while signed in goes to the service, whose answer changes the
    // rows; every other favourite change is made here and pushed by the favourite lane. done
    // runs on the main thread once the rows are as they will stay.
    void deleteClip(const HistoryModel &clip, std::function<void()> done);
    void toggleFavourite(const HistoryModel &clip, std::function<void()> done);
    // Pulls until the history is current, then done (dropped when context is gone).
    void pullHistory(QObject *context, std::function<void()> done);
    // Reconciles the favourites with the service's, then done (dropped when context is gone).
    void reconcileFavourites(QObject *context, std::function<void()> done);

    // Tells the program that sync changed the local history (a pull, a notice, a reply).
    void announceHistoryChanged();

    // Where this computer stands with the service, for the tray item.
    SyncStatus &status() { return m_status; }

    // Runs every lane now, their waits after failures started over: at start, when the network
    // or the broker connection comes back.
    void resumeLanes();
    // Follows the network's reachability (when Qt has a backend for it here; without one there
    // is nothing to follow): when it comes back online the lanes run.
    void watchNetwork();
    // The change notices' connection to the broker was made (again); called by the notices.
    void brokerConnected();
    // Forgets that the clip's transfers failed and runs the lanes again (the user asked).
    void retryClip(const QString &hash);

Q_SIGNALS:
    // The change notices are connected (again): notices sent meanwhile were missed.
    void noticesConnected();

private:
    void pushPass(SyncLane &lane, bool favourites);
    void filePass(SyncLane &lane);
    // Ends the lane's pass after the transfer of the clip; onDone runs first when it went through.
    void settle(SyncLane &lane, const QString &hash, const std::optional<RequestError> &error,
                const std::function<void()> &onDone = {});

    ConfigureManager &m_account;
    HistoryStore &m_store;
    RequestTransport m_transport;
    std::unique_ptr<ProgressManager> m_progress;
    std::unique_ptr<PushClipsManager> m_clips;
    std::unique_ptr<SetFavouriteRequestManager> m_favouriteMarks;
    std::unique_ptr<UploadFileManager> m_uploads;
    std::unique_ptr<DownloadFileManager> m_downloads;
    SyncLane m_historyLane;
    SyncLane m_favouriteLane;
    SyncLane m_fileLane;
    SyncStatus m_status;
    std::unique_ptr<MqttManager> m_notices;
};
