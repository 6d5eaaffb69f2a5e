#include "PluginStore.h"

#include "ServerLog.h"

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

void PluginStore::reportSkipped(const QString &entry, const QString &reason) const
{
    // The store is listed at every "/plugins/" request; its administrator needs each reason once.
    {
        std::lock_guard lock(m_reportedMutex);
        if (m_reported.contains(entry + reason))
            return;
        m_reported.insert(entry + reason);
    }
    qCWarning(lcServer).noquote() << "plugin store: skipped" << entry.left(200) + QLatin1Char(':') << reason;
}

QJsonObject PluginStore::listing(const QString &filesUrl) const
{
    QJsonObject urls;
    QJsonObject dict;
    const QDir dir(m_dir);
    const QStringList packages = dir.entryList({QStringLiteral("*.cpk")}, QDir::Files, QDir::Name);
    for (const QString &name : packages) {
        if (!packageName().match(name).hasMatch()) {
            reportSkipped(name, QStringLiteral("a package name has only letters, digits, \"_\" and \"-\""));
            continue;
        }
        const QString descriptionName = name.chopped(4) + QStringLiteral(".json");
        QFile description(dir.filePath(descriptionName));
        if (!description.open(QIODevice::ReadOnly)) {
            reportSkipped(name, QStringLiteral("no readable description ") + descriptionName);
            continue;
        }
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(description.readAll(), &error);
        if (!document.isObject()) {
            reportSkipped(name,
                          descriptionName + QStringLiteral(" is not a JSON object (")
                              + (error.error != QJsonParseError::NoError ? error.errorString()
                                                                         : QStringLiteral("another value"))
                              + QLatin1Char(')'));
            continue;
        }
        const QJsonObject info = document.object();
        const QString bundleId = info.value(QStringLiteral("bundle_id")).toString();
        if (bundleId.isEmpty()) {
            reportSkipped(name, descriptionName + QStringLiteral(" names no bundle_id"));
            continue;
        }
        QJsonObject entry;
        for (const char *key : {"name", "desc", "version", "author", "bundle_id"})
            entry.insert(QLatin1String(key), info.value(QLatin1String(key)).toString());
        urls.insert(bundleId, QString(filesUrl + name));
        dict.insert(bundleId, entry);
    }
    // A description whose package is missing offers nothing to install.
    const QStringList descriptions = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString &name : descriptions) {
        if (!packages.contains(name.chopped(5) + QStringLiteral(".cpk")))
            reportSkipped(name,
                          QStringLiteral("no package ") + name.chopped(5) + QStringLiteral(".cpk beside it"));
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
