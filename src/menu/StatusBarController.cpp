#include "menu/StatusBarController.h"

#include "menu/MenuController.h"
#include "menu/MenuImages.h"
#include "sync/ProgressManager.h"

#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kSpinnerFrames = 12;
constexpr int kSpinnerInterval = 80; // ms
constexpr int kIconSize = 32;
constexpr int kSpinnerSize = 15;

} // namespace

StatusBarController::StatusBarController(MenuController &menus, ProgressManager &progress, QObject *parent)
    : QObject(parent)
    , m_menus(menus)
    , m_icon(menuImage("task-icon"))
{
    m_trayItem.setIcon(m_icon);
    m_trayItem.setToolTip(QStringLiteral("Quillet"));
    m_trayItem.setContextMenu(m_menus.mainMenu());
    connect(&m_trayItem, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::MiddleClick)
            showMenuAtPointer();
    });
    m_warningWait.setInterval(200);
    connect(&m_warningWait, &QTimer::timeout, this, &StatusBarController::showPendingWarning);
    m_spinner.setInterval(kSpinnerInterval);
    connect(&m_spinner, &QTimer::timeout, this, &StatusBarController::showSpinnerFrame);
    // The file transfers report their overall progress here: busy until all units are done.
    progress.registerGlobalProgress(
        this, [this](float fraction, bool animated) { setProgress(double(fraction), animated); });
    m_trayItem.show();
}

void StatusBarController::showWarningWhenShown(const QString &text, int milliseconds)
{
    m_pendingWarning = text;
    m_pendingWarningMs = milliseconds;
    m_warningTries = 0;
    m_warningWait.start();
}

void StatusBarController::showPendingWarning()
{
    constexpr int kGiveUpAfterTries = 150; // 30 s
    const bool shown = QSystemTrayIcon::isSystemTrayAvailable() && !m_trayItem.geometry().isEmpty();
    if (!shown && ++m_warningTries < kGiveUpAfterTries)
        return;
    m_warningWait.stop();
    m_trayItem.showMessage(QStringLiteral("Quillet"), m_pendingWarning, QSystemTrayIcon::Warning,
                           m_pendingWarningMs);
}

QString StatusBarController::syncToolTip(const SyncStatus::Snapshot &status, const QDateTime &now)
{
    // Today's times as the hour; older ones with their day.
    const auto when = [&now](const QDateTime &time) {
        return time.date() == now.date() ? time.toString(QStringLiteral("HH:mm"))
                                         : time.toString(tr("M月d日 HH:mm"));
    };
    QString text = QStringLiteral("Quillet");
    switch (status.state) {
    case SyncStatus::State::SignedOut:
        return text;
    case SyncStatus::State::InSync:
        text += tr("：已同步");
        break;
    case SyncStatus::State::Sending:
        text += tr("：正在同步…");
        break;
    case SyncStatus::State::Unreachable:
        text += tr("：自 %1 起无法连接同步服务，会自动重试").arg(when(status.since));
        break;
    case SyncStatus::State::QuotaFull:
        text += tr("：自 %1 起同步服务的存储空间已满，会自动重试").arg(when(status.since));
        break;
    }
    if (status.failed > 0)
        text += tr("\n%1 条内容同步失败，可在其子菜单中重试").arg(status.failed);
    return text;
}

void StatusBarController::showSyncStatus(const SyncStatus::Snapshot &status)
{
    m_trayItem.setToolTip(syncToolTip(status, QDateTime::currentDateTime()));
}

void StatusBarController::showMenuAtPointer()
{
    m_menus.showMenu();
}

void StatusBarController::setProgress(double fraction, bool)
{
    if (fraction == 1.0)
        stopLoading();
    else
        startLoading();
}

void StatusBarController::startLoading()
{
    if (m_spinner.isActive())
        return;
    m_frame = 0;
    m_spinner.start();
    showSpinnerFrame();
    Q_EMIT loadingChanged(true);
}

void StatusBarController::stopLoading()
{
    if (!m_spinner.isActive())
        return;
    m_spinner.stop();
    m_trayItem.setIcon(m_icon);
    Q_EMIT loadingChanged(false);
}

void StatusBarController::showSpinnerFrame()
{
    // The spinner is drawn over the centre of the icon: an arc that turns a step each frame.
    QPixmap frame = m_icon.pixmap(kIconSize, kIconSize);
    QPainter painter(&frame);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(QColor(0x2a, 0x82, 0xda), 2.5);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    const int offset = (kIconSize - kSpinnerSize) / 2;
    const QRect box(offset, offset, kSpinnerSize, kSpinnerSize);
    const int start = -(m_frame * 360 / kSpinnerFrames) * 16;
    painter.drawArc(box, start, 270 * 16);
    painter.end();
    m_trayItem.setIcon(QIcon(frame));
    m_frame = (m_frame + 1) % kSpinnerFrames;
}
