#include "menu/MenuImages.h"

#include <QFile>
#include <QHash>

// The resources of a static library are registered by hand, once, outside any namespace.
static void registerMenuResources()
{
    Q_INIT_RESOURCE(menu);
}

QIcon menuImage(const char *name)
{
    static const bool registered = (registerMenuResources(), true);
    Q_UNUSED(registered);
    static QHash<QString, QIcon> cache;
    const QString key = QLatin1String(name);
    const auto found = cache.constFind(key);
    if (found != cache.constEnd())
        return *found;
    const QString path = QStringLiteral(":/menu/") + key + QStringLiteral(".svg");
    const QIcon icon = QFile::exists(path) ? QIcon(path) : QIcon();
    cache.insert(key, icon);
    return icon;
}
