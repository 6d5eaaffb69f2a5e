#include "plugins/PluginObject.h"

#include "plugins/package.h"

#include <QVariant>

namespace {

QString jsonText(const QJsonObject &dict, const char *key)
{
    const QJsonValue value = dict.value(QLatin1String(key));
    return value.isString() || value.isDouble() ? value.toVariant().toString() : QString();
}

} // namespace

PluginObject PluginObject::fromRecord(const PluginRecord &record)
{
    PluginObject plugin;
    plugin.m_path = QByteArray(record.path);
    plugin.m_name = QString::fromUtf8(record.name);
    plugin.m_desc = QString::fromUtf8(record.desc);
    plugin.m_version = QString::fromUtf8(record.version);
    plugin.m_author = QString::fromUtf8(record.author);
    plugin.m_bundleId = QString::fromUtf8(record.bundle_id);
    return plugin;
}

PluginObject PluginObject::loadFromJsonDict(const QJsonObject &dict)
{
    PluginObject plugin;
    plugin.m_author = jsonText(dict, "author");
    plugin.m_bundleId = jsonText(dict, "bundle_id");
    plugin.m_name = jsonText(dict, "name");
    plugin.m_desc = jsonText(dict, "desc");
    plugin.m_version = jsonText(dict, "version");
    return plugin;
}
