#include "capture/ClipController.h"

#include "capture/ClipImage.h"
#include "capture/ClipKinds.h"
#include "platform/Pasteboard.h"
#include "store/ClipFileManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryDatabase.h"
#include "store/Settings.h"
#include "support/Log.h"
#include "support/MainQueue.h"
#include "support/Md5.h"
#include "support/MemoryTrim.h"
#include "support/PayloadLimit.h"

#include <QDateTime>
#include <QFileInfo>

#include <cmath>

namespace {

int pollIntervalMs()
{
    return std::max(1, static_cast<int>(std::lround(Settings::pollIntervalSeconds() * 1000.0)));
}

} // namespace

ClipController::ClipController(Pasteboard &pasteboard, ClipFileManager &files, QObject *parent)
    : QObject(parent)
    , m_pasteboard(pasteboard)
    , m_files(files)
    , m_privacy(std::make_unique<ClipPrivacy>())
    , m_now([] { return QDateTime::currentSecsSinceEpoch(); })
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ClipController::seekClipboard);
    startClipObserver();
    m_changeHandler = m_pasteboard.addChangeHandler([this] { changeReported(); });
    // The content at start is captured at the first turn of the event loop, once the
    // program has set the hooks and privacy rules, not after a whole interval.
    changeReported();
}

ClipController::~ClipController()
{
    m_pasteboard.removeChangeHandler(m_changeHandler);
}

void ClipController::setPrivacy(std::unique_ptr<ClipPrivacy> privacy)
{
    m_privacy = privacy ? std::move(privacy) : std::make_unique<ClipPrivacy>();
}

void ClipController::startClipObserver()
{
    m_timer.stop();
    m_timer.setInterval(pollIntervalMs());
    // A clipboard that reports every change needs no poll: an idle program stays asleep.
    if (!m_pasteboard.reportsEveryChange())
        m_timer.start();
}

// A change is reported from inside the code that made it: the X11 event handling, or this
// program's own write of a clip in a menu action (paste-back). The poll is queued to run right
// after that code has returned, on the main thread, instead of inside it.
//
// Copies that come faster than a capture runs: X11 keeps no history of the clipboard; once a
// program has taken the clipboard, the content of the one before can no longer be read. So
// the poll reads the newest content at each reported change; notices that arrive before the
// queued poll runs share that one poll, which captures what is there then. Reading each
// change's own content in order cannot be done here. It is also what is wanted when a program
// replaces its own offer several times within a few milliseconds: one clip, of what it offers
// last. Copies 0.1 s apart are each read long before the next arrives, so none is lost.
void ClipController::changeReported()
{
    if (m_pollQueued)
        return;
    m_pollQueued = true;
    dispatchMain(this, [this] {
        m_pollQueued = false;
        seekClipboard();
    });
}

void ClipController::seekClipboard()
{
    const qint64 count = m_pasteboard.changeCount();
    if (count == 0)
        return;
    if (m_lastChangedCount == 0 || m_lastChangedCount != count) {
        catchClipboard();
        // Queued even when nothing was stored, so the menu always reflects the store.
        dispatchMain(this, [this] {
            if (m_buildMenu)
                m_buildMenu();
        });
    }
    m_lastChangedCount = count;
}

bool ClipController::catchClipboard()
{
    // Without a usable history (the user was told at start) nothing is recorded.
    if (m_pasteboard.isEmpty() || !HistoryDatabase::isUsable())
        return false;
    // What a password manager marks as secret is never recorded, whatever the privacy rules say.
    if (m_pasteboard.isMarkedSecretByPasswordManager()) {
        qCDebug(lcCapture) << "clip marked secret by a password manager, not recorded";
        return false;
    }

    // A clearing that runs meanwhile must not remove the payload written below before its row
    // is stored.
    const auto payloads = m_files.lockPayloads();
    std::optional<HistoryModel> record;
    bool large = false;
    // A file URL wins over an image, an image over a text; only the first of each counts.
    if (const std::optional<QString> path = m_pasteboard.firstFilePath()) {
        record = fileClip(*path);
    } else if (std::optional<QImage> image = m_pasteboard.firstImage()) {
        large = std::size_t(image->sizeInBytes()) >= MemoryTrim::kLargeClipBytes;
        record = imageClip(*image);
        image.reset(); // the decoded pixels go before the row is written
    } else if (const std::optional<QString> text = m_pasteboard.string()) {
        record = textClip(*text);
    }
    if (record)
        store(*record);
    // The buffers of a large image are free by now; the allocator hands their pages back.
    if (large)
        MemoryTrim::returnFreedMemory();
    return record.has_value();
}

std::optional<HistoryModel> ClipController::fileClip(const QString &path)
{
    const QFileInfo info(path);
    // Folders, missing files and special files (devices, pipes, which could block or never
    // end) are not clips.
    if (!info.exists() || !info.isFile()) {
        qCDebug(lcCapture) << "not a file:" << path;
        return std::nullopt;
    }
    if (info.size() > kMaxPayloadBytes) {
        qCDebug(lcCapture) << "file too large:" << path << info.size();
        return std::nullopt;
    }
    const QString hash = md5_hex_of_file(path);
    if (hash.isEmpty()) {
        qCDebug(lcCapture) << "file not readable:" << path;
        return std::nullopt;
    }
    const QString extension = ClipKinds::fileExtension(path);
    const ClipPrivacy::Decision decision = m_privacy->decide(ClipFamily::File, extension, path);
    if (decision == ClipPrivacy::Decision::Drop)
        return std::nullopt;

    HistoryModel record;
    record.content = info.fileName();
    record.file_hash = hash;
    record.type = ClipKinds::fileClipType(extension);
    record.file_name = info.fileName();
    // A failed copy leaves file_size 0 and local_file_ok 0; the row is stored all the same.
    if (!m_files.saveClipFile(path, record))
        qCDebug(lcCapture) << "payload of file not written:" << path;
    record.secret = decision == ClipPrivacy::Decision::Secret;
    return record;
}

std::optional<HistoryModel> ClipController::imageClip(const QImage &image)
{
    const QByteArray tiff = clipTiffData(image);
    if (tiff.isEmpty()) {
        qCDebug(lcCapture) << "image without TIFF encoding" << image.size();
        return std::nullopt;
    }
    const ClipPrivacy::Decision decision =
        m_privacy->decide(ClipFamily::Image, QStringLiteral("data"), QStringLiteral("image data"));
    if (decision == ClipPrivacy::Decision::Drop)
        return std::nullopt;

    HistoryModel record;
    record.file_hash = md5_hex(tiff);
    record.content = imageThumbnail(image);
    record.type = ClipKinds::imageClipType;
    record.local_file_ok = 1;
    record.secret = decision == ClipPrivacy::Decision::Secret;
    m_files.saveClipData(tiff, record);
    return record;
}

std::optional<HistoryModel> ClipController::textClip(const QString &string)
{
    // Other clients hash a text's UTF-8 bytes up to the first NUL. The clip is that part of
    // the text, so that its payload holds exactly the bytes its hash names.
    const qsizetype nul = string.indexOf(QChar(u'\0'));
    const QString text = nul < 0 ? string : string.left(nul);
    if (text.isEmpty())
        return std::nullopt;
    const QByteArray bytes = text.toUtf8();
    const ClipPrivacy::Decision decision = m_privacy->decide(ClipFamily::Text, QString(), text);
    if (decision == ClipPrivacy::Decision::Drop)
        return std::nullopt;

    HistoryModel record;
    record.content = ClipKinds::textAbstract(text);
    record.type = ClipKinds::typeFromString(text);
    record.file_hash = md5_hex(bytes);
    record.local_file_ok = 1;
    record.secret = decision == ClipPrivacy::Decision::Secret;
    m_files.saveClipData(bytes, record);
    return record;
}

void ClipController::store(HistoryModel &record)
{
    const QString hash = record.hash();
    const qint64 now = m_now();
    m_currentClipHash = hash;
    if (record.isExist()) {
        // The stored row keeps its content, type, secret flag and service ids; it gains the
        // payload only when this capture wrote it.
        if (record.local_file_ok.value_or(0) == 1)
            DBKeeper::setLocalFileOkWithHash(hash);
    } else {
        record.timestamp = now;
        record.save();
    }
    // Moves the clip to the top, together with a favourite row of the same content.
    DBKeeper::updateTimestamp(now, hash);
    record.increase_change_count();
    if (m_processHistory)
        m_processHistory();
}

void ClipController::keepCurrentContentAfterSignOut()
{
    // The sign-out emptied the history; what the clipboard holds now starts the new one.
    catchClipboard();
    if (m_buildMenu)
        m_buildMenu();
}
