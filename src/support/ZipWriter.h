#pragma once

#include <QByteArray>
#include <QString>

// Writes zip archives that hold exactly one deflate-compressed entry. An existing archive at
// the path is replaced as a whole, through a temporary file that takes the final name, so a
// reader never sees a half-written archive.
namespace ZipWriter {
bool writeSingleEntry(const QString &archivePath, const QString &entryName, const QByteArray &content);
// The entry's content is read from sourcePath while the archive is written.
bool writeSingleEntryFromFile(const QString &archivePath, const QString &entryName,
                              const QString &sourcePath);
} // namespace ZipWriter
