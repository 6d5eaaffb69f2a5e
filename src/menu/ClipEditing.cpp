#include "menu/ClipEditing.h"

#include "capture/ClipActions.h"
#include "capture/ClipKinds.h"
#include "store/ClipFileManager.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "support/Log.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>

namespace {

constexpr int kJpegQuality = 90;

std::optional<QString> writeAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        qCInfo(lcMenu) << "cannot save" << path << file.errorString();
        return std::nullopt;
    }
    return path;
}

// "图片 2026-12-06 22.30.15.jpg" from the time the clip was copied (now when unknown), with
// " (2)", " (3)" … before the extension when that name is taken: a name a person can read, and
// never a file of theirs replaced.
QString readableImagePath(const HistoryModel &clip, const QString &folder, const QString &extension)
{
    const QDateTime copied =
        clip.timestamp ? QDateTime::fromSecsSinceEpoch(*clip.timestamp) : QDateTime::currentDateTime();
    const QString stem = QCoreApplication::translate("ClipEditing", "图片 ")
                         + copied.toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
    QString path = folder + QLatin1Char('/') + stem + QLatin1Char('.') + extension;
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder + QLatin1Char('/') + stem + QStringLiteral(" (%1).").arg(n) + extension;
    return path;
}

std::optional<QString> saveImage(const HistoryModel &clip, const QString &folder, ClipFileManager &files)
{
    const std::optional<QByteArray> bytes = files.getDataWithMd5(clip.hash());
    if (!bytes)
        return std::nullopt;
    const std::optional<QString> format = ClipKinds::typeFromImageData(*bytes);
    if (!format)
        return std::nullopt;
    if (*format != QLatin1String("tiff"))
        return writeAtomically(readableImagePath(clip, folder, *format), *bytes);
    QImage image;
    if (!image.loadFromData(*bytes, "TIFF"))
        return std::nullopt;
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPG", kJpegQuality))
        return std::nullopt;
    return writeAtomically(readableImagePath(clip, folder, QStringLiteral("jpg")), jpeg);
}

std::optional<QString> saveFile(const HistoryModel &clip, const QString &folder, ClipFileManager &files)
{
    // File names also arrive from other devices; only the last component is used, so the
    // copy cannot land outside the folder.
    const QString name = QFileInfo(clip.file_name.value_or(QString())).fileName();
    if (!PathHelper::isPlainFileName(name))
        return std::nullopt;
    const QString link = files.makePreviewLink(clip);
    const QString target = folder + QLatin1Char('/') + name;
    if (!QFileInfo::exists(link) || QFileInfo::exists(target) || !QFile::copy(link, target))
        return std::nullopt;
    return target;
}

} // namespace

namespace ClipEditing {

std::optional<QString> saveToFolder(const HistoryModel &clip, const QString &folder, ClipFileManager &files)
{
    if (!ClipActions::hasPayloadName(clip) || folder.isEmpty() || !QDir().mkpath(folder))
        return std::nullopt;
    switch (clip.family()) {
    case ClipFamily::Image:
        return saveImage(clip, folder, files);
    case ClipFamily::File:
        return saveFile(clip, folder, files);
    case ClipFamily::Text:
    case ClipFamily::Other:
        break;
    }
    return std::nullopt;
}

void unlockSecret(const HistoryModel &clip)
{
    clip.signSecret(false);
}

} // namespace ClipEditing
