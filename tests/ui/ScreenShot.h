#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QWidget>

// Saves a window's pixels as the X server shows them into folder/name.png, after checking that
// it shows something: a blank window would be one colour, a drawn one has many.
inline bool saveWindowShot(QWidget *window, const QString &folder, const QString &name)
{
    window->raise();
    window->activateWindow();
    if (!QTest::qWaitForWindowExposed(window))
        return false;
    QCoreApplication::processEvents();
    const QImage shot = window->screen()->grabWindow(window->winId()).toImage();
    if (shot.isNull() || shot.width() < 100 || shot.height() < 60)
        return false;
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 4) {
        for (int x = 0; x < shot.width(); x += 4)
            colours.insert(shot.pixel(x, y));
    }
    return colours.size() >= 8 && QDir().mkpath(folder)
           && shot.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}
