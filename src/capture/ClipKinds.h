#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The type names the capture gives clips (store/ClipFamily.h reads them).

namespace ClipKinds {
// A text longer than this many UTF-16 code units is "text_large".
inline constexpr qsizetype kMaxShortTextLength = 4096;
// The text abstract holds at most this many UTF-16 code units.
inline constexpr qsizetype kAbstractLength = 30;

inline const QString imageClipType = QStringLiteral("image_data+zip");
inline const QString unknownExtension = QStringLiteral("unknow");

// "text_large" from 4097 code units on; else "text_url_http" for a text that begins with
// "http://" or "https://" (case-sensitive), else "text_txt".
QString typeFromString(const QString &text);
// The content type's components: "text_url_http" gives text, url, http.
std::optional<QStringList> contentTypeList(const std::optional<QString> &type);
// The extras after the first "+": "image_data+zip" gives zip, "text_txt" an empty list.
std::optional<QStringList> externTypeList(const std::optional<QString> &type);
// The image format named by the first byte of encoded image data, e.g. "png"; nothing when
// the byte names none.
std::optional<QString> typeFromImageData(const QByteArray &bytes);

// The short display text of a text clip: its lines joined directly, each run of spaces made
// one space, at most 30 code units (never ending inside a surrogate pair).
QString textAbstract(const QString &text);

// The extension that names a file clip's type: the file name's extension as written, or
// "unknow" when it has none.
QString fileExtension(const QString &path);
// "file_<extension>+zip".
QString fileClipType(const QString &extension);

} // namespace ClipKinds
