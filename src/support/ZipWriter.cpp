#include "support/ZipWriter.h"

#include "support/Log.h"

#include <zip.h>

#include <QFile>

namespace {

bool writeArchive(const QString &archivePath, const QString &entryName,
                  zip_source_t *(*makeSource)(zip_t *, const void *), const void *arg)
{
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(archivePath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) {
        qCWarning(lcStore) << "cannot create zip archive" << archivePath << "error" << error;
        return false;
    }
    zip_source_t *source = makeSource(archive, arg);
    if (!source) {
        zip_discard(archive);
        return false;
    }
    const zip_int64_t index = zip_file_add(archive, entryName.toUtf8().constData(), source,
                                           ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        zip_discard(archive);
        return false;
    }
    zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 0);
    if (zip_close(archive) != 0) {
        qCWarning(lcStore) << "cannot write zip archive" << archivePath << zip_strerror(archive);
        zip_discard(archive);
        return false;
    }
    return true;
}

} // namespace

namespace ZipWriter {

bool writeSingleEntry(const QString &archivePath, const QString &entryName, const QByteArray &content)
{
    return writeArchive(archivePath, entryName, [](zip_t *archive, const void *arg) {
        const auto *bytes = static_cast<const QByteArray *>(arg);
        return zip_source_buffer(archive, bytes->constData(), static_cast<zip_uint64_t>(bytes->size()), 0);
    }, &content);
}

bool writeSingleEntryFromFile(const QString &archivePath, const QString &entryName,
                              const QString &sourcePath)
{
    const QByteArray path = QFile::encodeName(sourcePath);
    return writeArchive(archivePath, entryName, [](zip_t *archive, const void *arg) {
        return zip_source_file(archive, static_cast<const char *>(arg), 0, -1);
    }, path.constData());
}

} // namespace ZipWriter
