#pragma once

#include "plugins/PluginObject.h"

#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QWaitCondition>

#include <functional>
#include <memory>
#include <optional>

class SerialWorker;
class UrlOpener;
struct PluginRecord;
struct PluginRegistry;

// Loads, lists, runs, installs and removes plugins. Two registries: the system plugins that ship
// with Quillet (read-only) and the user's plugins in the data folder. Every registry operation
// and every Lua call runs on the manager's own serial worker. The listings never wait for that
// worker (a plugin stuck in a C call cannot hold up the menu): they answer the plugins as of the
// last load, install or remove; only the very first listing waits, briefly, for the first load.
class PluginManager final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PluginManager)

public:
    using PluginDict = QMap<QString, PluginObject>; // plugin_bundle_id → plugin

    // Starts loading both registries on the plugin worker. Plugins open URLs through opener,
    // which must outlive the manager.
    explicit PluginManager(const UrlOpener &opener, QObject *parent = nullptr);
    // Waits briefly for the plugin call under way (a Lua loop meets its deadline), then closes
    // every Lua state; a call stuck in C keeps its states until the process ends.
    ~PluginManager();

    // System plugins, then user plugins; a user plugin replaces a system plugin of the same
    // bundle id. Objects stay usable across reloads (see PluginObject).
    PluginDict listPlugins();
    PluginDict listUserPlugins();
    // The values of listPlugins sorted by plugin_name ascending: the entries of a text clip's
    // submenu.
    QList<PluginObject> pluginsSortedByName();

    // Runs the plugin's main on text and waits for the plugin worker (so never on the menu's
    // path; the menu uses the call below): the result, or none when the plugin is gone,
    // fails, runs past its time limit, returns no string or number, or returns invalid UTF-8.
    std::optional<QString> processText(const QString &text, const PluginObject &plugin);
    // The same without waiting; complete runs on the main thread unless context is gone by then.
    void processText(const QString &text, const PluginObject &plugin, QObject *context,
                     std::function<void(std::optional<QString>)> complete);

    // Installs a ".cpk" package file into the user registry. complete (on the main thread,
    // dropped when context is gone) learns whether the package was installed.
    void installPlugin(const QUrl &packageUrl, QObject *context,
                       std::function<void(bool installed)> complete);
    // Deletes an installed user plugin's folder and reloads the user registry. System plugins
    // are never deleted. complete runs as above.
    void removePlugin(const PluginObject &plugin, QObject *context, std::function<void()> complete);

    static void addPlugin(const PluginRecord *record, PluginDict &dict);

    // Where the system plugins are: the installation's share/quillet/plugins, or, for a program
    // run from its build tree, the source tree's resources/plugins.
    static QString systemPluginsFolder();

signals:
    // The installed plugins changed (loaded, installed, removed); on the main thread.
    void pluginsChanged();

private:
    void loadRegistries();
    void installHostLibrary(PluginRegistry *registry) const;
    // Takes the listings from the registries; on the plugin worker after every change of them.
    void publishListings();
    PluginDict listing(bool userOnly) const;
    PluginRecord *findRecord(const PluginObject &plugin) const;
    std::optional<QString> run(const QByteArray &text, const PluginObject &plugin) const;

    const UrlOpener &m_urlOpener;
    std::unique_ptr<SerialWorker> m_worker;
    PluginRegistry *m_clipState = nullptr;
    PluginRegistry *m_systemClipState = nullptr;

    mutable QMutex m_listingMutex;
    mutable QWaitCondition m_firstLoad;
    bool m_loaded = false;
    PluginDict m_allPlugins;
    PluginDict m_userPlugins;
};
