#include "platform/ClipAppHelper.h"

#include "support/MainQueue.h"

ClipAppHelper &ClipAppHelper::sharedInstance()
{
    static auto *instance = new ClipAppHelper;
    return *instance;
}

void ClipAppHelper::setDelegate(Delegate delegate)
{
    QMutexLocker lock(&m_mutex);
    m_delegate = std::move(delegate);
}

void ClipAppHelper::openURL(const QUrl &url)
{
    if (!url.isValid())
        return;
    Delegate delegate;
    {
        QMutexLocker lock(&m_mutex);
        delegate = m_delegate;
    }
    if (!delegate)
        return;
    dispatchMain([delegate = std::move(delegate), url] { delegate(url); });
}
