#pragma once

#include "capture/ClipController.h"
#include "capture/ShortcutController.h"
#include "menu/MenuController.h"
#include "menu/StatusBarController.h"
#include "platform/DesktopSharing.h"
#include "platform/UrlOpener.h"
#include "platform/X11HotKeyRegistrar.h"
#include "platform/X11KeyInjector.h"
#include "platform/X11Pasteboard.h"
#include "plugins/AdvancePrivacyManager.h"
#include "plugins/PluginManager.h"
#include "store/ClipFileManager.h"
#include "store/ConfigureManager.h"
#include "store/HistoryStore.h"
#include "store/Settings.h"
#include "sync/ClipPluginPackageHelper.h"
#include "sync/SyncEngine.h"

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <memory>

class InitRequestManager;
class PluginWindowController;
class SettingWindowController;
class HistoryWindow;
class InstanceBus;
class SleepWatcher;

// The composition root: creates each long-lived part of the program once, in dependency order,
// hands each one what it uses, wires their signals, follows sleep and wake, and tears them down
// in reverse order when the program ends (every worker thread ends with its owner). Main
// thread only; created after the QApplication and destroyed before it.
class AppDelegate final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppDelegate)

public:
    static constexpr int kVersionCheckDelayMs = 10000;

    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    // Starts the work that needs every part in place: notices, device announcement, hot key,
    // the first menu and the version check.
    void start();

    // Shows the menu at the pointer, or the history window (from the hot keys, the menu item
    // and the commands of a second start).
    void showMenu();
    void showHistory();
    // Follows the commands a second start sends over the bus.
    void listenTo(InstanceBus &bus);

    void followSleepAndWake();
    void initRequest();
    void checkVersion();
    void startCheckVersion();
    void onWake();
    void onSleep();
    void openURL(const QUrl &url);

    MenuController &menus() { return m_menus; }
    SyncEngine &sync() { return m_sync; }
    StatusBarController &tray() { return m_tray; }
    SleepWatcher *sleepWatcher() const { return m_sleepWatcher.get(); }
    bool isVersionCheckScheduled() const { return m_versionCheck.isActive(); }

private:
    void showSettings(std::optional<int> pane);
    std::unique_ptr<SettingWindowController> makeSettingsWindow();
    // Installs the chosen interface language and lets the menu and windows take it.
    void followLanguage();
    void showPluginWindow();

    // Desktop services.
    X11KeyInjector m_keyInjector;
    X11HotKeyRegistrar m_hotKeys;
    X11HotKeyRegistrar m_historyHotKeys;
    DesktopSharing m_sharing;
    X11Pasteboard m_pasteboard;
    UrlOpener m_urlOpener;
    std::unique_ptr<SleepWatcher> m_sleepWatcher;
    // The store: the settings, the payload files, the account, the store's shared face; then
    // sync.
    Settings m_settings;
    ClipFileManager m_files;
    ConfigureManager m_account;
    HistoryStore m_store;
    SyncEngine m_sync;
    // Plugins and privacy.
    PluginManager m_plugins;
    ClipPluginPackageHelper m_pluginPackages;
    AdvancePrivacyManager m_privacyScript;
    // Capture, hot key, menu and tray.
    ClipController m_capture;
    ShortcutController m_shortcuts;
    ShortcutController m_historyShortcuts;
    MenuController m_menus;
    StatusBarController m_tray;
    // Windows.
    std::unique_ptr<SettingWindowController> m_settingsWindow;
    std::unique_ptr<PluginWindowController> m_pluginWindow;
    std::unique_ptr<HistoryWindow> m_historyWindow;
    bool m_settingsWindowStale = false;

    QTimer m_versionCheck;
    // The latest device announcement; a new one replaces it at every start and wake.
    std::shared_ptr<InitRequestManager> m_initRequest;
};
