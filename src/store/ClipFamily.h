#pragma once

#include <QString>
#include <QStringList>

// What a clip's type name says. A type name is a content type of "_"-joined components whose
// first is the family ("text", "image", "file"), then extras after "+" ("zip": the payload
// also has an archive, which is what travels): "text_url_http", "image_data+zip",
// "file_pdf+zip". Only this module reads type names apart.

// Every decision that depends on what a clip holds switches over this one enum; Other stands
// for kinds this program does not know.
enum class ClipFamily { Text, Image, File, Other };

ClipFamily clipFamilyOfType(const QString &type);
// "text", "image" or "file" (the names the privacy script and the content types use); empty
// for Other.
QString clipFamilyName(ClipFamily family);

// The content type: what comes before the first "+".
QString clipContentType(const QString &type);
// The extras after the first "+": "image_data+zip" gives zip, "text_txt" an empty list.
QStringList clipTypeExtras(const QString &type);
// Whether the payload also has an archive (and travels as it): "zip" among the extras.
bool isZippedType(const QString &type);
