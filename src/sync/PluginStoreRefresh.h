#pragma once

#include <QJsonObject>

#include <functional>
#include <memory>

class ClipPluginPackageHelper;
class PluginListRequestManager;
class QObject;

// Fetching the store's list and the automatic updates it brings. Main thread only; the
// callbacks run there and are dropped when context is gone.
namespace PluginStoreRefresh {

// Sends the "/plugins/" request. A reply with HTTP status 200 and "code" 0 replaces the cached
// list and starts the updates (applyUpdates); any other outcome changes nothing. Then finished
// learns whether a new list was stored.
void requestRemoteData(const std::shared_ptr<PluginListRequestManager> &request,
                       ClipPluginPackageHelper &packages, QObject *context,
                       std::function<void(bool stored)> finished, std::function<void()> updateDone);

// For every installed user plugin that reply offers in a strictly larger version: deletes the
// cached package of the installed version and installs the new one. Each finished update calls
// updateDone. System plugins are never updated. Returns how many updates started.
int applyUpdates(const QJsonObject &reply, ClipPluginPackageHelper &packages, QObject *context,
                 std::function<void()> updateDone);

} // namespace PluginStoreRefresh
