#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Type names of clips: a content type of "_"-joined components whose first is the family
// ("text", "image", "file"), then extras after "+" ("zip": the payload also has an archive).
// For example "text_url_http", "image_data+zip", "file_pdf+zip".

namespace ClipKinds {
// A text longer than this many UTF-16 code units is "text_large".
inline constexpr qsizetype kMaxShortTextLength = 4096;
// The text abstract holds at most this many UTF-16 code units.
inline constexpr qsizetype kAbstractLength = 30;

inline const QString imageClipType = QStringLiteral("image_data+zip");
inline const QString unknownExtension = QStringLiteral("unknow");
} // namespace ClipKinds

namespace Utils {
// "text_large" from 4097 code units on; else "text_url_http" for a text that begins with
// "http://" or "https://" (case-sensitive), else "text_txt".
QString typeFromString(const QString &text);
// The display name of a kind, looked up by its content type; "未知分类" when unknown.
// The content type's components: "text_url_http" gives text, url, http.
std::optional<QStringList> contentTypeList(const std::optional<QString> &type);
// The extras after the first "+": "image_data+zip" gives zip, "text_txt" an empty list.
std::optional<QStringList> externTypeList(const std::optional<QString> &type);
// The image format named by the first byte of encoded image data, e.g. "png"; nothing when
// the byte names none.
std::optional<QString> typeFromImageData(const QByteArray &bytes);
} // namespace Utils

// The short display text of a text clip: its lines joined directly, each run of spaces made
// one space, at most 30 code units (never ending inside a surrogate pair).
QString textAbstract(const QString &text);

// The extension that names a file clip's type: the file name's extension as written, or
// "unknow" when it has none.
QString fileExtension(const QString &path);
// "file_<extension>+zip".
QString fileClipType(const QString &extension);
