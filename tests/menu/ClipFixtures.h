#pragma once

#include "TestSync.h"
#include "store/ClipFileManager.h"
#include "store/HistoryModel.h"
#include "support/Md5.h"

#include <QBuffer>
#include <QImage>

// Clips stored the way the capture stores them: a row and its payload file.
namespace ClipFixtures {

inline HistoryModel store(HistoryModel record, const QByteArray &payload)
{
    record.file_hash = md5_hex(payload);
    record.history_id = 0;
    record.file_id = 0;
    testFiles().saveClipData(payload, record);
    record.save();
    return record;
}

inline HistoryModel text(const QString &text, qint64 timestamp, const QString &category = Category::history)
{
    HistoryModel record;
    record.content = text.left(30);
    record.timestamp = timestamp;
    record.category = category;
    record.local_file_ok = 1;
    return store(record, text.toUtf8());
}

inline QByteArray encodedImage(const char *format, QColor colour = Qt::red)
{
    QImage image(16, 8, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

inline HistoryModel image(const QByteArray &bytes, qint64 timestamp)
{
    HistoryModel record;
    record.content = QString::fromLatin1(encodedImage("JPG").toBase64());
    record.type = QStringLiteral("image_data+zip");
    record.timestamp = timestamp;
    return store(record, bytes);
}

inline HistoryModel file(const QString &name, const QByteArray &bytes, qint64 timestamp)
{
    HistoryModel record;
    record.content = name;
    record.file_name = name;
    record.type = QStringLiteral("file_txt");
    record.timestamp = timestamp;
    return store(record, bytes);
}

} // namespace ClipFixtures
