#include "capture/ClipImage.h"

#include <QBuffer>
#include <QImageWriter>

#include <cmath>
#include <cstring>

namespace {

// 72 dots per inch: every clip image claims the same resolution, so it never changes a hash.
constexpr int kDotsPerMeter = 2835;
constexpr double kThumbnailHeight = 40.0;
constexpr double kThumbnailMaxWidth = 120.0;
// QImageWriter's compression value that makes the TIFF plugin write LZW.
constexpr int kTiffLzw = 1;

bool allOpaque(const QImage &argb)
{
    for (int y = 0; y < argb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(line[x]) != 255)
                return false;
        }
    }
    return true;
}

int wholePixels(double size)
{
    if (!std::isfinite(size) || size < 1.0)
        return 1;
    return static_cast<int>(std::min(size, 1.0e6));
}

// Scales the way the thumbnail rule wants: the factor is computed in double precision and
// rounded to single precision before the sizes are multiplied and truncated.
QByteArray resizeBy(const QImage &image, double target, int side)
{
    const float factor = static_cast<float>(target / side);
    return Utils::resizeImage(image, image.width() * static_cast<double>(factor),
                              image.height() * static_cast<double>(factor));
}

} // namespace

namespace Utils {

QByteArray resizeImage(const QImage &image, double width, double height)
{
    if (image.isNull())
        return {};
    const QImage bitmap =
        image.convertToFormat(QImage::Format_ARGB32)
            .scaled(wholePixels(width), wholePixels(height), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!bitmap.save(&buffer, "JPEG"))
        return {};
    return jpeg;
}

} // namespace Utils

QImage normalisedClipImage(const QImage &image)
{
    if (image.isNull())
        return {};
    QImage pixels;
    QImage::Format format = QImage::Format_RGB32;
    if (!image.hasAlphaChannel()) {
        pixels = image.convertToFormat(QImage::Format_RGB32);
    } else {
        // TIFF stores translucent pixels premultiplied and reads them back so; premultiplied
        // pixels also survive a PNG round trip exactly, unlike straight ones.
        pixels = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        // Opaque pixels have the same bytes in both layouts; only the label differs.
        if (!allOpaque(pixels))
            format = QImage::Format_ARGB32_Premultiplied;
    }
    if (pixels.isNull())
        return {};
    QImage clean(pixels.width(), pixels.height(), format);
    if (clean.isNull())
        return {};
    const auto lineBytes = static_cast<size_t>(pixels.width()) * 4;
    for (int y = 0; y < pixels.height(); ++y)
        std::memcpy(clean.scanLine(y), pixels.constScanLine(y), lineBytes);
    clean.setDotsPerMeterX(kDotsPerMeter);
    clean.setDotsPerMeterY(kDotsPerMeter);
    return clean;
}

QByteArray clipTiffData(const QImage &image)
{
    const QImage clean = normalisedClipImage(image);
    if (clean.isNull())
        return {};
    QByteArray tiff;
    QBuffer buffer(&tiff);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    writer.setCompression(kTiffLzw);
    if (!writer.write(clean))
        return {};
    return tiff;
}

QString imageThumbnail(const QImage &image)
{
    if (image.isNull() || image.height() <= 0 || image.width() <= 0)
        return {};
    QByteArray jpeg = resizeBy(image, kThumbnailHeight, image.height());
    const QImage small = QImage::fromData(jpeg, "JPEG");
    if (small.isNull())
        return {};
    if (small.width() > kThumbnailMaxWidth)
        jpeg = resizeBy(small, kThumbnailMaxWidth, small.width());
    return QString::fromLatin1(jpeg.toBase64());
}

QString imageThumbnail(const QByteArray &imageBytes)
{
    return imageThumbnail(QImage::fromData(imageBytes));
}
