#include "platform/Pasteboard.h"

#include <QImageReader>

QImage ClipboardImage::decode() const
{
    if (!decoded.isNull() || bytes.isEmpty())
        return decoded;
    // The reader of the offered type first; an image whose bytes are not what their type says
    // is still decoded when its bytes name their format.
    const QList<QByteArray> formats = QImageReader::imageFormatsForMimeType(mimeType);
    QImage image = QImage::fromData(bytes, formats.isEmpty() ? nullptr : formats.first().constData());
    if (image.isNull())
        image = QImage::fromData(bytes);
    return image;
}
