#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Encodings of image clips: the TIFF payload whose MD5 is the clip's identity, and the small
// JPEG thumbnail shown in the menu.

namespace Utils {
// Draws the whole image into a new RGBA bitmap of the given size, truncated to whole pixels
// (at least one), and encodes that bitmap as JPEG. Empty when the image is empty.
QByteArray resizeImage(const QImage &image, double width, double height);
} // namespace Utils

// The image's pixels in one of two fixed layouts (32-bit RGB when every pixel is opaque,
// else premultiplied 32-bit ARGB) without colour space, text or resolution of its own. The same pixels give
// the same image whatever format and metadata the clipboard's decoder produced, so a clip
// written back to the clipboard and read again keeps its hash.
QImage normalisedClipImage(const QImage &image);

// The LZW-compressed TIFF encoding of the normalised image; empty when there is no image or
// it cannot be encoded.
QByteArray clipTiffData(const QImage &image);

// The thumbnail of an image clip as Base64 of JPEG bytes: 40 pixels high (39 where the scale
// factor rounds just short), then at most 120 pixels wide. Empty when there is no image.
QString imageThumbnail(const QImage &image);
// As above, from encoded image bytes (the stored TIFF payload).
QString imageThumbnail(const QByteArray &imageBytes);
