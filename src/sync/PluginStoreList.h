#pragma once

#include "plugins/PluginManager.h"
#include "plugins/PluginObject.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The plugin store's list: the last successful "/plugins/" reply, cached in the data file
// "NAME_PLUGIN_LIST" of the "datas" folder so the store shows without a network, and the rules
// that pick what the store offers and which installed plugins it updates.
//
// The cache is the reply's JSON text, written atomically. Reading it back only parses JSON, so
// a damaged or planted file can yield wrong entries but never runs or builds anything else.
namespace PluginStoreList {

inline constexpr char kFileName[] = "NAME_PLUGIN_LIST";

QString cachePath();
// Replaces the cached list by reply. False when it could not be written.
bool save(const QJsonObject &reply);
// The cached list; none when there is none or it does not hold a JSON object.
std::optional<QJsonObject> load();

// The reply's "plugin_url": bundle id → package URL (text values only).
QHash<QString, QString> urls(const QJsonObject &reply);
// Every entry of the reply's "plugin_dict" that names a bundle id, in the object's order.
QList<PluginObject> entries(const QJsonObject &reply);
// The entries whose bundle id is not installed (system or user plugin): what the store offers.
QList<PluginObject> offered(const QJsonObject &reply, const PluginManager::PluginDict &installed);

// True when the store's version is strictly larger than the installed one (so 1.10 > 1.9 and
// 1.2.0 equals 1.2).
bool isNewer(const QString &installedVersion, const QString &storeVersion);

struct Update {
    PluginObject installed;
    PluginObject offered;
    QString url;
};
// The installed user plugins that the store has in a larger version, with a package URL.
QList<Update> updates(const QJsonObject &reply, const PluginManager::PluginDict &userPlugins);

} // namespace PluginStoreList
