#pragma once

#include "TestSync.h"
#include "plugins/AdvancePrivacyManager.h"
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

// Finding and answering the alerts of the settings windows from a test.
namespace SettingsTestHelpers {

// A settings window for the tests that drive its panes, with the test's sync engine, a privacy
// script of its own and no hot key; made on first use and kept, as the program's is, until the
// process ends (a widget cannot outlive the application object it would be destroyed after).
inline SettingWindowController &sharedSettingsWindow()
{
    static auto *script = new AdvancePrivacyManager(testSettings());
    static auto *window = new SettingWindowController(SettingsServices{&testSync(), nullptr, script});
    return *window;
}

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

// The open (visible) message box whose text is message, anywhere in the program.
inline QMessageBox *openAlert(const QString &message)
{
    const QList<QWidget *> widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && box->text() == message)
            return box;
    }
    return nullptr;
}

// True while any message box of the program is open.
inline bool anyAlertOpen()
{
    const QList<QWidget *> widgets = QApplication::topLevelWidgets();
    return std::any_of(widgets.begin(), widgets.end(),
                       [](QWidget *w) { return qobject_cast<QMessageBox *>(w) && w->isVisible(); });
}

// The alert with this message once it is open, or null after ten seconds.
inline QMessageBox *waitForAlert(const QString &message)
{
    QMessageBox *box = nullptr;
    (void)QTest::qWaitFor([&] { return (box = openAlert(message)) != nullptr; }, 10000);
    return box;
}

inline QAbstractButton *alertButton(QMessageBox *box, const QString &title)
{
    const QList<QAbstractButton *> buttons = box->buttons();
    for (QAbstractButton *button : buttons) {
        if (button->text() == title)
            return button;
    }
    return nullptr;
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
