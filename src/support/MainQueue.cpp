#include "support/MainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

void dispatchMain(std::function<void()> fn)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void dispatchMain(QObject *context, std::function<void()> fn)
{
    QPointer<QObject> guard(context);
    dispatchMain([guard, fn = std::move(fn)] {
        if (guard)
            fn();
    });
}
