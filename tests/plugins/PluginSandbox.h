#pragma once

#include "PackageBuilder.h"
#include "plugins/package.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

// The plugin file module over a temporary folder: a plugin root ("plugins"), an extraction
// folder ("tmp") and a registry set to both.
class PluginSandbox final
{
public:
    using Registry = std::unique_ptr<PluginRegistry, decltype(&plugin_registry_free)>;

    PluginSandbox()
    {
        QDir().mkpath(root());
        QDir().mkpath(extraction());
        if (plugin_registry_set_paths(path8(root()).constData(), path8(extraction()).constData(),
                                      m_registry.get())
            != 0)
            m_registry.reset();
    }

    static QByteArray path8(const QString &path) { return QFile::encodeName(path); }
    QString folder() const { return m_dir.path(); }
    QString path(const QString &name) const { return folder() + QLatin1Char('/') + name; }
    QString root() const { return path(QStringLiteral("plugins")); }
    QString extraction() const { return path(QStringLiteral("tmp")); }
    // Null when the paths could not be set.
    PluginRegistry *registry() const { return m_registry.get(); }

    // Writes the entries as the package p.cpk and installs it into this registry.
    int install(const QList<PackageBuilder::Entry> &entries) const
    {
        const QString archive = path(QStringLiteral("p.cpk"));
        return PackageBuilder::writeZip(archive, entries)
                   ? plugin_install_package(path8(archive).constData(), m_registry.get())
                   : -2;
    }

private:
    QTemporaryDir m_dir;
    Registry m_registry{plugin_registry_new(), plugin_registry_free};
};
