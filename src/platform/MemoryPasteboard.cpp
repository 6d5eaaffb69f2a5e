#include "platform/MemoryPasteboard.h"

#include <QBuffer>

bool MemoryPasteboard::isEmpty()
{
    return m_filePaths.isEmpty() && !m_image && !m_string;
}

std::optional<QString> MemoryPasteboard::firstFilePath()
{
    if (m_filePaths.isEmpty())
        return std::nullopt;
    return m_filePaths.first();
}

std::optional<ClipboardImage> MemoryPasteboard::firstImage()
{
    if (!m_image)
        return std::nullopt;
    return ClipboardImage{{}, {}, *m_image};
}

void MemoryPasteboard::setContent(const QStringList &filePaths, const std::optional<QImage> &image,
                                  const std::optional<QString> &text)
{
    m_filePaths = filePaths;
    m_image = image;
    m_string = text;
    m_tiff.clear();
    m_png.clear();
    m_secretHint = false;
    contentChanged();
}

void MemoryPasteboard::setString(const QString &text)
{
    setContent({}, std::nullopt, text);
}

void MemoryPasteboard::setImage(const QImage &image)
{
    setContent({}, image, std::nullopt);
}

void MemoryPasteboard::setFilePaths(const QStringList &paths)
{
    setContent(paths, std::nullopt, paths.isEmpty() ? std::nullopt : std::optional<QString>(paths.first()));
}

void MemoryPasteboard::clear()
{
    setContent({}, std::nullopt, std::nullopt);
}

void MemoryPasteboard::writeString(const QString &text)
{
    setString(text);
}

void MemoryPasteboard::writeImage(const QByteArray &tiff)
{
    // As on the desktop: the TIFF bytes as they are, and a PNG made from the decoded image,
    // which is what a reader that prefers PNG decodes.
    const QImage decoded = QImage::fromData(tiff, "TIFF");
    QByteArray png;
    if (!decoded.isNull()) {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        decoded.save(&buffer, "PNG");
    }
    const QImage image = QImage::fromData(png, "PNG");
    setContent({}, image.isNull() ? std::nullopt : std::optional<QImage>(image), std::nullopt);
    m_tiff = tiff;
    m_png = png;
}

void MemoryPasteboard::writeFilePath(const QString &path)
{
    setFilePaths({path});
}

void MemoryPasteboard::contentChanged()
{
    ++m_changeCount;
    if (m_reportsChanges)
        emit changed();
}
