#include "store/ClipFileManager.h"

#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "store/PrivateFiles.h"
#include "support/Log.h"
#include "support/ZipWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>
#include <QStringDecoder>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kSharedCopySuffix[] = ".png";
constexpr mode_t kPrivateFileMode = 0600;

} // namespace

bool ClipFileManager::isExist(const QString &path) const
{
    return QFileInfo::exists(path);
}

bool ClipFileManager::saveData(const QByteArray &bytes, const QString &md5)
{
    if (!PathHelper::isPlainFileName(md5))
        return false;
    const QString path = PathHelper::getBaseFilePath(md5);
    if (QFileInfo::exists(path))
        return true;
    QSaveFile file(path);
    // The temporary file that becomes the payload is the owner's alone from the start.
    const bool ok = file.open(QIODevice::WriteOnly) && fchmod(file.handle(), kPrivateFileMode) == 0
                    && file.write(bytes) == bytes.size() && file.commit();
    if (!ok)
        qCWarning(lcStore) << "cannot write payload" << path << file.errorString();
    return ok;
}

bool ClipFileManager::saveClipData(const QByteArray &bytes, HistoryModel &history)
{
    const QString hash = history.hash();
    bool ok = PathHelper::isPlainFileName(hash) && saveData(bytes, hash);
    if (ok && isZippedType(history.typeName())) {
        const QString archive = PathHelper::getZipsFilePath(hash);
        ok = ZipWriter::writeSingleEntry(archive, hash, bytes);
        if (!ok)
            qCWarning(lcStore) << "cannot write archive" << archive;
        PrivateFiles::restrict(archive);
        history.file_size = fileSize(archive);
    } else {
        history.file_size = static_cast<double>(bytes.size());
    }
    // Without its payload the row is kept, but it does not claim one: nothing uploads or
    // pastes bytes that are not there.
    if (!ok)
        history.local_file_ok = 0;
    return ok;
}

bool ClipFileManager::saveClipFile(const QString &path, HistoryModel &history)
{
    const QString hash = history.hash();
    if (!PathHelper::isPlainFileName(hash)) {
        history.local_file_ok = 0;
        return false;
    }
    const QString target = PathHelper::getBaseFilePath(hash);
    const bool existed = QFileInfo::exists(target);
    bool copied = !existed && QFile::copy(path, target);
    if (copied) {
        // The copy took the permissions of the user's file; the payload is the owner's alone.
        PrivateFiles::restrict(target);
        if (isZippedType(history.typeName())) {
            const QString archive = PathHelper::getZipsFilePath(hash);
            copied = ZipWriter::writeSingleEntryFromFile(archive, hash, path);
            if (copied) {
                PrivateFiles::restrict(archive);
                history.file_size = fileSize(archive);
            } else {
                qCWarning(lcStore) << "cannot write archive" << archive;
            }
        } else {
            history.file_size = fileSize(path);
        }
    } else if (!existed) {
        qCWarning(lcStore) << "cannot copy the file into" << target;
    }
    // A payload stored earlier under the same hash is the same bytes.
    history.local_file_ok = (copied || existed) ? 1 : 0;
    return copied;
}

std::optional<QString> ClipFileManager::getStringWithMd5(const QString &md5) const
{
    const std::optional<QByteArray> bytes = getDataWithMd5(md5);
    if (!bytes)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(*bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<QByteArray> ClipFileManager::getDataWithMd5(const QString &md5) const
{
    if (!PathHelper::isPlainFileName(md5))
        return std::nullopt;
    QFile file(PathHelper::getBaseFilePath(md5));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

float ClipFileManager::fileSize(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return 0.0F;
    return static_cast<float>(info.size());
}

QString ClipFileManager::makePreviewLink(const HistoryModel &history)
{
    const QString hash = history.hash();
    const QString name = history.file_name.value_or(hash);
    if (!PathHelper::isPlainFileName(hash) || !PathHelper::isPlainFileName(QFileInfo(name).fileName()))
        return PathHelper::getPreviewsFilePath(hash);
    const QString source = PathHelper::getBaseFilePath(hash);
    // A file name never names a folder outside previews/.
    const QString target = PathHelper::getPreviewsFilePath(QFileInfo(name).fileName());
    const QByteArray sourcePath = QFile::encodeName(source);
    const QByteArray targetPath = QFile::encodeName(target);

    struct stat targetStat {
    };
    if (lstat(targetPath.constData(), &targetStat) == 0) {
        struct stat sourceStat {
        };
        const bool sameFile = stat(sourcePath.constData(), &sourceStat) == 0 && sourceStat.st_ino != 0
                              && targetStat.st_ino != 0 && sourceStat.st_ino == targetStat.st_ino
                              && sourceStat.st_dev == targetStat.st_dev
                              && sourceStat.st_size == targetStat.st_size;
        if (sameFile)
            return target;
        unlink(targetPath.constData());
    }
    if (link(sourcePath.constData(), targetPath.constData()) != 0)
        qCDebug(lcStore) << "cannot link preview" << target;
    return target;
}

void ClipFileManager::reservePayload(const QString &hash)
{
    const std::lock_guard lock(m_payloadMutex);
    ++m_reservedPayloads[hash];
}

void ClipFileManager::releasePayload(const QString &hash)
{
    const std::lock_guard lock(m_payloadMutex);
    const auto reserved = m_reservedPayloads.find(hash);
    if (reserved == m_reservedPayloads.end() || --reserved.value() > 0)
        return;
    m_reservedPayloads.erase(reserved);
    // A clearing that ran meanwhile left these files for the capture; when its row went too,
    // they go now.
    if (!DBKeeper::historyExist(hash))
        removePayloadFiles(hash);
}

void ClipFileManager::deleteFilesWithHashArray(const QStringList &hashes)
{
    for (const QString &hash : hashes) {
        if (!PathHelper::isPlainFileName(hash))
            continue;
        // Whether a row still uses the hash or a capture has reserved it, and the removal, happen
        // under the lock: a capture of the same clip now either has reserved it, so the files
        // stay, or writes the payload anew after they are gone.
        const std::lock_guard lock(m_payloadMutex);
        if (!m_reservedPayloads.contains(hash) && !DBKeeper::historyExist(hash))
            removePayloadFiles(hash);
    }
}

void ClipFileManager::removePayloadFiles(const QString &hash)
{
    removePreviewLinksOf(PathHelper::getBaseFilePath(hash));
    QFile::remove(PathHelper::getBaseFilePath(hash));
    QFile::remove(PathHelper::getZipsFilePath(hash));
    QFile::remove(PathHelper::getPreviewsFilePath(hash));
    QFile::remove(PathHelper::getPreviewsFilePath(hash + QLatin1String(kSharedCopySuffix)));
}

QString ClipFileManager::sharedImageCopy(const QString &md5)
{
    if (!PathHelper::isPlainFileName(md5))
        return {};
    const QString path = PathHelper::getPreviewsFilePath(md5 + QLatin1String(kSharedCopySuffix));
    if (QFileInfo::exists(path))
        return path;
    const std::optional<QByteArray> bytes = getDataWithMd5(md5);
    QImage image;
    if (!bytes || !image.loadFromData(*bytes))
        return {};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || fchmod(file.handle(), kPrivateFileMode) != 0
        || !image.save(&file, "PNG") || !file.commit())
        return {};
    return path;
}

// A file clip's preview is named by its file name, not its hash; as a hard link it would keep
// the deleted clip's bytes on disk, so every preview that is the same file goes with it.
void ClipFileManager::removePreviewLinksOf(const QString &payload)
{
    struct stat payloadStat {
    };
    if (stat(QFile::encodeName(payload).constData(), &payloadStat) != 0 || payloadStat.st_nlink < 2)
        return;
    const QDir previews(PathHelper::getPreviewsFilePath());
    const QStringList names = previews.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        const QByteArray path = QFile::encodeName(previews.filePath(name));
        struct stat previewStat {
        };
        if (lstat(path.constData(), &previewStat) == 0 && previewStat.st_ino == payloadStat.st_ino
            && previewStat.st_dev == payloadStat.st_dev)
            unlink(path.constData());
    }
}
