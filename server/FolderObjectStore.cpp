#include "FolderObjectStore.h"

#include "DurableFile.h"
#include "ServerLog.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <sys/stat.h>

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
    // A finished object is named by its hash alone; anything with a dot is a temporary file
    // (of this version or of QSaveFile, which earlier versions used).
    const QDateTime youngest = QDateTime::currentDateTimeUtc().addSecs(-kLeftoverAgeSeconds);
    QDirIterator it(m_root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName().contains(QLatin1Char('.')) && it.fileInfo().lastModified() < youngest) {
            qCInfo(lcServer) << "removing an interrupted upload";
            QFile::remove(path);
        }
    }
}

StoreStatus FolderObjectStore::put(const QString &key, const QByteArray &bytes)
{
    const auto path = pathOf(key);
    if (!path)
        return StoreStatus::Failed;
    // The user's folder under the root, which exists.
    if (::mkdir(QFile::encodeName(QFileInfo(*path).absolutePath()).constData(), 0700) != 0 && errno != EEXIST)
        return errno == ENOSPC || errno == EDQUOT ? StoreStatus::NoSpace : StoreStatus::Failed;
    switch (DurableFile::replace(*path, bytes, 0600)) {
    case DurableFile::Result::Ok:
        return StoreStatus::Ok;
    case DurableFile::Result::NoSpace:
        return StoreStatus::NoSpace;
    case DurableFile::Result::Failed:
        break;
    }
    return StoreStatus::Failed;
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
