#include "support/NotificationCenter.h"

#include "support/MainQueue.h"

#include <algorithm>

NotificationCenter &NotificationCenter::sharedInstance()
{
    static auto *instance = new NotificationCenter;
    return *instance;
}

void NotificationCenter::addObserver(const QString &name, QObject *context, Handler handler)
{
    QMutexLocker lock(&m_mutex);
    m_observers.push_back({name, QPointer<QObject>(context), std::move(handler)});
}

void NotificationCenter::removeObserver(QObject *context)
{
    QMutexLocker lock(&m_mutex);
    std::erase_if(m_observers, [context](const Observer &o) { return o.context == context; });
}

void NotificationCenter::post(const QString &name, const QVariant &object)
{
    // Handlers run outside the lock so that they may observe or post themselves.
    std::vector<Handler> handlers;
    {
        QMutexLocker lock(&m_mutex);
        std::erase_if(m_observers, [](const Observer &o) { return o.context.isNull(); });
        for (const Observer &o : m_observers) {
            if (o.name == name)
                handlers.push_back(o.handler);
        }
    }
    for (const Handler &handler : handlers)
        handler(object);
}

void NotificationCenter::postOnMain(const QString &name, const QVariant &object)
{
    dispatchMain([this, name, object] { post(name, object); });
}
