#pragma once

#include "plugins/PluginObject.h"

#include <QHash>
#include <QList>
#include <QString>

#include <functional>

class PluginManager;
class QNetworkReply;
class QObject;
class QTemporaryFile;
class RequestTransport;
class SyncEngine;

// Downloads plugin packages that the store offers, keeps them in the "plugin_cache" folder and
// hands them to PluginManager's installer. Each download goes into a temporary file of the
// cache folder that is renamed into place once complete.
class ClipPluginPackageHelper final
{
    Q_DISABLE_COPY_MOVE(ClipPluginPackageHelper)

public:
    // Receives true when the package was installed.
    using Completion = std::function<void(bool installed)>;

    // A package larger than this is refused while it downloads.
    static constexpr qint64 kMaxPackageBytes = 32 * 1024 * 1024;

    ClipPluginPackageHelper(SyncEngine &sync, PluginManager &plugins);

    SyncEngine &sync() { return m_sync; }
    PluginManager &plugins() { return m_plugins; }

    // md5_hex of "<bundle id>_<version>" followed by ".cpk".
    static QString fileNameFromPlugin(const PluginObject &plugin);
    // The cached package of plugin, whether or not it exists.
    static QString cachePathFor(const PluginObject &plugin);

    // Installs the store's plugin from the package at url: from the cache when it holds the
    // package, else after a download. Only http and https URLs are fetched. A second call for a
    // URL that is downloading waits for that download. complete runs on the main thread
    // (dropped when context is gone by then). A cached package that does not install is
    // deleted, so the next try downloads it again.
    void installPackageFromUrl(const QString &url, const PluginObject &plugin, QObject *context,
                               Completion complete);

private:
    struct Download {
        QNetworkReply *reply = nullptr;
        QTemporaryFile *file = nullptr;
        QString cachePath;
        QList<Completion> waiting;
        bool tooLarge = false;
    };

    void startDownload(const QUrl &url, const QString &key, const QString &cachePath, Completion complete);
    void finishDownload(const QString &key);
    void install(const QString &cachePath, const QList<Completion> &waiting);

    SyncEngine &m_sync;
    RequestTransport &m_transport;
    PluginManager &m_plugins;
    QHash<QString, Download> m_downloads; // by the URL as given
};
