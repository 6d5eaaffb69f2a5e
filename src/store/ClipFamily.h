#pragma once

#include <QString>

// The family of a clip: the first "_" component of its content type ("text_url_http",
// "image_data+zip", "file_pdf+zip"). Every decision that depends on what a clip holds
// switches over this one enum; Other stands for kinds this program does not know.
enum class ClipFamily { Text, Image, File, Other };

ClipFamily clipFamilyOfType(const QString &type);
// "text", "image" or "file" (the names the privacy script and the content types use); empty
// for Other.
QString clipFamilyName(ClipFamily family);
