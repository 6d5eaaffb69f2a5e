#include "capture/ClipController.h"

#include "capture/ClipBuilder.h"
#include "platform/Pasteboard.h"
#include "store/ClipFileManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryDatabase.h"
#include "store/Settings.h"
#include "support/Log.h"
#include "support/MainQueue.h"
#include "support/MemoryTrim.h"

#include <QDateTime>

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
    , m_privacy(std::make_shared<ClipPrivacy>())
    , m_now([] { return QDateTime::currentSecsSinceEpoch(); })
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ClipController::seekClipboard);
    startClipObserver();
    connect(&m_pasteboard, &Pasteboard::changed, this, &ClipController::changeReported);
    // The content at start is captured at the first turn of the event loop, once the
    // program has set the hooks and privacy rules, not after a whole interval.
    changeReported();
}

ClipController::~ClipController() = default;

void ClipController::setPrivacy(std::unique_ptr<ClipPrivacy> privacy)
{
    // Shared with the captures under way, which keep the rules they started with.
    m_privacy = privacy ? std::shared_ptr<ClipPrivacy>(std::move(privacy)) : std::make_shared<ClipPrivacy>();
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
    if (m_lastChangedCount == 0 || m_lastChangedCount != count)
        catchClipboard();
    m_lastChangedCount = count;
}

void ClipController::catchClipboard()
{
    ++m_capturesUnderWay;
    // Without a usable history (the user was told at start) nothing is recorded.
    if (m_pasteboard.isEmpty() || !HistoryDatabase::isUsable()) {
        finishEmptyCapture();
        return;
    }
    // What a password manager marks as secret is never recorded, whatever the privacy rules say.
    if (m_pasteboard.isMarkedSecretByPasswordManager()) {
        qCDebug(lcCapture) << "clip marked secret by a password manager, not recorded";
        finishEmptyCapture();
        return;
    }

    // The clipboard can only be read here; everything that takes time happens on the worker.
    ClipboardContent content;
    content.filePath = m_pasteboard.firstFilePath();
    if (!content.filePath) {
        content.image = m_pasteboard.firstImage();
        content.text = m_pasteboard.string();
    }
    m_worker.async([this, content = std::move(content), privacy = m_privacy]() mutable {
        BuiltClip built = buildClip(std::move(content), *privacy, m_files);
        // The buffers of a large image are free by now; the allocator hands their pages back.
        if (built.largeImage)
            MemoryTrim::returnFreedMemory();
        QMetaObject::invokeMethod(
            this, [this, built = std::move(built)]() mutable { finishCapture(std::move(built)); },
            Qt::QueuedConnection);
    });
}

void ClipController::finishEmptyCapture()
{
    // Finished on the next turn of the event loop, as every capture is, so that callers see
    // one order whatever the content.
    QMetaObject::invokeMethod(
        this, [this] { finishCapture(BuiltClip{}); }, Qt::QueuedConnection);
}

void ClipController::finishCapture(BuiltClip built)
{
    --m_capturesUnderWay;
    const bool stored = built.record.has_value();
    if (built.record) {
        store(*built.record);
        m_files.releasePayload(built.record->hash());
    }
    if (m_buildMenu)
        m_buildMenu();
    emit captureFinished(stored);
}

void ClipController::store(HistoryModel &record)
{
    const QString hash = record.hash();
    const qint64 now = m_now();
    m_currentClipHash = hash;
    if (record.isExist()) {
        // The stored row keeps its content, type, secret flag and service ids; it gains the
        // payload when this capture wrote one.
        if (record.local_file_ok == 1)
            DBKeeper::setLocalFileOkWithHash(hash);
    } else {
        record.timestamp = now;
        record.save();
    }
    // Moves the clip to the top, together with a favourite row of the same content.
    DBKeeper::updateTimestamp(now, hash);
    record.increase_change_count();
    // The history keeps as many clips as the settings say; the oldest beyond go, files too.
    m_files.deleteFilesWithHashArray(DBKeeper::cleanupDatabase(Category::history));
    if (m_processHistory)
        m_processHistory();
}

void ClipController::keepCurrentContentAfterSignOut()
{
    // The sign-out emptied the history; what the clipboard holds now starts the new one.
    catchClipboard();
}
