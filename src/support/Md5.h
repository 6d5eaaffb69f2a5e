#pragma once

#include <QByteArray>
#include <QString>

// MD5 as 32 lower-case hexadecimal digits: the identity of a clip and the name of its files.
QString md5_hex(const QByteArray &bytes);
// MD5 of the string's UTF-8 bytes.
QString md5_hex(const QString &text);
// MD5 of a file's bytes, read in blocks; an empty string when the file cannot be read.
QString md5_hex_of_file(const QString &path);
