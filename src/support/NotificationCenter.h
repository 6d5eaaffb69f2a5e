#pragma once

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <functional>
#include <vector>

// The process-wide notification center. post() calls the observers synchronously on the
// posting thread; postOnMain() queues the post on the main thread first. An observer is tied
// to a context object and is forgotten once that object is destroyed.
class NotificationCenter final
{
    Q_DISABLE_COPY_MOVE(NotificationCenter)

public:
    using Handler = std::function<void(const QVariant &object)>;

    static NotificationCenter &sharedInstance();

    void addObserver(const QString &name, QObject *context, Handler handler);
    void removeObserver(QObject *context);

    void post(const QString &name, const QVariant &object = {});
    void postOnMain(const QString &name, const QVariant &object = {});

private:
    NotificationCenter() = default;

    struct Observer {
        QString name;
        QPointer<QObject> context;
        Handler handler;
    };

    QMutex m_mutex;
    std::vector<Observer> m_observers;
};
