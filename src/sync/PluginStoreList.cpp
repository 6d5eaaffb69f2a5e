#include "sync/PluginStoreList.h"

#include "store/PathHelper.h"
#include "store/Utils.h"
#include "support/Log.h"

#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

namespace {
// Far more than any real list; a larger file is not read.
constexpr qint64 kMaxListBytes = 16 * 1024 * 1024;
} // namespace

namespace PluginStoreList {

QString cachePath()
{
    return PathHelper::getDataFilePath(QLatin1String(kFileName));
}

bool save(const QJsonObject &reply)
{
    QSaveFile file(cachePath());
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcSync) << "cannot write the plugin list" << cachePath();
        return false;
    }
    file.write(QJsonDocument(reply).toJson(QJsonDocument::Compact));
    return file.commit();
}

std::optional<QJsonObject> load()
{
    QFile file(cachePath());
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxListBytes)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

QHash<QString, QString> urls(const QJsonObject &reply)
{
    QHash<QString, QString> result;
    const QJsonObject dict = reply.value(QStringLiteral("plugin_url")).toObject();
    for (auto it = dict.begin(); it != dict.end(); ++it) {
        if (it.value().isString())
            result.insert(it.key(), it.value().toString());
    }
    return result;
}

QList<PluginObject> entries(const QJsonObject &reply)
{
    QList<PluginObject> result;
    const QJsonObject dict = reply.value(QStringLiteral("plugin_dict")).toObject();
    for (auto it = dict.begin(); it != dict.end(); ++it) {
        if (!it.value().isObject())
            continue;
        PluginObject plugin = PluginObject::loadFromJsonDict(it.value().toObject());
        if (!plugin.plugin_bundle_id().isEmpty())
            result.append(plugin);
    }
    return result;
}

QList<PluginObject> offered(const QJsonObject &reply, const PluginManager::PluginDict &installed)
{
    QList<PluginObject> result;
    for (const PluginObject &plugin : entries(reply)) {
        if (!installed.contains(plugin.plugin_bundle_id()))
            result.append(plugin);
    }
    return result;
}

bool isNewer(const QString &installedVersion, const QString &storeVersion)
{
    const std::optional<QString> larger = Utils::largeVersion(installedVersion, storeVersion);
    return larger && *larger == storeVersion && installedVersion != storeVersion;
}

QList<Update> updates(const QJsonObject &reply, const PluginManager::PluginDict &userPlugins)
{
    QList<Update> result;
    const QHash<QString, QString> packageUrls = urls(reply);
    for (const PluginObject &plugin : entries(reply)) {
        const auto installed = userPlugins.constFind(plugin.plugin_bundle_id());
        if (installed == userPlugins.constEnd()
            || !isNewer(installed->plugin_version(), plugin.plugin_version()))
            continue;
        const QString url = packageUrls.value(plugin.plugin_bundle_id());
        if (!url.isEmpty())
            result.append({*installed, plugin, url});
    }
    return result;
}

} // namespace PluginStoreList
