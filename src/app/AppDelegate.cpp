#include "app/AppDelegate.h"

#include "app/PrivacyCapture.h"
#include "menu/PluginMenuSource.h"
#include "platform/InstanceBus.h"
#include "platform/LogindSleepWatcher.h"
#include "store/ClipFileManager.h"
#include "store/ConfigureManager.h"
#include "store/HistoryDatabase.h"
#include "support/Log.h"
#include "support/MainQueue.h"
#include "sync/AccountRequests.h"
#include "sync/MqttManager.h"
#include "sync/ServiceRequests.h"
#include "ui/HistoryWindow.h"
#include "ui/InterfaceLanguage.h"
#include "ui/PluginWindowController.h"
#include "ui/SettingWindowController.h"

#include <QDesktopServices>

namespace {
constexpr int kStoreAlertMilliseconds = 30000;
constexpr int kSignInEndedMilliseconds = 30000;
} // namespace

AppDelegate::AppDelegate(QObject *parent)
    : QObject(parent)
    , m_urlOpener(this, [this](const QUrl &url) { openURL(url); })
    , m_account(m_settings, m_files)
    , m_store(m_files)
    , m_sync(m_account, m_store)
    , m_plugins(m_urlOpener)
    , m_pluginPackages(m_sync, m_plugins)
    , m_privacyScript(m_settings)
    , m_capture(m_pasteboard, m_files)
    , m_shortcuts(m_settings)
    , m_historyShortcuts(m_settings, ShortcutController::Role::History)
    , m_menus(m_sync)
    , m_tray(m_menus, m_sync.progress())
{
    m_versionCheck.setSingleShot(true);
    m_versionCheck.setInterval(kVersionCheckDelayMs);
    connect(&m_versionCheck, &QTimer::timeout, this, &AppDelegate::startCheckVersion);

    // The capture asks the privacy rules and the script about every clip, rebuilds the menu
    // after every change it saw, and pushes every stored clip when a user is signed in.
    m_capture.setPrivacy(std::make_unique<PrivacyCapture>(m_privacyScript, m_account));
    // The sign-out emptied the history; what the clipboard holds starts the new one.
    connect(&m_account, &ConfigureManager::signedOut, &m_capture,
            &ClipController::keepCurrentContentAfterSignOut);
    // When the service ends the sign-in (a password changed elsewhere, a sign-in unused too
    // long), sync stops: the user is told why and that the history here is kept.
    connect(&m_account, &ConfigureManager::signInEnded, this, [this] {
        qCInfo(lcApp) << "the sync service ended the sign-in; the local history is kept";
        m_tray.showWarningWhenShown(tr("同步服务已结束本机的登录（例如密码已在其他设备上修改），"
                                       "同步已停止。本机的历史纪录和收藏都已保留，"
                                       "请在设置的账户页重新登录。"),
                                    kSignInEndedMilliseconds);
    });
    m_capture.setMenuRebuild([this] { m_menus.buildMenu(); });
    m_capture.setHistoryProcess([this] { m_sync.historyLane().process(); });

    MenuActions &actions = m_menus.actions();
    actions.setPluginSource(pluginMenuSource(m_plugins));
    actions.setPlatform({&m_pasteboard, &m_keyInjector, &m_sharing});
    actions.setSettingsWindow([this](std::optional<int> pane) { showSettings(pane); });
    actions.setPluginWindow([this] { showPluginWindow(); });
    actions.setHistoryWindow([this] { showHistory(); });
    // Parts that depend on a setting follow its changes, whoever made them.
    connect(&m_settings, &Settings::changed, this, [this](Settings::Key key) {
        switch (key) {
        case Settings::Key::PollInterval:
            m_capture.startClipObserver();
            break;
        case Settings::Key::OfferedVersion: // the menu's settings item shows a newer version
            m_menus.scheduleBuild();
            break;
        case Settings::Key::Language:
            followLanguage();
            break;
        default:
            break;
        }
    });
    // A text clip's submenu lists the installed plugins.
    connect(&m_plugins, &PluginManager::pluginsChanged, &m_menus, &MenuController::scheduleBuild);
}

AppDelegate::~AppDelegate()
{
    // The hot key's registrar goes with this object.
    m_shortcuts.stop();
    m_historyShortcuts.stop();
}

void AppDelegate::start()
{
    // A problem the store found at start (a damaged database moved aside, a data folder that
    // cannot be written) is shown once, as a message of the tray item.
    // Long enough to be read: the history it speaks of is the user's.
    if (const QStringList alerts = HistoryDatabase::alerts(); !alerts.isEmpty())
        m_tray.showWarningWhenShown(alerts.join(QLatin1Char('\n')), kStoreAlertMilliseconds);
    followSleepAndWake();
    // The tray item's tooltip follows sync; a full account on the service is told once.
    connect(&m_sync.status(), &SyncStatus::changed, this,
            [this] { m_tray.showSyncStatus(m_sync.status().snapshot()); });
    connect(&m_sync.status(), &SyncStatus::quotaFull, this, [this] {
        m_tray.trayItem().showMessage(
            QStringLiteral("Quillet"),
            tr("同步服务上此帐号的存储空间已满：新的内容暂时留在本机，空间够用后会自动继续上传。"),
            QSystemTrayIcon::Warning, kStoreAlertMilliseconds);
    });
    // Whenever the notices connect (again), what was sent meanwhile is pulled.
    connect(&m_sync, &SyncEngine::noticesConnected, &m_menus.actions(), &MenuActions::push);
    // A signed-in user's change notices; a later sign-in connects as well.
    if (m_sync.account().isSignedIn())
        m_sync.notices().connect();
    connect(&m_sync.account(), &ConfigureManager::signedIn, this, [this] { m_sync.notices().connect(); });
    // Device init, asynchronous; start-up never waits for the network.
    initRequest();
    // Signing in or out, from the account pane or when the service reports the token expired,
    // rebuilds the menu through the settings window, open or not.
    m_settingsWindow = makeSettingsWindow();
    m_shortcuts.start(m_hotKeys, [this] { m_menus.showMenu(); });
    m_historyShortcuts.start(m_historyHotKeys, [this] { showHistory(); });
    // The first menu: the first use of the store opens the database and updates its schema.
    m_menus.buildMenu();
    // What waits is sent at start, and again whenever the network comes back.
    m_sync.watchNetwork();
    if (m_sync.account().isSignedIn())
        m_sync.resumeLanes();
    m_tray.showSyncStatus(m_sync.status().snapshot());
    checkVersion();
}

void AppDelegate::followLanguage()
{
    InterfaceLanguage::apply(Settings::language());
    m_menus.scheduleBuild();
    // Windows take their texts when they are made: a hidden one is made again when next
    // shown; the settings window, where the choice is made, when it is next opened.
    if (m_pluginWindow && !m_pluginWindow->isVisible())
        m_pluginWindow.reset();
    if (m_historyWindow && !m_historyWindow->isVisible())
        m_historyWindow.reset();
    m_settingsWindowStale = true;
}

void AppDelegate::showSettings(std::optional<int> pane)
{
    if (!m_settingsWindow)
        return;
    if (m_settingsWindowStale && !m_settingsWindow->isVisible()) {
        m_settingsWindowStale = false;
        m_settingsWindow = makeSettingsWindow();
    }
    m_settingsWindow->showWindow();
    if (pane)
        m_settingsWindow->showPanel(*pane);
}

std::unique_ptr<SettingWindowController> AppDelegate::makeSettingsWindow()
{
    auto window = std::make_unique<SettingWindowController>(
        SettingsServices{&m_sync, &m_shortcuts, &m_privacyScript, &m_historyShortcuts});
    window->setMenuRebuilder([this] { m_menus.buildMenu(); });
    return window;
}

void AppDelegate::showMenu()
{
    m_menus.showMenu();
}

void AppDelegate::showHistory()
{
    // Made on first use; a paste goes through the menu's action, a deletion as well.
    if (!m_historyWindow) {
        m_historyWindow = std::make_unique<HistoryWindow>();
        MenuActions &actions = m_menus.actions();
        connect(m_historyWindow.get(), &HistoryWindow::chosen, &actions, &MenuActions::clickItem);
        connect(m_historyWindow.get(), &HistoryWindow::removeRequested, &actions, &MenuActions::deleteClip);
        connect(&actions, &MenuActions::changed, m_historyWindow.get(), [window = m_historyWindow.get()] {
            if (window->isVisible())
                window->refresh();
        });
    }
    m_historyWindow->showWindow();
}

void AppDelegate::listenTo(InstanceBus &bus)
{
    // Queued: the menu runs its own event loop until it closes, and the caller's reply must
    // not wait for that.
    connect(&bus, &InstanceBus::menuRequested, this, &AppDelegate::showMenu, Qt::QueuedConnection);
    connect(&bus, &InstanceBus::historyRequested, this, &AppDelegate::showHistory, Qt::QueuedConnection);
}

void AppDelegate::showPluginWindow()
{
    // Made on first use: most sessions never open it.
    if (!m_pluginWindow)
        m_pluginWindow = std::make_unique<PluginWindowController>(m_pluginPackages, m_urlOpener);
    m_pluginWindow->showWindow();
}

void AppDelegate::followSleepAndWake()
{
    if (m_sleepWatcher)
        return;
    m_sleepWatcher = std::make_unique<LogindSleepWatcher>();
    connect(m_sleepWatcher.get(), &SleepWatcher::willSleep, this, &AppDelegate::onSleep);
    connect(m_sleepWatcher.get(), &SleepWatcher::didWake, this, &AppDelegate::onWake);
}

void AppDelegate::initRequest()
{
    // An expired token signs out while the reply is read; a successful reply names the pages
    // of the about pane and of the plugin window. Nothing is shown either way.
    m_initRequest = std::make_shared<InitRequestManager>();
    m_sync.send(
        m_initRequest,
        [this](const RequestResult &result, int, const std::optional<RequestError> &error) {
            if (!error && result && RequestManager::replyCode(*result) == 0)
                InitRequestManager::storePages(m_settings, *result);
        },
        this);
}

void AppDelegate::checkVersion()
{
    m_versionCheck.start();
}

void AppDelegate::startCheckVersion()
{
    // A reply with code 0 and a usable version stores "newversion"; the menu, rebuilt on that
    // change, then names it while it is newer than this build. Failures stay silent.
    m_sync.send(
        std::make_shared<CheckUpdateRequestManager>(),
        [this](const RequestResult &result, int, const std::optional<RequestError> &error) {
            CheckUpdateRequestManager::storeOfferedVersion(m_settings, result, error);
        },
        this);
}

void AppDelegate::onWake()
{
    qCInfo(lcApp) << "woke from sleep";
    m_sync.notices().connect();
    initRequest();
    checkVersion();
}

void AppDelegate::onSleep()
{
    qCInfo(lcApp) << "going to sleep";
    m_sync.notices().close();
}

void AppDelegate::openURL(const QUrl &url)
{
    if (!QDesktopServices::openUrl(url))
        qCInfo(lcApp) << "no program opens" << url;
}
