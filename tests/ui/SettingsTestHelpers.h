#pragma once

#include "store/DBKeeper.h"
#include "ui/GeneralViewController.h"
#include "ui/SettingWindowController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <QWidget>

#include <algorithm>

// Showing the panes of a settings window, and finding and answering its alerts.
namespace SettingsTestHelpers {

// Shows the pane at index and answers it as a Pane; null when the shown pane is another.
template<typename Pane> Pane *showPane(SettingWindowController &window, int index)
{
    window.showPanel(index);
    return qobject_cast<Pane *>(window.currentViewController());
}

// The rows of the history database, both categories.
inline qsizetype storedRowCount()
{
    return DBKeeper::getAllHistory().size() + DBKeeper::getAllFavourites().size();
}

// The open (visible) message boxes of the program; with a message, only the one with that text.
inline QList<QMessageBox *> openAlerts(const QString &message = {})
{
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && (message.isNull() || box->text() == message))
            boxes << box;
    }
    return boxes;
}

inline bool anyAlertOpen()
{
    return !openAlerts().isEmpty();
}

// The alert with this message once it is open, or null after ten seconds.
inline QMessageBox *waitForAlert(const QString &message)
{
    (void)QTest::qWaitFor([&] { return !openAlerts(message).isEmpty(); }, 10000);
    return openAlerts(message).value(0);
}

inline QAbstractButton *alertButton(QMessageBox *box, const QString &title)
{
    const QList<QAbstractButton *> buttons = box->buttons();
    const auto found =
        std::find_if(buttons.begin(), buttons.end(), [&](auto *b) { return b->text() == title; });
    return found == buttons.end() ? nullptr : *found;
}

// Clicks the button of the alert with this message once it is open.
inline bool answerAlert(const QString &message, const QString &button)
{
    QMessageBox *box = waitForAlert(message);
    QAbstractButton *target = box ? alertButton(box, button) : nullptr;
    if (target)
        target->click();
    return target != nullptr;
}

// Asks the general pane to clear the history, and confirms.
inline bool confirmClear(SettingWindowController &window)
{
    QTest::mouseClick(
        showPane<GeneralViewController>(window, SettingWindowController::General)->clearButton(),
        Qt::LeftButton);
    return answerAlert(QStringLiteral("清空历史纪录?"), QStringLiteral("清空历史纪录"));
}

// Receives the URLs the panes open instead of a browser (QDesktopServices::setUrlHandler).
class UrlCatcher final : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void openUrl(const QUrl &url) { urls << url; }
};

} // namespace SettingsTestHelpers
