#pragma once

// Helpers shared by the capture tests: the stored rows and payloads, and test images.
#include "TestFiles.h"
#include "ZipReading.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"

#include <QImage>

namespace CaptureTest {

inline QByteArray payload(const QString &hash)
{
    return TestFiles::read(PathHelper::getBaseFilePath(hash));
}

// Every history row, newest first, and the one with this hash.
inline QList<HistoryModel> historyRows()
{
    return DBKeeper::getAllHistoryAtCategory(Category::history, 1000);
}

inline std::optional<HistoryModel> rowWithHash(const QString &hash)
{
    for (const HistoryModel &row : historyRows())
        if (row.hash() == hash)
            return row;
    return std::nullopt;
}

// A test image with smooth gradients, and translucent pixels when asked.
inline QImage gradientImage(int width, int height, bool translucent = false)
{
    QImage image(width, height, translucent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int alpha = translucent ? (x * 255) / std::max(1, width - 1) : 255;
            image.setPixel(x, y, qRgba((x * 7) & 255, (y * 3) & 255, (x + y) & 255, alpha));
        }
    return image;
}

} // namespace CaptureTest
