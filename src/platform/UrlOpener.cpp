#include "platform/UrlOpener.h"

#include "support/MainQueue.h"

UrlOpener::UrlOpener(QObject *context, Open open)
    : m_context(context)
    , m_open(std::move(open))
{ }

void UrlOpener::openURL(const QUrl &url) const
{
    if (!url.isValid() || !m_open)
        return;
    // The guard was taken on the main thread, where the context lives and dies.
    dispatchMain([context = m_context, open = m_open, url] {
        if (context)
            open(url);
    });
}
