#pragma once

#include "sync/SyncStatus.h"

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

class MenuController;
class ProgressManager;

// The tray item: the "task-icon" image with the status menu. Clicking it pops the menu up at
// the pointer; while transfers run, a small spinner turns on the icon.
class StatusBarController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StatusBarController)

public:
    // Shows the tray item with the controller's main menu.
    // Shows the transfers' progress as a spinner.
    StatusBarController(MenuController &menus, ProgressManager &progress, QObject *parent = nullptr);

    QSystemTrayIcon &trayItem() { return m_trayItem; }
    // Shows a warning beside the tray item once a tray host has taken the item in (a message
    // shown before that has nowhere to appear and is lost), or after a while in any case.
    void showWarningWhenShown(const QString &text, int milliseconds);
    // The latest warning given to showWarningWhenShown, shown or still waiting; empty if none.
    QString latestWarning() const { return m_pendingWarning; }

    // The tooltip says where this computer stands with the sync service: in sync, sending, or
    // unable to reach it (or full) and since when; and how many clips failed for good.
    void showSyncStatus(const SyncStatus::Snapshot &status);
    static QString syncToolTip(const SyncStatus::Snapshot &status, const QDateTime &now);

    // Progress of the transfers as a fraction; 1.0 stops the spinner, anything else starts it.
    void setProgress(double fraction, bool animated);
    void startLoading();
    void stopLoading();
    bool isLoading() const { return m_spinner.isActive(); }

    // A left or middle click on the tray item opens the menu at the pointer, as the hot key does.
    void showMenuAtPointer();

Q_SIGNALS:
    // The spinner started (true) or stopped (false).
    void loadingChanged(bool loading);

private:
    void showSpinnerFrame();
    void showPendingWarning();

    MenuController &m_menus;
    QSystemTrayIcon m_trayItem;
    QIcon m_icon;
    QTimer m_spinner;
    QTimer m_warningWait;
    QString m_pendingWarning;
    int m_pendingWarningMs = 0;
    int m_warningTries = 0;
    int m_frame = 0;
};
