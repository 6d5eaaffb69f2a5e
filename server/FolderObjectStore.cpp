#include "FolderObjectStore.h"

#include "ServerLog.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

FolderObjectStore::FolderObjectStore(const QString &root)
    : m_root(QDir(root).absolutePath())
{ }

std::optional<QString> FolderObjectStore::pathOf(const QString &key) const
{
    // Keys are made by the service, but a path never leaves the root whatever a key holds.
    static const QRegularExpression valid(QStringLiteral("^[0-9]{1,19}/[0-9a-f]{32}$"));
    if (!valid.match(key).hasMatch())
        return std::nullopt;
    return m_root + QLatin1Char('/') + key;
}

void FolderObjectStore::removeLeftovers()
{
    // QSaveFile names its temporary files "<name>.XXXXXX"; a finished object never has a dot.
    QDirIterator it(m_root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName().contains(QLatin1Char('.'))) {
            qCInfo(lcServer) << "removing an interrupted upload";
            QFile::remove(path);
        }
    }
}

bool FolderObjectStore::put(const QString &key, const QByteArray &bytes)
{
    const auto path = pathOf(key);
    if (!path || !QDir().mkpath(QFileInfo(*path).absolutePath()))
        return false;
    QSaveFile file(*path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    // QSaveFile flushes and syncs the temporary file before renaming it over the key.
    return file.commit();
}

std::optional<QByteArray> FolderObjectStore::get(const QString &key)
{
    const auto path = pathOf(key);
    if (!path)
        return std::nullopt;
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool FolderObjectStore::remove(const QString &key)
{
    const auto path = pathOf(key);
    return path && (QFile::remove(*path) || !QFile::exists(*path));
}
