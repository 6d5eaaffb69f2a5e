#include "app/AppDelegate.h"

#include "app/CaptureSetup.h"
#include "capture/ClipController.h"
#include "capture/ShortcutController.h"
#include "menu/MenuController.h"
#include "menu/PluginMenuSource.h"
#include "menu/StatusBarController.h"
#include "platform/ClipAppHelper.h"
#include "platform/DesktopSharing.h"
#include "platform/LogindSleepWatcher.h"
#include "platform/X11HotKeyRegistrar.h"
#include "platform/X11KeyInjector.h"
#include "plugins/AdvancePrivacyManager.h"
#include "store/ConfigureManager.h"
#include "store/HistoryDatabase.h"
#include "support/Log.h"
#include "support/MainQueue.h"
#include "sync/AccountRequests.h"
#include "sync/MqttManager.h"
#include "sync/ServiceRequests.h"
#include "ui/PluginWindowController.h"
#include "ui/SettingWindowController.h"

#include <QDesktopServices>
#include <QPointer>

namespace {
constexpr int kStoreAlertMilliseconds = 30000;
} // namespace

AppDelegate::AppDelegate(QObject *parent)
    : QObject(parent)
    , m_keyInjector(std::make_unique<X11KeyInjector>())
    , m_hotKeys(std::make_unique<X11HotKeyRegistrar>())
    , m_sharing(std::make_unique<DesktopSharing>())
{
    m_versionCheck.setSingleShot(true);
    m_versionCheck.setInterval(kVersionCheckDelayMs);
    connect(&m_versionCheck, &QTimer::timeout, this, &AppDelegate::startCheckVersion);
}

AppDelegate::~AppDelegate()
{
    // The hot key's registrar goes with this object.
    ShortcutController::sharedInstance().stop();
}

void AppDelegate::start()
{
    // 0. A problem the store found at start (a damaged database moved aside, a data folder
    // that cannot be written) is shown once, as a message of the tray item.
    if (const QStringList alerts = HistoryDatabase::alerts(); !alerts.isEmpty()) {
        // Shown once the event loop runs, when the tray host has taken the icon in, and long
        // enough to be read: the history it speaks of is the user's.
        dispatchMain(this, [text = alerts.join(QLatin1Char('\n'))] {
            StatusBarController::sharedInstance().trayItem().showMessage(
                QStringLiteral("Quillet"), text, QSystemTrayIcon::Warning, kStoreAlertMilliseconds);
        });
    }
    // 1. Code without a window opens URLs through this object.
    ClipAppHelper::sharedInstance().setDelegate([self = QPointer<AppDelegate>(this)](const QUrl &url) {
        if (self)
            self->openURL(url);
    });
    // 2. Sleep and wake.
    followSleepAndWake();
    // 3. A signed-in user's change notices; a later sign-in connects as well.
    if (ConfigureManager::sharedInstance().isSignedIn())
        MqttManager::sharedInstance().connect();
    QObject::connect(&ConfigureManager::sharedInstance(), &ConfigureManager::signedIn, this,
                     [] { MqttManager::sharedInstance().connect(); });
    // 4. Device init, asynchronous; start-up never waits for the network.
    initRequest();
    // 5. The tray item, with the menu controller and its empty menus.
    m_statusController = &StatusBarController::sharedInstance();
    MenuController::sharedInstance().setPluginSource(pluginMenuSource());
    // 6. The privacy script, loaded before the first capture consults it.
    AdvancePrivacyManager::sharedInstance();
    // 7. The global hot key.
    ShortcutController::sharedInstance().start(*m_hotKeys,
                                               [] { MenuController::sharedInstance().showMenu(); });
    // 8. The clipboard monitor; its first poll captures what the clipboard holds now.
    ClipController &capture = CaptureSetup::start();
    capture.setMenuRebuild([] { MenuController::sharedInstance().buildMenu(); });
    MenuController::sharedInstance().setPlatform(
        {&capture.pasteboard(), m_keyInjector.get(), m_sharing.get()});
    // The sign-in and settings items open the settings window, at their pane or as it was.
    // Signing in or out, from the account pane or when the service reports the token expired,
    // rebuilds the menu through the settings window, open or not.
    SettingWindowController::sharedInstance().setMenuRebuilder(
        [] { MenuController::sharedInstance().buildMenu(); });
    MenuController::sharedInstance().setSettingsWindow([](std::optional<int> pane) {
        SettingWindowController &settings = SettingWindowController::sharedInstance();
        settings.showWindow();
        if (pane)
            settings.showPanel(*pane);
    });
    // The plugins item opens the plugin window, which fetches the store's list and updates.
    MenuController::sharedInstance().setPluginWindow(
        [] { PluginWindowController::sharedInstance().showWindow(); });
    // 9. The first menu: the first use of the store opens the database and updates its schema.
    MenuController::sharedInstance().buildMenu();
    // 10. The version check, 10 seconds from now.
    checkVersion();
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
    m_initRequest->request(
        [](const RequestResult &result, int, const std::optional<RequestError> &error) {
            if (!error && result && RequestManager::replyCode(*result) == 0)
                InitRequestManager::storePages(*result);
        },
        this);
}

void AppDelegate::checkVersion()
{
    m_versionCheck.start();
}

void AppDelegate::startCheckVersion()
{
    // A reply with code 0 and a usable version stores "newversion"; the rebuilt menu's
    // settings item then names it while it is newer than this build. Failures stay silent.
    std::make_shared<CheckUpdateRequestManager>()->request(
        [](const RequestResult &result, int, const std::optional<RequestError> &error) {
            if (CheckUpdateRequestManager::storeOfferedVersion(result, error))
                dispatchMain([] { MenuController::sharedInstance().buildMenu(); });
        },
        this);
}

void AppDelegate::onWake()
{
    qCInfo(lcApp) << "woke from sleep";
    MqttManager::sharedInstance().connect();
    initRequest();
    checkVersion();
}

void AppDelegate::onSleep()
{
    qCInfo(lcApp) << "going to sleep";
    MqttManager::sharedInstance().close();
}

void AppDelegate::openURL(const QUrl &url)
{
    if (!QDesktopServices::openUrl(url))
        qCInfo(lcApp) << "no program opens" << url;
}
