#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <functional>

// Runs submitted work one item at a time, in submission order, off the main thread. The work
// runs on a pooled thread that ends when the worker has been idle for a while, so an idle
// program keeps no thread for it; the destructor waits for the work under way and drops
// what has not started. For state that must never be touched by two threads at once (a Lua
// state) without a thread of its own.
class SerialWorker final
{
    Q_DISABLE_COPY_MOVE(SerialWorker)

public:
    SerialWorker();
    ~SerialWorker();

    void async(std::function<void()> fn);
    // Runs fn on the worker and waits for it; runs it at once when called from the worker's work.
    void sync(const std::function<void()> &fn);
    // Whether the caller is work of this worker.
    bool isCurrent() const;

private:
    QThreadPool m_pool;
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
