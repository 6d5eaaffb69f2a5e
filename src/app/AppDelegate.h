#pragma once

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <memory>

class DesktopSharing;
class InitRequestManager;
class SleepWatcher;
class StatusBarController;
class X11HotKeyRegistrar;
class X11KeyInjector;

// Starts the long-lived parts of the program in a fixed order once the application object
// exists, follows sleep and wake, and opens URLs for code without a window. Lives until the
// process ends.
class AppDelegate final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppDelegate)

public:
    static constexpr int kVersionCheckDelayMs = 10000;

    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    void start();

    void followSleepAndWake();
    void initRequest();
    void checkVersion();
    void startCheckVersion();
    void onWake();
    void onSleep();
    Q_INVOKABLE void openURL(const QUrl &url);

    StatusBarController *statusController() const { return m_statusController; }
    SleepWatcher *sleepWatcher() const { return m_sleepWatcher.get(); }
    bool isVersionCheckScheduled() const { return m_versionCheck.isActive(); }

private:
    StatusBarController *m_statusController = nullptr;
    std::unique_ptr<SleepWatcher> m_sleepWatcher;
    std::unique_ptr<X11KeyInjector> m_keyInjector;
    std::unique_ptr<X11HotKeyRegistrar> m_hotKeys;
    std::unique_ptr<DesktopSharing> m_sharing;
    QTimer m_versionCheck;
    // The latest device announcement; a new one replaces it at every start and wake.
    std::shared_ptr<InitRequestManager> m_initRequest;
};
