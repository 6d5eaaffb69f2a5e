#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// The plugin store: every "<name>.cpk" package in the store folder that has a description
// "<name>.json" beside it ({"name", "desc", "version", "author", "bundle_id"}) is offered.
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
    QString m_dir;
};
