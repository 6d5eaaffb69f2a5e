#include "ui/WindowRaising.h"

#include <QShortcut>

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

void showInFront(QWidget &window, bool &placed)
{
    if (!placed) {
        placed = true;
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            window.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(),
                                                   screen->availableGeometry()));
    }
    window.show();
    window.raise();
    window.activateWindow();
}

void closeOnEscapeAndControlW(QWidget &window)
{
    for (const QKeySequence &keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::ControlModifier | Qt::Key_W)}) {
        auto *shortcut = new QShortcut(keys, &window);
        QObject::connect(shortcut, &QShortcut::activated, &window, &QWidget::close);
    }
}
