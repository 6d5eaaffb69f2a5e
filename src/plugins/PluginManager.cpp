#include "plugins/PluginManager.h"

#include "plugins/PluginHostLibrary.h"
#include "plugins/package.h"
#include "store/PathHelper.h"
#include "support/Log.h"
#include "support/MainQueue.h"
#include "support/SerialWorker.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// How long the first listing waits for the first load of the registries.
constexpr int kFirstLoadWaitMs = 3000;

// A completion's target on the main thread: dropped when its context object is gone by then.
// The guard is taken on the caller's thread, while the context is known to be alive.
struct Completion {
    explicit Completion(QObject *context)
        : guard(context)
        , hasContext(context != nullptr)
    { }
    void post(std::function<void()> fn) const
    {
        dispatchMain([guard = guard, hasContext = hasContext, fn = std::move(fn)] {
            if (!hasContext || guard)
                fn();
        });
    }
    QPointer<QObject> guard;
    bool hasContext;
};

// A registry whose plugin call never ended: the stuck thread still runs on its states, so it is
// kept, reachable, for the rest of the process instead of being freed under that thread.
void keepForProcess(PluginRegistry *registry)
{
    static QMutex mutex;
    static auto *kept = new std::vector<PluginRegistry *>;
    const QMutexLocker lock(&mutex);
    kept->push_back(registry);
}

void setPaths(PluginRegistry *registry, const QString &root, const QString &extraction)
{
    if (plugin_registry_set_paths(QFile::encodeName(root).constData(),
                                  QFile::encodeName(extraction).constData(), registry)
        != 0)
        qCWarning(lcPlugins) << "cannot use plugin folder" << root;
}

} // namespace

PluginManager::PluginManager(const UrlOpener &opener, QObject *parent)
    : QObject(parent)
    , m_urlOpener(opener)
    , m_worker(std::make_unique<SerialWorker>())
{
    m_worker->async([this] { loadRegistries(); });
}

PluginManager::~PluginManager()
{
    if (!m_worker->stop()) {
        // A plugin stuck in C still runs on its states; they are kept until the process ends.
        qCWarning(lcPlugins) << "a plugin call did not end; its plugin states are left to the process's end";
        for (PluginRegistry *registry : {m_clipState, m_systemClipState}) {
            if (registry)
                keepForProcess(registry);
        }
        return;
    }
    if (m_clipState)
        plugin_registry_free(m_clipState);
    if (m_systemClipState)
        plugin_registry_free(m_systemClipState);
}

void PluginManager::installHostLibrary(PluginRegistry *registry) const
{
    registry->state_hook = plugin_install_app_library;
    registry->state_hook_context = const_cast<UrlOpener *>(&m_urlOpener);
}

void PluginManager::loadRegistries()
{
    const QString extraction = PathHelper::getTmpDir();
    m_clipState = plugin_registry_new();
    installHostLibrary(m_clipState);
    setPaths(m_clipState, PathHelper::getPluginsBaseDir(), extraction);
    plugin_registry_scan(m_clipState);

    m_systemClipState = plugin_registry_new();
    installHostLibrary(m_systemClipState);
    setPaths(m_systemClipState, systemPluginsFolder(), extraction);
    plugin_registry_scan(m_systemClipState);
    qCDebug(lcPlugins) << "loaded" << m_systemClipState->count << "system and" << m_clipState->count
                       << "user plugins";
    publishListings();
}

void PluginManager::publishListings()
{
    PluginDict all;
    PluginDict user;
    for (const PluginRegistry *registry : {m_systemClipState, m_clipState}) {
        for (std::int32_t i = 0; i < registry->count; ++i)
            addPlugin(registry->records[i], all);
    }
    for (std::int32_t i = 0; i < m_clipState->count; ++i)
        addPlugin(m_clipState->records[i], user);
    const QMutexLocker lock(&m_listingMutex);
    m_allPlugins = std::move(all);
    m_userPlugins = std::move(user);
    m_loaded = true;
    m_firstLoad.wakeAll();
    QMetaObject::invokeMethod(this, &PluginManager::pluginsChanged, Qt::QueuedConnection);
}

PluginManager::PluginDict PluginManager::listing(bool userOnly) const
{
    QMutexLocker lock(&m_listingMutex);
    const QDeadlineTimer firstLoad(kFirstLoadWaitMs);
    while (!m_loaded && m_firstLoad.wait(&m_listingMutex, firstLoad)) { }
    return userOnly ? m_userPlugins : m_allPlugins;
}

QString PluginManager::systemPluginsFolder()
{
    const QString installed =
        QCoreApplication::applicationDirPath() + QStringLiteral("/" QUILLET_INSTALLED_PLUGINS_RELATIVE);
    if (QFileInfo(installed).isDir())
        return QFileInfo(installed).canonicalFilePath();
    return QStringLiteral(QUILLET_SOURCE_PLUGINS_DIR);
}

void PluginManager::addPlugin(const PluginRecord *record, PluginDict &dict)
{
    if (!record)
        return;
    const PluginObject plugin = PluginObject::fromRecord(*record);
    dict.insert(plugin.plugin_bundle_id(), plugin);
}

PluginManager::PluginDict PluginManager::listPlugins()
{
    return listing(false);
}

PluginManager::PluginDict PluginManager::listUserPlugins()
{
    return listing(true);
}

QList<PluginObject> PluginManager::pluginsSortedByName()
{
    QList<PluginObject> plugins = listPlugins().values();
    std::stable_sort(plugins.begin(), plugins.end(), [](const PluginObject &a, const PluginObject &b) {
        return a.plugin_name() < b.plugin_name();
    });
    return plugins;
}

PluginRecord *PluginManager::findRecord(const PluginObject &plugin) const
{
    if (!plugin.isInstalled())
        return nullptr;
    for (const PluginRegistry *registry : {m_systemClipState, m_clipState}) {
        for (std::int32_t i = 0; i < registry->count; ++i) {
            if (plugin.pluginPath() == registry->records[i]->path)
                return registry->records[i];
        }
    }
    return nullptr;
}

std::optional<QString> PluginManager::run(const QByteArray &text, const PluginObject &plugin) const
{
    PluginRecord *record = findRecord(plugin);
    if (!record)
        return std::nullopt;
    std::size_t length = 0;
    const char *result = plugin_call_main(record, text.constData(), &length);
    if (!result)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString decoded = decoder.decode(QByteArrayView(result, static_cast<qsizetype>(length)));
    if (decoder.hasError())
        return std::nullopt;
    return decoded;
}

std::optional<QString> PluginManager::processText(const QString &text, const PluginObject &plugin)
{
    std::optional<QString> result;
    const QByteArray utf8 = text.toUtf8();
    m_worker->sync([&] { result = run(utf8, plugin); });
    return result;
}

void PluginManager::processText(const QString &text, const PluginObject &plugin, QObject *context,
                                std::function<void(std::optional<QString>)> complete)
{
    m_worker->async(
        [this, utf8 = text.toUtf8(), plugin, target = Completion(context), complete = std::move(complete)] {
            std::optional<QString> result = run(utf8, plugin);
            if (complete)
                target.post([complete, result] { complete(result); });
        });
}

void PluginManager::installPlugin(const QUrl &packageUrl, QObject *context,
                                  std::function<void(bool)> complete)
{
    const QByteArray path = QFile::encodeName(packageUrl.toLocalFile());
    m_worker->async([this, path, target = Completion(context), complete = std::move(complete)] {
        const bool installed = !path.isEmpty() && plugin_install_package(path.constData(), m_clipState) == 0;
        publishListings();
        if (!installed)
            qCWarning(lcPlugins) << "plugin package not installed:" << path;
        if (complete)
            target.post([complete, installed] { complete(installed); });
    });
}

void PluginManager::removePlugin(const PluginObject &plugin, QObject *context, std::function<void()> complete)
{
    m_worker->async([this, plugin, target = Completion(context), complete = std::move(complete)] {
        if (plugin.isInstalled() && plugin_remove(plugin.pluginPath().constData(), m_clipState) != 0)
            qCWarning(lcPlugins) << "plugin not removed:" << plugin.pluginPath();
        publishListings();
        if (complete)
            target.post(complete);
    });
}
