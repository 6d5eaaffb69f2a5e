#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QMessageBox;
class QWidget;

// Alerts of the settings windows. A sheet is a window-modal message box on the window of its
// parent widget; its buttons keep the given order and the n-th button answers
// FirstButtonReturn + n. Nothing blocks: the completion runs when the box closes, and is
// dropped when the parent is gone by then.
namespace Sheets {

inline constexpr int FirstButtonReturn = 1000;

struct Alert {
    QString message;
    QString informativeText;
    QStringList buttons;
    // The button that Escape and closing the box stand for; the last one when unset.
    int escapeButton = -1;
};

QMessageBox *beginSheet(QWidget *parent, const Alert &alert,
                        std::function<void(int returnCode)> completion = {});

// An informational alert that blocks the whole program's windows until it is closed, for
// results that concern more than one window (the number of clips cleared).
QMessageBox *runModal(QWidget *parent, const Alert &alert,
                      std::function<void(int returnCode)> completion = {});

} // namespace Sheets
