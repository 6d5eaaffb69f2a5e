#pragma once

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>

// A named thread with its own Qt event loop that runs submitted work one item at a time, in
// order. Objects that need an event loop (a QNetworkAccessManager, timers) can live on it.
class SerialQueue final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SerialQueue)

public:
    explicit SerialQueue(const QString &name, QObject *parent = nullptr);
    ~SerialQueue() override;

    QString name() const { return m_thread.objectName(); }

    // Runs fn later on the queue's thread.
    void async(std::function<void()> fn);
    // Runs fn on the queue's thread and waits for it; runs it at once when already there.
    void sync(const std::function<void()> &fn);

    bool isCurrent() const { return QThread::currentThread() == &m_thread; }
    // An object living on the queue's thread, usable as a context for connections.
    QObject *context() const { return m_context; }

private:
    QThread m_thread;
    QObject *m_context = nullptr;
};
