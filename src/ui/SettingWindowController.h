#pragma once

#include "ui/SettingsServices.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class SettingSideBar;

// The settings window: a sidebar of four rows (general, account, privacy, about) and the
// pane of the selected row. A pane is made anew every time it is shown, so it always shows
// fresh values; the account row follows sign-in and sign-out. Main thread only.
class SettingWindowController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingWindowController)

public:
    enum Pane { General = 0, Account = 1, Privacy = 2, About = 3, PaneCount = 4 };

    explicit SettingWindowController(const SettingsServices &services, QWidget *parent = nullptr);

    // Shows the window in front, centred on the screen the first time.
    void showWindow();
    // Selects the row and shows its pane; other indexes are ignored.
    void showPanel(int index);
    // Replaces the current pane by a fresh pane of the row (none for an index past the rows).
    void changeViewControllerAtIndex(int index);
    // Shows the selected row's pane again and rebuilds the status menu: the account state
    // changed.
    void reloadController();
    // How the window has the status menu rebuilt; the application installs it at start-up.
    void setMenuRebuilder(std::function<void()> rebuild) { m_rebuildMenu = std::move(rebuild); }
    // Queues a rebuild of the status menu on the main thread; the shown pane stays.
    void rebuildMenu();

    SettingSideBar *sideBar() const { return m_sideBar; }
    QWidget *panelView() const { return m_panelView; }
    QWidget *currentViewController() const { return m_currentViewController; }

private:
    QWidget *createPane(int index);

    SettingsServices m_services;
    SettingSideBar *m_sideBar = nullptr;
    QWidget *m_panelView = nullptr;
    QPointer<QWidget> m_currentViewController;
    bool m_placed = false;
    std::function<void()> m_rebuildMenu;
};
