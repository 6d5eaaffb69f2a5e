#include "ui/SettingImages.h"

#include <QFile>

// The resources of a static library are registered by hand, once, outside any namespace.
static void registerSettingResources()
{
    Q_INIT_RESOURCE(settings);
}

QPixmap settingImage(const QString &name)
{
    static const bool registered = (registerSettingResources(), true);
    Q_UNUSED(registered);
    const QString path = QStringLiteral(":/settings/") + name + QStringLiteral(".png");
    return QFile::exists(path) ? QPixmap(path) : QPixmap();
}
