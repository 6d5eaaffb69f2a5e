#pragma once

#include <QJsonObject>
#include <QSet>
#include <QString>

#include <mutex>
#include <optional>

// The plugin store: every "<name>.cpk" package in the store folder that has a description
// "<name>.json" beside it ({"name", "desc", "version", "author", "bundle_id"}) is offered. An
// entry that cannot be offered (a bad name or description, a description without its package)
// is logged with the reason, once for as long as the service runs.
class PluginStore final
{
public:
    explicit PluginStore(QString dir);

    // The "/plugins/" reply: "plugin_url" (bundle id -> package URL under `filesUrl`) and
    // "plugin_dict" (bundle id -> description).
    QJsonObject listing(const QString &filesUrl) const;
    // The bytes of a listed package; none for any other name.
    std::optional<QByteArray> package(const QString &fileName) const;

private:
    void reportSkipped(const QString &entry, const QString &reason) const;

    QString m_dir;
    mutable std::mutex m_reportedMutex;
    mutable QSet<QString> m_reported;
};
