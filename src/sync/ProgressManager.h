#pragma once

#include <QMutex>
#include <QObject>
#include <QPointer>

#include <functional>

// Reports transfer progress to the one overall observer (the tray item's busy indicator),
// which is held weakly: its owner may go away at any time.
class ProgressManager final
{
    Q_DISABLE_COPY_MOVE(ProgressManager)

public:
    using Observer = std::function<void(float fraction, bool animated)>;

    ProgressManager() = default;

    // The observer is called on the main thread while owner lives.
    void registerGlobalProgress(QObject *owner, Observer observer);
    // Any thread: hands completed / total to the observer on the main thread.
    void progress(qint64 completed, qint64 total, const QString &hash);

private:
    QMutex m_mutex;
    QPointer<QObject> m_owner;
    Observer m_observer;
};
