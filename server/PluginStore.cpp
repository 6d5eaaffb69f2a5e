#include "PluginStore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>

namespace {
// Package names handed out and accepted: no path separators, no dots but the extension's.
const QRegularExpression &packageName()
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9_-]{1,128}\\.cpk$"));
    return re;
}
} // namespace

PluginStore::PluginStore(QString dir)
    : m_dir(std::move(dir))
{ }

QJsonObject PluginStore::listing(const QString &filesUrl) const
{
    QJsonObject urls;
    QJsonObject dict;
    const QStringList packages = QDir(m_dir).entryList({QStringLiteral("*.cpk")}, QDir::Files, QDir::Name);
    for (const QString &name : packages) {
        if (!packageName().match(name).hasMatch())
            continue;
        QFile description(m_dir + QLatin1Char('/') + name.chopped(4) + QStringLiteral(".json"));
        if (!description.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject info = QJsonDocument::fromJson(description.readAll()).object();
        const QString bundleId = info.value(QStringLiteral("bundle_id")).toString();
        if (bundleId.isEmpty())
            continue;
        QJsonObject entry;
        for (const char *key : {"name", "desc", "version", "author", "bundle_id"})
            entry.insert(QLatin1String(key), info.value(QLatin1String(key)).toString());
        urls.insert(bundleId, QString(filesUrl + name));
        dict.insert(bundleId, entry);
    }
    return {{QStringLiteral("code"), 0},
            {QStringLiteral("plugin_url"), urls},
            {QStringLiteral("plugin_dict"), dict}};
}

std::optional<QByteArray> PluginStore::package(const QString &fileName) const
{
    if (!packageName().match(fileName).hasMatch()
        || !QFile::exists(m_dir + QLatin1Char('/') + fileName.chopped(4) + QStringLiteral(".json")))
        return std::nullopt;
    QFile file(m_dir + QLatin1Char('/') + fileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}
