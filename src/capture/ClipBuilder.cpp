#include "capture/ClipBuilder.h"

#include "capture/ClipImage.h"
#include "capture/ClipKinds.h"
#include "capture/ClipPrivacy.h"
#include "store/ClipFileManager.h"
#include "support/Log.h"
#include "support/Md5.h"
#include "support/MemoryTrim.h"
#include "support/PayloadLimit.h"

#include <QFileInfo>

namespace {

// A payload that could not be written leaves the row without one (local_file_ok 0; a later copy
// or download brings it), never a row that claims a file it does not have.
void notePayload(const HistoryModel &record)
{
    if (record.local_file_ok != 1)
        qCWarning(lcCapture) << "payload not written; the clip is kept without it";
}

// Reserves the payload's hash until the row is stored and writes the payload of a text or image.
HistoryModel withPayload(HistoryModel record, const QByteArray &bytes, ClipFileManager &files)
{
    record.local_file_ok = 1;
    files.reservePayload(record.hash());
    files.saveClipData(bytes, record);
    notePayload(record);
    return record;
}

std::optional<HistoryModel> fileClip(const QString &path, ClipPrivacy &privacy, ClipFileManager &files)
{
    const QFileInfo info(path);
    // Folders, missing files and special files (devices, pipes, which could block or never
    // end) are not clips.
    if (!info.exists() || !info.isFile()) {
        qCDebug(lcCapture) << "not a file:" << path;
        return std::nullopt;
    }
    if (info.size() > kMaxPayloadBytes) {
        qCInfo(lcCapture) << "copied file not recorded: larger than" << kMaxPayloadBytes << "bytes";
        return std::nullopt;
    }
    const QString hash = md5_hex_of_file(path);
    if (hash.isEmpty()) {
        qCDebug(lcCapture) << "file not readable:" << path;
        return std::nullopt;
    }
    const QString extension = ClipKinds::fileExtension(path);
    const ClipPrivacy::Decision decision = privacy.decide(ClipFamily::File, extension, path);
    if (decision == ClipPrivacy::Decision::Drop)
        return std::nullopt;

    HistoryModel record;
    record.content = info.fileName();
    record.file_hash = hash;
    record.type = ClipKinds::fileClipType(extension);
    record.file_name = info.fileName();
    record.secret = decision == ClipPrivacy::Decision::Secret;
    files.reservePayload(hash);
    // A failed copy leaves file_size 0; the row is stored all the same.
    files.saveClipFile(path, record);
    notePayload(record);
    return record;
}

std::optional<HistoryModel> imageClip(const QImage &image, ClipPrivacy &privacy, ClipFileManager &files)
{
    const QByteArray tiff = clipTiffData(image);
    if (tiff.isEmpty()) {
        qCDebug(lcCapture) << "image without TIFF encoding" << image.size();
        return std::nullopt;
    }
    const ClipPrivacy::Decision decision =
        privacy.decide(ClipFamily::Image, QStringLiteral("data"), QStringLiteral("image data"));
    if (decision == ClipPrivacy::Decision::Drop)
        return std::nullopt;

    HistoryModel record;
    record.file_hash = md5_hex(tiff);
    record.content = imageThumbnail(image);
    record.type = ClipKinds::imageClipType;
    record.secret = decision == ClipPrivacy::Decision::Secret;
    return withPayload(std::move(record), tiff, files);
}

std::optional<HistoryModel> textClip(const QString &string, ClipPrivacy &privacy, ClipFileManager &files)
{
    // Other clients hash a text's UTF-8 bytes up to the first NUL. The clip is that part of
    // the text, so that its payload holds exactly the bytes its hash names.
    const qsizetype nul = string.indexOf(QChar(u'\0'));
    const QString text = nul < 0 ? string : string.left(nul);
    if (text.isEmpty())
        return std::nullopt;
    const QByteArray bytes = text.toUtf8();
    const ClipPrivacy::Decision decision = privacy.decide(ClipFamily::Text, QString(), text);
    if (decision == ClipPrivacy::Decision::Drop)
        return std::nullopt;

    HistoryModel record;
    record.content = ClipKinds::textAbstract(text);
    record.type = ClipKinds::typeFromString(text);
    record.file_hash = md5_hex(bytes);
    record.secret = decision == ClipPrivacy::Decision::Secret;
    return withPayload(std::move(record), bytes, files);
}

} // namespace

BuiltClip buildClip(ClipboardContent content, ClipPrivacy &privacy, ClipFileManager &files)
{
    BuiltClip built;
    if (content.filePath) {
        built.record = fileClip(*content.filePath, privacy, files);
        return built;
    }
    if (content.image) {
        QImage image = content.image->decode();
        content.image.reset();
        if (!image.isNull()) {
            built.largeImage = std::size_t(image.sizeInBytes()) >= MemoryTrim::kLargeClipBytes;
            built.record = imageClip(image, privacy, files);
            return built;
        }
        qCDebug(lcCapture) << "clipboard image not decodable";
    }
    if (content.text)
        built.record = textClip(*content.text, privacy, files);
    return built;
}
