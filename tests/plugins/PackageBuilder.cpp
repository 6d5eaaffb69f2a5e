#include "PackageBuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <zip.h>

namespace PackageBuilder {

bool writeZip(const QString &path, const QList<Entry> &entries, bool stored)
{
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    for (const Entry &entry : entries) {
        zip_int64_t index = -1;
        if (entry.name.endsWith('/')) {
            index = zip_dir_add(archive, entry.name.constData(), ZIP_FL_ENC_RAW);
        } else {
            zip_source_t *source = zip_source_buffer(archive, entry.content.constData(),
                                                     static_cast<zip_uint64_t>(entry.content.size()), 0);
            index = zip_file_add(archive, entry.name.constData(), source, ZIP_FL_ENC_RAW);
            if (index < 0)
                zip_source_free(source);
            else if (stored)
                zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
        }
        if (index < 0) {
            zip_discard(archive);
            return false;
        }
    }
    return zip_close(archive) == 0;
}

QByteArray infoLua(const QByteArray &bundleId, const QByteArray &name, const QByteArray &version)
{
    return "plugin_name = \"" + name + "\"\nplugin_desc = \"a test plugin\"\nplugin_version = \"" + version
           + "\"\nplugin_author = \"tests\"\nplugin_bundle_id = \"" + bundleId + "\"\n";
}

QList<Entry> pluginEntries(const QByteArray &folder, const QByteArray &bundleId, const QByteArray &name,
                           const QByteArray &mainLua, bool folderEntries)
{
    QList<Entry> entries;
    if (folderEntries)
        entries << Entry{"Payload/", {}} << Entry{"Payload/" + folder + "/", {}};
    entries << Entry{"Payload/" + folder + "/info.lua", infoLua(bundleId, name)}
            << Entry{"Payload/" + folder + "/main.lua", mainLua};
    return entries;
}

bool writeFiles(const QString &folder, const QList<Entry> &files)
{
    for (const Entry &entry : files) {
        QFile file(folder + QLatin1Char('/') + QString::fromUtf8(entry.name));
        if (!QDir().mkpath(QFileInfo(file).path()) || !file.open(QIODevice::WriteOnly)
            || file.write(entry.content) != entry.content.size())
            return false;
    }
    return true;
}

bool writePluginFolder(const QString &root, const QString &folderName, const QByteArray &info,
                       const QByteArray &mainLua)
{
    return writeFiles(root + QLatin1Char('/') + folderName, {{"info.lua", info}, {"main.lua", mainLua}});
}

} // namespace PackageBuilder
