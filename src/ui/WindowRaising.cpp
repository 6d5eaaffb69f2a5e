#include "ui/WindowRaising.h"

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
