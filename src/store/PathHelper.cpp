#include "store/PathHelper.h"

#include "store/PrivateFiles.h"

#include <QDir>
#include <QStandardPaths>

namespace {

QString inFolder(const QString &subfolder, const QString &name)
{
    QString folder = PathHelper::dataFolder();
    PrivateFiles::makeFolder(folder);
    if (!subfolder.isEmpty()) {
        folder += QLatin1Char('/') + subfolder;
        PrivateFiles::makeFolder(folder);
    }
    return name.isEmpty() ? folder : folder + QLatin1Char('/') + name;
}

} // namespace

namespace PathHelper {

QString dataFolder()
{
    const QString overridden = qEnvironmentVariable("QUILLET_DATA_DIR");
    if (!overridden.isEmpty())
        return QDir::cleanPath(overridden);
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Quillet");
}

QString getBaseAppLibraryPath(const QString &name)
{
    return inFolder({}, name);
}
QString getBaseFilePath(const QString &name)
{
    return inFolder(QStringLiteral("files"), name);
}
QString getZipsFilePath(const QString &name)
{
    return inFolder(QStringLiteral("zips"), name);
}
QString getPreviewsFilePath(const QString &name)
{
    return inFolder(QStringLiteral("previews"), name);
}
QString getPluginsBaseDir()
{
    return inFolder(QStringLiteral("plugins"), {});
}
QString getPluginsPackageCachePath(const QString &name)
{
    return inFolder(QStringLiteral("plugin_cache"), name);
}
QString getTmpDir(const QString &name)
{
    return inFolder(QStringLiteral("tmp"), name);
}
QString getDataFilePath(const QString &name)
{
    return inFolder(QStringLiteral("datas"), name);
}

bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".")
           && name != QLatin1String("..");
}

} // namespace PathHelper
