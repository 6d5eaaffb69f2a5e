#pragma once

#include "capture/ClipPrivacy.h"
#include "store/HistoryModel.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class ClipFileManager;
class Pasteboard;

// The clipboard monitor. When the pasteboard's change counter moves, the new content is
// captured: a file, an image or a text becomes a clip whose payload goes to the data folder
// and whose history row is stored or moved to the top and marked for the push. The counter
// is looked at as soon as the pasteboard reports a change, and on every tick of a timer, for
// desktops that report nothing; a tick after a reported change finds nothing new. Everything
// runs on the main thread.
class ClipController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ClipController)

public:
    // Starts the timer and listens to the pasteboard's change reports. The first poll runs as
    // soon as the event loop turns and captures what the pasteboard holds. Payloads go to
    // files.
    ClipController(Pasteboard &pasteboard, ClipFileManager &files, QObject *parent = nullptr);
    ~ClipController() override;

    // (Re)starts the polling timer with the interval of "CLIP_MONITOR_SPEED", unless the
    // pasteboard reports every change.
    void startClipObserver();
    // One poll: captures when the change counter moved (or nothing was seen yet) and then
    // queues a rebuild of the menu. Run by the timer and after each reported change.
    void seekClipboard();
    // Captures the current pasteboard content now. True when a clip was stored or moved to
    // the top; false when the content was empty, unreadable, too large or dropped.
    bool catchClipboard();
    // After the sign-out emptied the history: captures the current content (the application
    // calls it when the account signs out).
    void keepCurrentContentAfterSignOut();

    qint64 lastChangedCount() const { return m_lastChangedCount; }
    QString currentClipHash() const { return m_currentClipHash; }
    int pollInterval() const { return m_timer.interval(); }
    // Whether the fallback poll runs: only for a clipboard that does not report every change.
    bool isPolling() const { return m_timer.isActive(); }
    Pasteboard &pasteboard() { return m_pasteboard; }

    // Hooks for the parts that come later. The menu rebuild is queued on the main thread
    // after every poll that saw a change; the history service is started after every stored
    // clip. Both do nothing until set.
    void setMenuRebuild(std::function<void()> buildMenu) { m_buildMenu = std::move(buildMenu); }
    void setHistoryProcess(std::function<void()> process) { m_processHistory = std::move(process); }
    // The privacy rules; without them every clip is ordinary.
    void setPrivacy(std::unique_ptr<ClipPrivacy> privacy);
    // The clock of the history timestamps, in whole Unix seconds.
    void setClock(std::function<qint64()> now) { m_now = std::move(now); }

private:
    std::optional<HistoryModel> fileClip(const QString &path);
    std::optional<HistoryModel> imageClip(const QImage &image);
    std::optional<HistoryModel> textClip(const QString &text);
    void store(HistoryModel &record);

    void changeReported();

    Pasteboard &m_pasteboard;
    ClipFileManager &m_files;
    int m_changeHandler = 0;
    bool m_pollQueued = false;
    QTimer m_timer;
    qint64 m_lastChangedCount = 0;
    QString m_currentClipHash;
    std::unique_ptr<ClipPrivacy> m_privacy;
    std::function<void()> m_buildMenu;
    std::function<void()> m_processHistory;
    std::function<qint64()> m_now;
};
