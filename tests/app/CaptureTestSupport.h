#pragma once

// Helpers shared by the capture tests: reading payload archives and the stored rows.
#include "store/DBKeeper.h"
#include "store/PathHelper.h"

#include <zip.h>

#include <QFile>
#include <QImage>
#include <QList>

namespace CaptureTest {

struct ArchiveEntry {
    QString name;
    QByteArray content;
    bool deflated = false;
};

inline QList<ArchiveEntry> readArchive(const QString &path)
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

inline QByteArray payload(const QString &hash)
{
    QFile file(PathHelper::getBaseFilePath(hash));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every history row, newest first.
inline QList<HistoryModel> historyRows()
{
    return DBKeeper::getAllHistoryAtCategory(Category::history, 1000);
}

// The same pixels, compared as premultiplied 32-bit ARGB (what is drawn on screen).
inline bool samePixels(const QImage &a, const QImage &b)
{
    return !a.isNull()
           && a.convertToFormat(QImage::Format_ARGB32_Premultiplied) == b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// A test image with smooth gradients, and translucent pixels when asked.
inline QImage gradientImage(int width, int height, bool translucent = false)
{
    QImage image(width, height, translucent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int alpha = translucent ? (x * 255) / std::max(1, width - 1) : 255;
            image.setPixel(x, y, qRgba((x * 7) & 255, (y * 3) & 255, (x + y) & 255, alpha));
        }
    }
    return image;
}

} // namespace CaptureTest
