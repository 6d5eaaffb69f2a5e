#include "sync/SyncEngine.h"

#include "store/ClipFileManager.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryEdits.h"
#include "store/HistoryStore.h"
#include "support/Log.h"
#include "sync/ClipRequests.h"
#include "sync/FileTransfer.h"
#include "sync/MqttManager.h"
#include "sync/ProgressManager.h"
#include "sync/PushClipsManager.h"
#include "sync/ServiceRequests.h"
#include "sync/SetFavouriteRequestManager.h"
#include "sync/TransferVerdict.h"

#include <QDateTime>
#include <QNetworkInformation>

namespace {

// The menu keeps its clips as they were when it was built; the lanes may have changed them
// since (a push gives a clip its service id, a reconciliation its favourite mark). The actions
// work on the row as it is now.
HistoryModel asStoredNow(const HistoryModel &clip)
{
    HistoryModel current = clip;
    current.fetch();
    return current;
}

} // namespace

SyncEngine::SyncEngine(ConfigureManager &account, HistoryStore &store, QObject *parent)
    : QObject(parent)
    , m_account(account)
    , m_store(store)
    , m_progress(std::make_unique<ProgressManager>())
    , m_clips(std::make_unique<PushClipsManager>(*this))
    , m_favouriteMarks(std::make_unique<SetFavouriteRequestManager>(*this))
    , m_uploads(std::make_unique<UploadFileManager>(*this))
    , m_downloads(std::make_unique<DownloadFileManager>(*this))
    , m_historyLane(*this, SyncFailures::Lane::History, [this](SyncLane &lane) { pushPass(lane, false); })
    , m_favouriteLane(*this, SyncFailures::Lane::Favourite, [this](SyncLane &lane) { pushPass(lane, true); })
    , m_fileLane(*this, SyncFailures::Lane::File, [this](SyncLane &lane) { filePass(lane); })
    , m_status(account, {&m_historyLane, &m_favouriteLane, &m_fileLane})
    , m_notices(std::make_unique<MqttManager>(*this))
{
    // A new account starts with clean lanes: nothing waits, nothing failed.
    connect(&m_account, &ConfigureManager::signedOut, this, [this] {
        for (SyncLane *lane : {&m_historyLane, &m_favouriteLane, &m_fileLane})
            lane->reset();
        SyncFailures::clearAll();
    });
}

SyncEngine::~SyncEngine() = default;

Settings &SyncEngine::settings()
{
    return m_account.settings();
}

ClipFileManager &SyncEngine::files()
{
    return m_store.files();
}

void SyncEngine::announceHistoryChanged()
{
    m_store.announceChanged();
}

void SyncEngine::send(const std::shared_ptr<RequestManager> &request, RequestCompletion completion,
                      QObject *context)
{
    request->request(*this, std::move(completion), context);
}

void SyncEngine::settle(SyncLane &lane, const QString &hash, const std::optional<RequestError> &error,
                        const std::function<void()> &onDone)
{
    const TransferVerdict verdict = transferVerdict(error);
    switch (verdict) {
    case TransferVerdict::Done:
        SyncFailures::clear(lane.kind(), hash);
        if (onDone)
            onDone();
        lane.finish(SyncLane::Outcome::Sent);
        return;
    case TransferVerdict::RetryClip:
    case TransferVerdict::FailClip:
        // The clip keeps its change mark and waits for a time of its own; the lane goes on.
        qCInfo(lcSync).noquote() << "a clip's" << SyncFailures::laneName(lane.kind())
                                 << "transfer was refused:" << (error ? error->statusCode : 0)
                                 << (error ? error->code : 0);
        if (SyncFailures::recordFailure(lane.kind(), hash, verdict == TransferVerdict::FailClip))
            announceHistoryChanged();
        lane.finish(SyncLane::Outcome::ClipFailed);
        return;
    case TransferVerdict::ServiceDown:
        lane.finish(SyncLane::Outcome::ServiceDown);
        return;
    case TransferVerdict::QuotaFull:
        lane.finish(SyncLane::Outcome::QuotaFull);
        return;
    }
}

void SyncEngine::pushPass(SyncLane &lane, bool favourites)
{
    const std::optional<HistoryModel> record =
        favourites ? DBKeeper::getUnProcessFavourite() : DBKeeper::getUnProcessHistory();
    // Nothing left to send: the payloads are next.
    if (!record) {
        lane.finish(SyncLane::Outcome::NothingLeft);
        m_fileLane.process();
        return;
    }
    ClipCallback done = [this, &lane, record = *record](const std::optional<QJsonObject> &,
                                                        const std::optional<RequestError> &error) {
        // Once the service took the row, its change mark goes (unless it changed meanwhile).
        settle(lane, record.hash(), error, [&record] { record.return_to_zero_change_count(); });
    };
    const bool known = record->history_id.value_or(0) != 0;
    if (!known)
        m_clips->Post(*record, std::move(done));
    else if (favourites)
        m_favouriteMarks->setFavourite(*record, std::move(done));
    else
        m_clips->Put(*record, std::move(done));
}

void SyncEngine::filePass(SyncLane &lane)
{
    const std::optional<HistoryModel> record = DBKeeper::getFileProcessHistory();
    if (!record) {
        lane.finish(SyncLane::Outcome::NothingLeft);
        return;
    }
    const QString hash = record->hash();
    if (record->file_ready.value_or(0) == 1) {
        m_downloads->downloadHistory(*record, [this, &lane, hash](const std::optional<QJsonObject> &,
                                                                  const std::optional<RequestError> &error) {
            settle(lane, hash, error, [this] {
                // The menu shows the payloads once the last one is in.
                if (!DBKeeper::getFileProcessHistory())
                    announceHistoryChanged();
            });
        });
        return;
    }
    m_uploads->upload(*record, [this, &lane, hash](const std::optional<QJsonObject> &,
                                                   const std::optional<RequestError> &error) {
        settle(lane, hash, error);
    });
}

void SyncEngine::deleteClip(const HistoryModel &shown, std::function<void()> done)
{
    const HistoryModel clip = asStoredNow(shown);
    if (!m_account.isSignedIn() || clip.history_id.value_or(0) == 0) {
        HistoryEdits::deleteClip(clip.hash(), m_store.files());
        announceHistoryChanged();
        if (done)
            done();
        return;
    }
    m_clips->Del(clip, [done = std::move(done)](const std::optional<QJsonObject> &,
                                                const std::optional<RequestError> &) {
        if (done)
            done();
    });
}

void SyncEngine::toggleFavourite(const HistoryModel &shown, std::function<void()> done)
{
    const HistoryModel clip = asStoredNow(shown);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (clip.isFavourite() && m_account.isSignedIn()) {
        // The removal goes to the service; the rows change when it answers.
        HistoryModel record = clip;
        const std::optional<qint64> remembered = record.favourite;
        record.favourite = -now;
        m_favouriteMarks->setFavourite(
            record, [done](const std::optional<QJsonObject> &, const std::optional<RequestError> &) {
                if (done)
                    done();
            });
        record.favourite = remembered;
        record.category = Category::history;
        record.save();
    } else {
        HistoryEdits::toggleFavourite(clip, now);
    }
    if (done)
        done();
    m_favouriteLane.process();
}

void SyncEngine::resumeLanes()
{
    for (SyncLane *lane : {&m_historyLane, &m_favouriteLane, &m_fileLane})
        lane->retryNow();
}

void SyncEngine::watchNetwork()
{
    if (!QNetworkInformation::loadDefaultBackend() || !QNetworkInformation::instance()) {
        qCInfo(lcSync) << "no network reachability here; the lanes retry on their own schedule";
        return;
    }
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                if (reachability == QNetworkInformation::Reachability::Online)
                    resumeLanes();
            });
}

void SyncEngine::brokerConnected()
{
    resumeLanes();
    Q_EMIT noticesConnected();
}

void SyncEngine::retryClip(const QString &hash)
{
    SyncFailures::clearClip(hash);
    announceHistoryChanged();
    resumeLanes();
}

void SyncEngine::pullHistory(QObject *context, std::function<void()> done)
{
    pullToCurrent(*this, context, std::move(done));
}

void SyncEngine::reconcileFavourites(QObject *context, std::function<void()> done)
{
    send(
        std::make_shared<GetFavouriteRequestManager>(),
        [done = std::move(done)](const RequestResult &, int, const std::optional<RequestError> &) {
            if (done)
                done();
        },
        context);
}
