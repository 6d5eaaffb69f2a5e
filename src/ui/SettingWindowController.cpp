#include "ui/SettingWindowController.h"

#include "store/ConfigureManager.h"
#include "support/MainQueue.h"
#include "sync/SyncEngine.h"
#include "ui/AboutViewController.h"
#include "ui/GeneralViewController.h"
#include "ui/PrivacyViewController.h"
#include "ui/SettingSideBar.h"
#include "ui/UserInfoViewController.h"
#include "ui/UserloginViewController.h"
#include "ui/WindowRaising.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

SettingWindowController::SettingWindowController(const SettingsServices &services, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_services(services)
    , m_sideBar(new SettingSideBar(this))
    , m_panelView(new QWidget(this))
{
    setObjectName(QStringLiteral("SettingWindowController"));
    setWindowTitle(tr("设置"));
    closeOnEscapeAndControlW(*this);
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(620, 440);

    m_panelView->setObjectName(QStringLiteral("panelView"));
    auto *panelLayout = new QVBoxLayout(m_panelView);
    panelLayout->setContentsMargins(0, 0, 0, 0);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_sideBar);
    layout->addWidget(m_panelView, 1);

    m_sideBar->addButton(tr("常规"), QStringLiteral("work-white-32"), QStringLiteral("work-gray-32"));
    m_sideBar->addButton(tr("用户"), QStringLiteral("icon1-white"), QStringLiteral("icon1-gray"));
    m_sideBar->addButton(tr("隐私"), QStringLiteral("tab_privacy_white"), QStringLiteral("tab_privacy_gray"));
    m_sideBar->addButton(tr("关于"), QStringLiteral("about-white"), QStringLiteral("about-gray"));
    connect(m_sideBar, &SettingSideBar::rowSelected, this,
            &SettingWindowController::changeViewControllerAtIndex);
    m_sideBar->selectRow(General);
    changeViewControllerAtIndex(General);

    ConfigureManager &account = m_services.sync->account();
    connect(&account, &ConfigureManager::signedIn, this, &SettingWindowController::reloadController);
    connect(&account, &ConfigureManager::signedOut, this, &SettingWindowController::reloadController);
}

void SettingWindowController::showWindow()
{
    showInFront(*this, m_placed);
}

void SettingWindowController::showPanel(int index)
{
    if (index < 0 || index >= PaneCount)
        return;
    m_sideBar->selectRow(index);
    changeViewControllerAtIndex(index);
}

void SettingWindowController::changeViewControllerAtIndex(int index)
{
    if (m_currentViewController) {
        m_panelView->layout()->removeWidget(m_currentViewController);
        // Later, not now: the pane may be the sender of the signal that led here.
        m_currentViewController->hide();
        m_currentViewController->deleteLater();
        m_currentViewController = nullptr;
    }
    if (index >= 0 && index < PaneCount)
        m_currentViewController = createPane(index);
    if (m_currentViewController) {
        m_currentViewController->setParent(m_panelView);
        m_panelView->layout()->addWidget(m_currentViewController);
        m_currentViewController->show();
    }
}

void SettingWindowController::reloadController()
{
    changeViewControllerAtIndex(m_sideBar->selectedRow());
    rebuildMenu();
}

void SettingWindowController::rebuildMenu()
{
    if (m_rebuildMenu)
        dispatchMain(this, m_rebuildMenu);
}

QWidget *SettingWindowController::createPane(int index)
{
    switch (index) {
    case General:
        return new GeneralViewController(m_services);
    case Account:
        if (m_services.sync->account().isSignedIn())
            return new UserInfoViewController(*m_services.sync);
        return new UserloginViewController(*m_services.sync);
    case Privacy:
        if (!m_services.privacy)
            return nullptr;
        return new PrivacyViewController(*m_services.privacy, m_services.sync->account());
    case About: {
        auto *about = new AboutViewController(*m_services.sync);
        return about;
    }
    default:
        return nullptr;
    }
}
