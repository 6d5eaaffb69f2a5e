#pragma once

#include "platform/SleepWatcher.h"

#include <QDBusConnection>

// Sleep and wake as logind announces them on the system bus (PrepareForSleep true before
// sleep, false after wake). Without a system bus it stays quiet.
class LogindSleepWatcher final : public SleepWatcher
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogindSleepWatcher)

public:
    explicit LogindSleepWatcher(QObject *parent = nullptr);
    // Listens on the given bus instead (tests use a private bus).
    LogindSleepWatcher(const QDBusConnection &bus, QObject *parent = nullptr);

    bool isListening() const { return m_listening; }

private Q_SLOTS:
    void prepareForSleep(bool start);

private:
    bool m_listening = false;
};
