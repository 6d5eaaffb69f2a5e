#pragma once

#include "capture/ClipController.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <optional>

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

// Captures the clipboard's content and waits for the capture; true when a clip was stored.
inline bool captureNow(ClipController &capture, int timeoutMs = 10000)
{
    std::optional<bool> stored;
    QEventLoop loop;
    QObject::connect(&capture, &ClipController::captureFinished, &loop, [&](bool result) {
        stored = result;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    capture.catchClipboard();
    if (!stored)
        loop.exec();
    return stored.value_or(false);
}
