#include "sync/PluginStoreRefresh.h"

#include "plugins/PluginManager.h"
#include "support/Log.h"
#include "support/NotificationCenter.h"
#include "support/Notifications.h"
#include "sync/ClipPluginPackageHelper.h"
#include "sync/PluginStoreList.h"
#include "sync/ServiceRequests.h"

#include <QFile>
#include <QPointer>

namespace PluginStoreRefresh {

void requestRemoteData(const std::shared_ptr<PluginListRequestManager> &request, QObject *context,
                       std::function<void(bool stored)> finished, std::function<void()> updateDone)
{
    const QPointer<QObject> guard(context);
    request->request(
        [guard, finished = std::move(finished), updateDone = std::move(updateDone)](
            const RequestResult &result, int statusCode, const std::optional<RequestError> &error) {
            const bool usable =
                !error && statusCode == 200 && result && RequestManager::replyCode(*result) == 0;
            if (usable) {
                PluginStoreList::save(*result);
                applyUpdates(*result, guard, updateDone);
            }
            if (finished)
                finished(usable);
        },
        context);
}

int applyUpdates(const QJsonObject &reply, QObject *context, std::function<void()> updateDone)
{
    const QList<PluginStoreList::Update> updates =
        PluginStoreList::updates(reply, PluginManager::sharedInstance().listUserPlugins());
    for (const PluginStoreList::Update &update : updates) {
        qCInfo(lcSync) << "updating plugin" << update.installed.plugin_bundle_id() << "from"
                       << update.installed.plugin_version() << "to" << update.offered.plugin_version();
        QFile::remove(ClipPluginPackageHelper::cachePathFor(update.installed));
        ClipPluginPackageHelper::sharedInstance().installPackageFromUrl(
            update.url, update.offered, context, [updateDone](bool) {
                NotificationCenter::sharedInstance().post(QLatin1String(Notifications::DATA_CHANGED));
                if (updateDone)
                    updateDone();
            });
    }
    return int(updates.size());
}

} // namespace PluginStoreRefresh
