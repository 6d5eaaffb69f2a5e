#pragma once

#include <QPixmap>
#include <QString>

// An image of the settings windows by its name ("work-white-32", "tab_privacy_gray", ...);
// an empty pixmap for an unknown name.
QPixmap settingImage(const QString &name);
