#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QString>

struct PluginRecord;

// The object view of one plugin: an installed plugin (made from its record) or one that the
// plugin store offers (made from the store's JSON, with no folder). A plain value, copied freely.
//
// An installed plugin is known by its folder, not by a pointer to its record: records are
// freed at every reload, and a menu may still hold the object then. PluginManager finds the
// current record by folder when the plugin is run or removed.
class PluginObject final
{
public:
    PluginObject() = default;

    static PluginObject fromRecord(const PluginRecord &record);
    // A store entry: "name", "desc", "version", "author", "bundle_id".
    static PluginObject loadFromJsonDict(const QJsonObject &dict);

    bool isInstalled() const { return !m_path.isEmpty(); }
    // The plugin's folder, ending in "/" (UTF-8 bytes as the file system spells them); empty
    // for a store entry.
    QByteArray pluginPath() const { return m_path; }

    QString plugin_name() const { return m_name; }
    QString plugin_desc() const { return m_desc; }
    QString plugin_version() const { return m_version; }
    QString plugin_author() const { return m_author; }
    QString plugin_bundle_id() const { return m_bundleId; }

private:
    QByteArray m_path;
    QString m_name;
    QString m_desc;
    QString m_version;
    QString m_author;
    QString m_bundleId;
};

Q_DECLARE_METATYPE(PluginObject)
