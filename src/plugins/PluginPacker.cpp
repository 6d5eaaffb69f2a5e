#include "plugins/PluginPacker.h"

#include "plugins/package.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <lua.hpp>
#include <zip.h>

namespace {

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

QString checkPlugin(const QString &folder)
{
    PluginRecord *record = nullptr;
    if (plugin_read_info(&record, QFile::encodeName(folder + QLatin1Char('/')).constData()) != 0)
        return QStringLiteral("info.lua is missing, fails, or does not set plugin_name and plugin_bundle_id");
    plugin_record_free(record);

    const QString mainPath = folder + QStringLiteral("/main.lua");
    if (!QFileInfo(mainPath).isFile())
        return QStringLiteral("main.lua is missing");
    lua_State *state = luaL_newstate();
    QString problem;
    if (luaL_loadfilex(state, QFile::encodeName(mainPath).constData(), "t") != LUA_OK)
        problem = QStringLiteral("main.lua does not compile: ") + QString::fromUtf8(lua_tostring(state, -1));
    lua_close(state);
    return problem;
}

// Adds the folder's visible files and folders below prefix (which ends in "/"), each folder
// entry before its contents. Links are skipped so a package never loops or reaches outside.
bool addFolder(zip_t *archive, const QString &folder, const QString &prefix, QString *error)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot,
                                                             QDir::Name | QDir::DirsLast);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink())
            continue;
        const QByteArray name = (prefix + entry.fileName()).toUtf8();
        if (entry.isDir()) {
            if (zip_dir_add(archive, QByteArray(name + '/').constData(), ZIP_FL_ENC_UTF_8) < 0)
                return fail(error, QString::fromUtf8(zip_strerror(archive)));
            if (!addFolder(archive, entry.filePath(), prefix + entry.fileName() + QLatin1Char('/'), error))
                return false;
            continue;
        }
        zip_source_t *source =
            zip_source_file(archive, QFile::encodeName(entry.filePath()).constData(), 0, -1);
        if (!source
            || zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
            if (source)
                zip_source_free(source);
            return fail(error,
                        entry.filePath() + QStringLiteral(": ") + QString::fromUtf8(zip_strerror(archive)));
        }
    }
    return true;
}

} // namespace

namespace PluginPacker {

bool pack(const QString &pluginFolder, const QString &packagePath, QString *error)
{
    const QFileInfo folderInfo(pluginFolder);
    if (!folderInfo.isDir())
        return fail(error, pluginFolder + QStringLiteral(" is not a folder"));
    const QString folder = folderInfo.absoluteFilePath();
    const QString problem = checkPlugin(folder);
    if (!problem.isEmpty())
        return fail(error, problem);

    QString pluginName = QDir(folder).dirName();
    if (!pluginName.endsWith(QLatin1String(".cplugin")))
        pluginName += QLatin1String(".cplugin");

    int errorCode = 0;
    zip_t *archive =
        zip_open(QFile::encodeName(packagePath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &errorCode);
    if (!archive) {
        zip_error_t zipError;
        zip_error_init_with_code(&zipError, errorCode);
        const QString reason = QString::fromUtf8(zip_error_strerror(&zipError));
        zip_error_fini(&zipError);
        return fail(error, packagePath + QStringLiteral(": ") + reason);
    }
    const QString prefix = QStringLiteral("Payload/") + pluginName + QLatin1Char('/');
    const bool added = zip_dir_add(archive, "Payload/", ZIP_FL_ENC_UTF_8) >= 0
                       && zip_dir_add(archive, prefix.toUtf8().constData(), ZIP_FL_ENC_UTF_8) >= 0
                       && addFolder(archive, folder, prefix, error);
    if (!added) {
        if (error && error->isEmpty())
            *error = QString::fromUtf8(zip_strerror(archive));
        zip_discard(archive);
        return false;
    }
    if (zip_close(archive) != 0) {
        const QString reason = QString::fromUtf8(zip_strerror(archive));
        zip_discard(archive);
        QFile::remove(packagePath);
        return fail(error, packagePath + QStringLiteral(": ") + reason);
    }
    return true;
}

} // namespace PluginPacker
