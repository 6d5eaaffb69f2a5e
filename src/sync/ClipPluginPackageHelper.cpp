#include "sync/ClipPluginPackageHelper.h"

#include "plugins/PluginManager.h"
#include "store/PathHelper.h"
#include "support/Log.h"
#include "support/MainQueue.h"
#include "support/Md5.h"
#include "support/WebUrl.h"
#include "sync/RequestTransport.h"
#include "sync/SyncEngine.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTemporaryFile>

#include <memory>

namespace {

// The caller's completion on the main thread, dropped when its context is gone.
ClipPluginPackageHelper::Completion guarded(QObject *context, ClipPluginPackageHelper::Completion complete)
{
    if (!complete)
        return {};
    if (!context)
        return complete;
    return [guard = QPointer<QObject>(context), complete = std::move(complete)](bool installed) {
        if (guard)
            complete(installed);
    };
}

void callOnMain(const QList<ClipPluginPackageHelper::Completion> &waiting, bool installed)
{
    dispatchMain([waiting, installed] {
        for (const auto &complete : waiting) {
            if (complete)
                complete(installed);
        }
    });
}

} // namespace

ClipPluginPackageHelper::ClipPluginPackageHelper(SyncEngine &sync, PluginManager &plugins)
    : m_sync(sync)
    , m_transport(sync.transport())
    , m_plugins(plugins)
{ }

QString ClipPluginPackageHelper::fileNameFromPlugin(const PluginObject &plugin)
{
    const QString joined = QStringLiteral("%1_%2").arg(plugin.plugin_bundle_id(), plugin.plugin_version());
    return QStringLiteral("%1.cpk").arg(md5_hex(joined.toUtf8()));
}

QString ClipPluginPackageHelper::cachePathFor(const PluginObject &plugin)
{
    return PathHelper::getPluginsPackageCachePath(fileNameFromPlugin(plugin));
}

void ClipPluginPackageHelper::installPackageFromUrl(const QString &urlText, const PluginObject &plugin,
                                                    QObject *context, Completion complete)
{
    complete = guarded(context, std::move(complete));
    const QUrl url(urlText, QUrl::StrictMode);
    if (!isWebUrl(url)) {
        qCInfo(lcSync) << "plugin package URL refused for" << plugin.plugin_bundle_id();
        callOnMain({complete}, false);
        return;
    }
    const QString cachePath = cachePathFor(plugin);
    if (QFile::exists(cachePath)) {
        install(cachePath, {complete});
        return;
    }
    m_transport.onTransportThread([this, url, urlText, cachePath, complete] {
        auto running = m_downloads.find(urlText);
        if (running != m_downloads.end()) {
            running->waiting.append(complete);
            return;
        }
        startDownload(url, urlText, cachePath, complete);
    });
}

void ClipPluginPackageHelper::startDownload(const QUrl &url, const QString &key, const QString &cachePath,
                                            Completion complete)
{
    auto *file =
        new QTemporaryFile(PathHelper::getPluginsPackageCachePath(QStringLiteral("download-XXXXXX.part")));
    if (!file->open()) {
        qCWarning(lcSync) << "cannot create a download file in" << PathHelper::getPluginsPackageCachePath();
        delete file;
        callOnMain({complete}, false);
        return;
    }
    Download download;
    download.file = file;
    download.cachePath = cachePath;
    download.waiting.append(complete);
    // Certificates are checked like every request to the service.
    QNetworkRequest request = m_transport.makeRequest(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    download.reply = m_transport.network().get(request);
    QNetworkReply *reply = download.reply;
    m_downloads.insert(key, download);

    QObject::connect(reply, &QNetworkReply::readyRead, reply, [this, key, reply] {
        auto it = m_downloads.find(key);
        if (it == m_downloads.end() || it->tooLarge)
            return;
        const QByteArray chunk = reply->readAll();
        if (it->file->size() + chunk.size() > kMaxPackageBytes) {
            it->tooLarge = true;
            reply->abort();
            return;
        }
        if (it->file->write(chunk) != chunk.size())
            reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [this, key] { finishDownload(key); });
}

void ClipPluginPackageHelper::finishDownload(const QString &key)
{
    const Download download = m_downloads.take(key);
    download.reply->deleteLater();
    std::unique_ptr<QTemporaryFile> file(download.file);
    file->setParent(nullptr);
    if (download.reply->error() != QNetworkReply::NoError || download.tooLarge) {
        qCInfo(lcSync) << "plugin package download failed:" << download.reply->url().path()
                       << download.reply->error() << (download.tooLarge ? "too large" : "");
        callOnMain(download.waiting, false);
        return;
    }
    const QByteArray rest = download.reply->readAll();
    if (file->write(rest) != rest.size() || !file->flush()) {
        callOnMain(download.waiting, false);
        return;
    }
    // A package of the same name that arrived meanwhile is the same package.
    QFile::remove(download.cachePath);
    if (!file->rename(download.cachePath)) {
        qCWarning(lcSync) << "cannot move the downloaded package to" << download.cachePath;
        callOnMain(download.waiting, false);
        return;
    }
    file->setAutoRemove(false);
    file.reset();
    install(download.cachePath, download.waiting);
}

void ClipPluginPackageHelper::install(const QString &cachePath, const QList<Completion> &waiting)
{
    m_plugins.installPlugin(QUrl::fromLocalFile(cachePath), nullptr, [cachePath, waiting](bool installed) {
        if (!installed) {
            // A package that cannot be installed is no use in
            // the cache.
            QFile::remove(cachePath);
        }
        for (const auto &complete : waiting) {
            if (complete)
                complete(installed);
        }
    });
}
