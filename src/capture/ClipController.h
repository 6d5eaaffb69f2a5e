#pragma once

#include "capture/ClipPrivacy.h"
#include "store/HistoryModel.h"
#include "support/SerialWorker.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

struct BuiltClip;
class ClipFileManager;
class Pasteboard;

// The clipboard monitor. When the pasteboard's change counter moves, the new content is
// captured: a file, an image or a text becomes a clip whose payload goes to the data folder
// and whose history row is stored or moved to the top and marked for the push. The counter
// is looked at as soon as the pasteboard reports a change, and on every tick of a timer, for
// desktops that report nothing; a tick after a reported change finds nothing new.
//
// The clipboard is read and the row stored on the main thread; in between, the privacy rules,
// image coding, hashing and payload writing run on a worker of their own, one capture after
// the other, so that a large image or a slow privacy script never stalls the menu.
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
    // One poll: captures when the change counter moved (or nothing was seen yet). Run by the
    // timer and after each reported change.
    void seekClipboard();
    // Starts a capture of the current pasteboard content. captureFinished() follows, and the
    // menu is rebuilt, once the clip is stored or found to be none.
    void catchClipboard();
    // After the sign-out emptied the history: captures the current content (the application
    // calls it when the account signs out).
    void keepCurrentContentAfterSignOut();

    // Whether a capture is under way (started and not yet finished).
    bool isCapturing() const { return m_capturesUnderWay > 0; }
    qint64 lastChangedCount() const { return m_lastChangedCount; }
    QString currentClipHash() const { return m_currentClipHash; }
    int pollInterval() const { return m_timer.interval(); }
    // Whether the fallback poll runs: only for a clipboard that does not report every change.
    bool isPolling() const { return m_timer.isActive(); }
    Pasteboard &pasteboard() { return m_pasteboard; }

    // Hooks for the parts that come later. The menu is rebuilt after every capture, also one
    // that stored nothing, so that it always reflects the store; the history service is started
    // after every stored clip. Both do nothing until set.
    void setMenuRebuild(std::function<void()> buildMenu) { m_buildMenu = std::move(buildMenu); }
    void setHistoryProcess(std::function<void()> process) { m_processHistory = std::move(process); }
    // The privacy rules, asked on the capture's worker; without them every clip is ordinary.
    void setPrivacy(std::unique_ptr<ClipPrivacy> privacy);
    // The clock of the history timestamps, in whole Unix seconds.
    void setClock(std::function<qint64()> now) { m_now = std::move(now); }

signals:
    // A capture ended: stored is true when a clip was stored or moved to the top; false when
    // the content was empty, unreadable, too large or dropped.
    void captureFinished(bool stored);

private:
    void finishCapture(BuiltClip built);
    void finishEmptyCapture();
    void store(HistoryModel &record);
    void changeReported();

    Pasteboard &m_pasteboard;
    ClipFileManager &m_files;
    bool m_pollQueued = false;
    QTimer m_timer;
    qint64 m_lastChangedCount = 0;
    QString m_currentClipHash;
    int m_capturesUnderWay = 0;
    std::shared_ptr<ClipPrivacy> m_privacy;
    std::function<void()> m_buildMenu;
    std::function<void()> m_processHistory;
    std::function<qint64()> m_now;
    // Last, so that it ends (waiting for the capture under way) before anything it uses.
    SerialWorker m_worker;
};
