#include "ZipReading.h"

#include <zip.h>

#include <QFile>

QList<ArchiveEntry> readArchive(const QString &path)
{
    QList<ArchiveEntry> entries;
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return entries;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t info;
        zip_stat_index(archive, zip_uint64_t(i), 0, &info);
        ArchiveEntry entry{QString::fromUtf8(info.name), QByteArray(qsizetype(info.size), '\0'),
                           info.comp_method == ZIP_CM_DEFLATE};
        zip_file_t *file = zip_fopen_index(archive, zip_uint64_t(i), 0);
        zip_fread(file, entry.content.data(), info.size);
        zip_fclose(file);
        entries << entry;
    }
    zip_close(archive);
    return entries;
}
