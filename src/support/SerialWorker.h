#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <functional>

// Runs submitted work one item at a time, in submission order, off the main thread. The work
// runs on a pooled thread that ends when the worker has been idle for a while, so an idle
// program keeps no thread for it. For state that must never be touched by two threads at once
// (a Lua state) without a thread of its own.
class SerialWorker final
{
    Q_DISABLE_COPY_MOVE(SerialWorker)

public:
    SerialWorker();
    // Stops with the default wait; see stop().
    ~SerialWorker();

    static constexpr int kDefaultStopWaitMs = 1000;
    // Drops the work that has not started and waits up to waitMs for the work under way. True
    // when it ended; false when it is stuck (in C code no deadline reaches): its thread is then
    // abandoned to end with the process, and what that work uses must be left alone. Later
    // work is refused.
    bool stop(int waitMs = kDefaultStopWaitMs);

    void async(std::function<void()> fn);
    // Runs fn on the worker and waits for it; runs it at once when called from the worker's work.
    void sync(const std::function<void()> &fn);
    // Whether the caller is work of this worker.
    bool isCurrent() const;

private:
    QThreadPool *m_pool = nullptr;
};

// Runs work on the shared thread pool (whose threads end when idle), then hands its result to
// done on the main thread. When a context (an object of the main thread) is given and is gone
// by then, done is dropped.
template<typename Result>
void runInBackground(QObject *context, std::function<Result()> work, std::function<void(Result)> done)
{
    QThreadPool::globalInstance()->start([guard = QPointer<QObject>(context), hasContext = context != nullptr,
                                          work = std::move(work), done = std::move(done)]() mutable {
        Result result = work();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, hasContext, done = std::move(done), result = std::move(result)]() mutable {
                if (!hasContext || guard)
                    done(std::move(result));
            },
            Qt::QueuedConnection);
    });
}
