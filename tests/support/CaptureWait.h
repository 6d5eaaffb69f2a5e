#pragma once

#include "capture/ClipController.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

// The capture stores a clip after its work off the main thread is done. These wait for that,
// turning the event loop, for tests and benchmarks that copy and then look at the store.

// Waits until no capture is under way; false when one is still running after timeoutMs.
inline bool waitForCaptures(ClipController &capture, int timeoutMs = 10000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (capture.isCapturing() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    return !capture.isCapturing();
}

// Captures the clipboard's content and waits until no capture is under way (one that a reported
// change started meanwhile included); true when the last of them stored a clip.
inline bool captureNow(ClipController &capture, int timeoutMs = 10000)
{
    bool stored = false;
    QObject context;
    QObject::connect(&capture, &ClipController::captureFinished, &context,
                     [&](bool result) { stored = result; });
    capture.catchClipboard();
    return waitForCaptures(capture, timeoutMs) && stored;
}
