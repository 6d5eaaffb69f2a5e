#pragma once

#include "PackageBuilder.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

// Fills the store folder of a running quillet-sync-server: packages built by the real
// quillet-pack-plugin from plugin folders written here, each with its description beside it.
class StoreFixture final
{
public:
    // storeDir: the service's "plugins" folder.
    explicit StoreFixture(QString storeDir)
        : m_storeDir(std::move(storeDir))
    {
        QDir().mkpath(m_storeDir);
    }

    // A plugin whose main returns prefix followed by the clip's text, packed as <name>.cpk.
    bool publish(const QString &name, const QByteArray &bundleId, const QByteArray &version,
                 const QByteArray &prefix)
    {
        const QString folder = m_work.path() + QLatin1Char('/') + name + QStringLiteral(".cplugin");
        QDir(folder).removeRecursively();
        const QByteArray mainLua = "function main(text) return \"" + prefix + "\" .. text end\n";
        if (!PackageBuilder::writePluginFolder(m_work.path(), name + QStringLiteral(".cplugin"),
                                               PackageBuilder::infoLua(bundleId, name.toUtf8(), version),
                                               mainLua))
            return false;
        QProcess pack;
        pack.start(QStringLiteral(QUILLET_PACK_PLUGIN), {folder, packagePath(name)});
        if (!pack.waitForFinished(20000) || pack.exitCode() != 0)
            return false;
        return describe(name, bundleId, version);
    }

    // A package of any bytes under name, described as bundleId at version.
    bool publishBytes(const QString &name, const QByteArray &bundleId, const QByteArray &version,
                      const QByteArray &bytes)
    {
        return TestFiles::write(packagePath(name), bytes) && describe(name, bundleId, version);
    }

    // A zip archive with these entries under name.
    bool publishZip(const QString &name, const QByteArray &bundleId,
                    const QList<PackageBuilder::Entry> &entries)
    {
        return PackageBuilder::writeZip(packagePath(name), entries) && describe(name, bundleId, "9.0");
    }

    void withdraw(const QString &name)
    {
        QFile::remove(packagePath(name));
        QFile::remove(m_storeDir + QLatin1Char('/') + name + QStringLiteral(".json"));
    }

    QString packagePath(const QString &name) const
    {
        return m_storeDir + QLatin1Char('/') + name + QStringLiteral(".cpk");
    }

private:
    bool describe(const QString &name, const QByteArray &bundleId, const QByteArray &version)
    {
        const QJsonObject info{{QStringLiteral("name"), name},
                               {QStringLiteral("desc"), QStringLiteral("offered by the test store")},
                               {QStringLiteral("version"), QString::fromUtf8(version)},
                               {QStringLiteral("author"), QStringLiteral("store tests")},
                               {QStringLiteral("bundle_id"), QString::fromUtf8(bundleId)}};
        return TestFiles::write(m_storeDir + QLatin1Char('/') + name + QStringLiteral(".json"),
                                QJsonDocument(info).toJson());
    }

    QString m_storeDir;
    QTemporaryDir m_work;
};
