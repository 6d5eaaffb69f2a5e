#include "ui/ClearHistoryFlow.h"

#include "store/ClipFileManager.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "support/Log.h"
#include "support/NotificationCenter.h"
#include "support/Notifications.h"
#include "sync/ServiceRequests.h"
#include "ui/ProgressOverlay.h"
#include "ui/Sheets.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <memory>

namespace {

// The "/clear_history/" request: cleared when the reply came with "code" 0; a refusal, a reply
// that is no JSON and a failed transfer all count as not cleared.
void clearOnService(QObject *context, std::function<void(ClearHistoryFlow::ServiceOutcome)> done)
{
    std::make_shared<ClearHistoryRequestManager>()->request(
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
    Sheets::runModal(window, {QStringLiteral("共清空了：%1条").arg(count), {}, {QStringLiteral("知道了")}});
}

void reportFailure(ProgressOverlay *overlay, QWidget *window)
{
    qCInfo(lcUi) << "clearing the history failed";
    if (overlay) {
        overlay->setText(QStringLiteral("清空失败"));
        overlay->dismiss();
    }
    Sheets::runModal(window, {QStringLiteral("清空失败"), {}, {QStringLiteral("知道了")}});
}

// Deletes every non-favourite row and the payload files no row uses any more, off the main
// thread so that the overlay stays alive, then calls done on the main thread with the
// number of rows deleted, or none when the database could not be changed.
void clearLocalHistory(std::function<void(std::optional<qint64> deleted)> done)
{
    auto deleted = std::make_shared<std::optional<qint64>>();
    QThread *worker = QThread::create([deleted] {
        const std::optional<QStringList> hashes = DBKeeper::clearAllHistory();
        if (!hashes)
            return;
        ClipFileManager::sharedInstance().deleteFilesWithHashArray(*hashes);
        *deleted = hashes->size();
    });
    QObject::connect(
        worker, &QThread::finished, QCoreApplication::instance(), [worker, deleted, done = std::move(done)] {
            worker->deleteLater();
            NotificationCenter::sharedInstance().post(QLatin1String(Notifications::DATA_CHANGED));
            done(*deleted);
        });
    worker->start();
}

} // namespace

namespace ClearHistoryFlow {

void setServiceClear(ServiceClear clear)
{
    serviceClear() = clear ? std::move(clear) : ServiceClear(clearOnService);
}

void confirm(QWidget *host)
{
    const Sheets::Alert alert{QStringLiteral("清空历史纪录?"),
                              QStringLiteral("点击清空将会删除您的所有历史纪录(除收藏外)"),
                              {QStringLiteral("清空历史纪录"), QStringLiteral("取消")}};
    QPointer<QWidget> guard(host);
    Sheets::beginSheet(host, alert, [guard](int returnCode) {
        if (guard && returnCode == Sheets::FirstButtonReturn)
            clear(guard);
    });
}

void clear(QWidget *host)
{
    QPointer<QWidget> window(host->window());
    QPointer<ProgressOverlay> overlay(ProgressOverlay::showOn(host, QStringLiteral("删除中...")));

    if (!ConfigureManager::sharedInstance().isSignedIn()) {
        clearLocalHistory([window, overlay](std::optional<qint64> deleted) {
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

    serviceClear()(window.data(), [window, overlay](ServiceOutcome outcome) {
        if (!outcome.cleared) {
            reportFailure(overlay, window);
            return;
        }
        clearLocalHistory([window, overlay, reported = outcome.count](std::optional<qint64> deleted) {
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
