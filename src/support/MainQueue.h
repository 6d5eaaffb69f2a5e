#pragma once

#include <QObject>

#include <functional>

// Queues fn on the main thread's event loop; it never runs fn directly, even from the main
// thread, so callers can rely on it running after the current work.
void dispatchMain(std::function<void()> fn);
// As above, but fn is dropped when context has been destroyed by the time it would run.
void dispatchMain(QObject *context, std::function<void()> fn);
