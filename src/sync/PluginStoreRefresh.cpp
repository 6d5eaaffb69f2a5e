#include "sync/PluginStoreRefresh.h"

#include "plugins/PluginManager.h"
#include "support/Log.h"
#include "sync/ClipPluginPackageHelper.h"
#include "sync/PluginStoreList.h"
#include "sync/ServiceRequests.h"

#include <QFile>
#include <QPointer>

namespace PluginStoreRefresh {

void requestRemoteData(const std::shared_ptr<PluginListRequestManager> &request,
                       ClipPluginPackageHelper &packages, QObject *context,
                       std::function<void(bool stored)> finished, std::function<void()> updateDone)
{
    const QPointer<QObject> guard(context);
    request->request(
        packages.sync(),
        [&packages, guard, finished = std::move(finished), updateDone = std::move(updateDone)](
            const RequestResult &result, int statusCode, const std::optional<RequestError> &error) {
            const bool usable =
                !error && statusCode == 200 && result && RequestManager::replyCode(*result) == 0;
            if (usable) {
                PluginStoreList::save(*result);
                applyUpdates(*result, packages, guard, updateDone);
            }
            if (finished)
                finished(usable);
        },
        context);
}

int applyUpdates(const QJsonObject &reply, ClipPluginPackageHelper &packages, QObject *context,
                 std::function<void()> updateDone)
{
    const QList<PluginStoreList::Update> updates =
        PluginStoreList::updates(reply, packages.plugins().listUserPlugins());
    for (const PluginStoreList::Update &update : updates) {
        qCInfo(lcSync) << "updating plugin" << update.installed.plugin_bundle_id() << "from"
                       << update.installed.plugin_version() << "to" << update.offered.plugin_version();
        QFile::remove(ClipPluginPackageHelper::cachePathFor(update.installed));
        packages.installPackageFromUrl(update.url, update.offered, context, [updateDone](bool) {
            if (updateDone)
                updateDone();
        });
    }
    return int(updates.size());
}

} // namespace PluginStoreRefresh
