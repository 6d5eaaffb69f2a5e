#pragma once

#include <QObject>

// Announces that the computer is about to sleep and that it has woken up. This base class
// never announces anything by itself; tests emit its signals directly.
class SleepWatcher : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SleepWatcher)

public:
    explicit SleepWatcher(QObject *parent = nullptr)
        : QObject(parent)
    { }

Q_SIGNALS:
    void willSleep();
    void didWake();
};
