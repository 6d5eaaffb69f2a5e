#include "platform/LogindSleepWatcher.h"

#include "support/Log.h"

LogindSleepWatcher::LogindSleepWatcher(QObject *parent)
    : LogindSleepWatcher(QDBusConnection::systemBus(), parent)
{ }

LogindSleepWatcher::LogindSleepWatcher(const QDBusConnection &bus, QObject *parent)
    : SleepWatcher(parent)
{
    if (!bus.isConnected()) {
        qCDebug(lcPlatform) << "no system bus: sleep and wake are not watched";
        return;
    }
    // QDBusConnection::connect takes a slot signature; there is no function-pointer form.
    QDBusConnection connection(bus);
    m_listening = connection.connect(QStringLiteral("org.freedesktop.login1"),
                                     QStringLiteral("/org/freedesktop/login1"),
                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                     QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
}

void LogindSleepWatcher::prepareForSleep(bool start)
{
    if (start)
        Q_EMIT willSleep();
    else
        Q_EMIT didWake();
}
