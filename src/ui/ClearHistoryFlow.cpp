#include "ui/ClearHistoryFlow.h"

#include "store/ClipFileManager.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryStore.h"
#include "support/Log.h"
#include "support/SerialWorker.h"
#include "sync/ServiceRequests.h"
#include "sync/SyncEngine.h"
#include "ui/ProgressOverlay.h"
#include "ui/Sheets.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace {

// The "/clear_history/" request: cleared when the reply came with "code" 0; a refusal, a reply
// that is no JSON and a failed transfer all count as not cleared.
void clearOnService(SyncEngine &sync, QObject *context,
                    std::function<void(ClearHistoryFlow::ServiceOutcome)> done)
{
    sync.send(
        std::make_shared<ClearHistoryRequestManager>(),
        [done = std::move(done)](const RequestResult &result, int, const std::optional<RequestError> &error) {
            if (error || !result) {
                done({});
                return;
            }
            done({true, ClearHistoryRequestManager::clearedCount(*result)});
        },
        context);
}

ClearHistoryFlow::ServiceClear &serviceClear()
{
    static ClearHistoryFlow::ServiceClear clear = clearOnService;
    return clear;
}

void reportCount(QWidget *window, qint64 count)
{
    Sheets::runModal(window, {QCoreApplication::translate("ClearHistoryFlow", "共清空了：%1条").arg(count),
                              {},
                              {QCoreApplication::translate("ClearHistoryFlow", "知道了")}});
}

void reportFailure(ProgressOverlay *overlay, QWidget *window)
{
    qCInfo(lcUi) << "clearing the history failed";
    if (overlay) {
        overlay->setText(QCoreApplication::translate("ClearHistoryFlow", "清空失败"));
        overlay->dismiss();
    }
    Sheets::runModal(window, {QCoreApplication::translate("ClearHistoryFlow", "清空失败"),
                              {},
                              {QCoreApplication::translate("ClearHistoryFlow", "知道了")}});
}

// Deletes every non-favourite row and the payload files no row uses any more, off the main
// thread so that the overlay stays alive, then calls done on the main thread with the
// number of rows deleted, or none when the database could not be changed.
void clearLocalHistory(HistoryStore &store, std::function<void(std::optional<qint64> deleted)> done)
{
    ClipFileManager &files = store.files();
    runInBackground<std::optional<qint64>>(
        &store,
        [&files]() -> std::optional<qint64> {
            const std::optional<QStringList> hashes = DBKeeper::clearAllHistory();
            if (!hashes)
                return std::nullopt;
            files.deleteFilesWithHashArray(*hashes);
            return hashes->size();
        },
        [&store, done = std::move(done)](std::optional<qint64> deleted) {
            store.announceChanged();
            done(deleted);
        });
}

} // namespace

namespace ClearHistoryFlow {

void setServiceClear(ServiceClear clear)
{
    serviceClear() = clear ? std::move(clear) : ServiceClear(clearOnService);
}

void confirm(QWidget *host, SyncEngine &sync)
{
    const Sheets::Alert alert{
        QCoreApplication::translate("ClearHistoryFlow", "清空历史纪录?"),
        QCoreApplication::translate("ClearHistoryFlow", "点击清空将会删除您的所有历史纪录(除收藏外)"),
        {QCoreApplication::translate("ClearHistoryFlow", "清空历史纪录"),
         QCoreApplication::translate("ClearHistoryFlow", "取消")}};
    QPointer<QWidget> guard(host);
    Sheets::beginSheet(host, alert, [guard, &sync](int returnCode) {
        if (guard && returnCode == Sheets::FirstButtonReturn)
            clear(guard, sync);
    });
}

void clear(QWidget *host, SyncEngine &sync)
{
    QPointer<QWidget> window(host->window());
    QPointer<ProgressOverlay> overlay(
        ProgressOverlay::showOn(host, QCoreApplication::translate("ClearHistoryFlow", "删除中...")));

    HistoryStore &store = sync.store();
    if (!sync.account().isSignedIn()) {
        clearLocalHistory(store, [window, overlay](std::optional<qint64> deleted) {
            if (!deleted) {
                reportFailure(overlay, window);
                return;
            }
            if (overlay)
                overlay->dismiss();
            reportCount(window, *deleted);
        });
        return;
    }

    serviceClear()(sync, window.data(), [&store, window, overlay](ServiceOutcome outcome) {
        if (!outcome.cleared) {
            reportFailure(overlay, window);
            return;
        }
        clearLocalHistory(store, [window, overlay, reported = outcome.count](std::optional<qint64> deleted) {
            // The service cleared; the rows here stay until the next clear when the database
            // could not be changed, and the user hears of it.
            if (!deleted) {
                reportFailure(overlay, window);
                return;
            }
            if (overlay)
                overlay->dismiss();
            // The service cleared but named no usable number: the rows cleared here are
            // the best count there is.
            reportCount(window, reported.value_or(*deleted));
        });
    });
}

} // namespace ClearHistoryFlow
