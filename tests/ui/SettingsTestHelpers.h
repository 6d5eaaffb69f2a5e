#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

// Finding and answering the alerts of the settings windows from a test.
namespace SettingsTestHelpers {

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

inline QAbstractButton *alertButton(QMessageBox *box, const QString &title)
{
    const QList<QAbstractButton *> buttons = box->buttons();
    for (QAbstractButton *button : buttons) {
        if (button->text() == title)
            return button;
    }
    return nullptr;
}

inline QStringList alertButtonTitles(QMessageBox *box)
{
    QStringList titles;
    const QList<QAbstractButton *> buttons = box->buttons();
    for (QAbstractButton *button : buttons)
        titles << button->text();
    return titles;
}

} // namespace SettingsTestHelpers
