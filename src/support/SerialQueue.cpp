#include "support/SerialQueue.h"

#include <QMetaObject>

SerialQueue::SerialQueue(const QString &name, QObject *parent)
    : QObject(parent)
{
    m_thread.setObjectName(name);
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread.start();
}

SerialQueue::~SerialQueue()
{
    m_thread.quit();
    m_thread.wait();
}

void SerialQueue::async(std::function<void()> fn)
{
    QMetaObject::invokeMethod(m_context, std::move(fn), Qt::QueuedConnection);
}

void SerialQueue::sync(const std::function<void()> &fn)
{
    if (isCurrent()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(
        m_context, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}
