#include "support/ZipWriter.h"

#include "support/Log.h"

#include <zlib.h>

#include <QDateTime>
#include <QFile>
#include <QSaveFile>

// The archive is written here rather than through libzip so that the compression level can
// follow the data: image payloads are already LZW-compressed, and deflating them at any zlib
// level costs far more than it saves, while stored deflate blocks cost almost nothing.

namespace {

constexpr qsizetype kSampleSize = 128 * 1024;
constexpr qsizetype kLargePayload = 1024 * 1024;

void put16(QByteArray &out, quint32 value)
{
    out.append(char(value & 0xff));
    out.append(char((value >> 8) & 0xff));
}

void put32(QByteArray &out, quint32 value)
{
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

// Raw deflate (no zlib header), as zip entries carry it.
std::optional<QByteArray> deflateRaw(QByteArrayView input, int level)
{
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    QByteArray output(qsizetype(deflateBound(&stream, uLong(input.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(input.data()));
    stream.avail_in = uInt(input.size());
    stream.next_out = reinterpret_cast<Bytef *>(output.data());
    stream.avail_out = uInt(output.size());
    const int result = deflate(&stream, Z_FINISH);
    output.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        return std::nullopt;
    return output;
}

// Data that a quick look shows to be (nearly) incompressible is stored in deflate's uncompressed
// blocks; large payloads get the fastest level, small ones the usual one.
int levelFor(QByteArrayView content)
{
    if (content.size() > kSampleSize) {
        const QByteArrayView sample = content.first(kSampleSize);
        const std::optional<QByteArray> packed = deflateRaw(sample, Z_BEST_SPEED);
        // Saving less than a tenth is not worth deflate's time on megabytes of data.
        if (!packed || packed->size() > sample.size() * 9 / 10)
            return Z_NO_COMPRESSION;
    }
    return content.size() > kLargePayload ? Z_BEST_SPEED : Z_DEFAULT_COMPRESSION;
}

quint32 dosTime(const QDateTime &now)
{
    const QTime t = now.time();
    return quint32((t.hour() << 11) | (t.minute() << 5) | (t.second() / 2));
}

quint32 dosDate(const QDateTime &now)
{
    const QDate d = now.date();
    return quint32(((std::max(d.year(), 1980) - 1980) << 9) | (d.month() << 5) | d.day());
}

QByteArray entryHeader(bool central, const QByteArray &name, quint32 crc, quint32 packedSize, quint32 size,
                       const QDateTime &now)
{
    QByteArray header;
    put32(header, central ? 0x02014b50 : 0x04034b50);
    if (central)
        put16(header, 0x0314); // made by: Unix, zip 2.0
    put16(header, 20); // needed to extract: deflate
    put16(header, 0x0800); // the name is UTF-8
    put16(header, 8); // deflate
    put16(header, dosTime(now));
    put16(header, dosDate(now));
    put32(header, crc);
    put32(header, packedSize);
    put32(header, size);
    put16(header, quint32(name.size()));
    put16(header, 0); // extra field
    if (central) {
        put16(header, 0); // comment
        put16(header, 0); // disk
        put16(header, 0); // internal attributes
        put32(header, 0100644u << 16); // regular file, rw-r--r--
        put32(header, 0); // offset of the local header
    }
    header.append(name);
    return header;
}

} // namespace

namespace ZipWriter {

bool writeSingleEntry(const QString &archivePath, const QString &entryName, const QByteArray &content)
{
    // Sizes and offsets are 32-bit in a plain zip archive.
    if (content.size() >= 0xffffffffLL) {
        qCWarning(lcStore) << "payload too large for a zip archive" << archivePath;
        return false;
    }
    const std::optional<QByteArray> packed = deflateRaw(content, levelFor(content));
    if (!packed || packed->size() >= 0xffffffffLL)
        return false;

    const QByteArray name = entryName.toUtf8();
    const auto crc =
        quint32(crc32_z(crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef *>(content.constData()),
                        z_size_t(content.size())));
    const auto packedSize = quint32(packed->size());
    const auto size = quint32(content.size());
    const QDateTime now = QDateTime::currentDateTime();

    const QByteArray local = entryHeader(false, name, crc, packedSize, size, now);
    const QByteArray central = entryHeader(true, name, crc, packedSize, size, now);
    QByteArray end;
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, 1);
    put16(end, 1);
    put32(end, quint32(central.size()));
    put32(end, quint32(local.size()) + packedSize);
    put16(end, 0);

    // Written to a temporary file that takes the final name, so a reader never sees half.
    QSaveFile file(archivePath);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(local) == local.size()
                         && file.write(*packed) == packed->size() && file.write(central) == central.size()
                         && file.write(end) == end.size() && file.commit();
    if (!written)
        qCWarning(lcStore) << "cannot write zip archive" << archivePath << file.errorString();
    return written;
}

bool writeSingleEntryFromFile(const QString &archivePath, const QString &entryName, const QString &sourcePath)
{
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    QByteArray content;
    char buffer[64 * 1024];
    for (;;) {
        const qint64 length = source.read(buffer, sizeof buffer);
        if (length < 0)
            return false;
        if (length == 0)
            break;
        content.append(buffer, length);
    }
    return writeSingleEntry(archivePath, entryName, content);
}

} // namespace ZipWriter
