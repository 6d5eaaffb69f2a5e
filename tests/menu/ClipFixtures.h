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

inline HistoryModel text(const QString &text, qint64 timestamp, const QString &category = Category::history,
                         qint64 favourite = 0)
{
    HistoryModel record;
    record.content = text.left(30);
    record.timestamp = timestamp;
    record.category = category;
    record.favourite = favourite;
    record.local_file_ok = 1;
    return store(record, text.toUtf8());
}

// A text clip as a capture leaves it for the sync: stored, with a change mark; secret and of
// the given payload size when asked.
inline HistoryModel changedText(const QString &content, qint64 timestamp, bool secret = false,
                                double size = 0)
{
    HistoryModel record = text(content, timestamp);
    if (size > 0) {
        record.file_size = size;
        record.save();
    }
    if (secret)
        record.signSecret(true);
    record.increase_change_count();
    record.fetch();
    return record;
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
