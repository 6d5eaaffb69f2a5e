#pragma once

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

// Whole files as tests read and write them.
namespace TestFiles {

// The bytes of the file; empty when it cannot be read.
inline QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the file, making its missing folders; false when any step fails.
inline bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly)
           && file.write(bytes) == bytes.size();
}

// The permission bits of the path itself (a link is not followed); 0 when it does not exist.
inline mode_t mode(const QString &path)
{
    struct stat info = {};
    return lstat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

} // namespace TestFiles
