#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>

// Opens URLs for code without a window (a plugin's app.openURL, the plugin window's guide and
// developer page) through the application's way of opening them. The call may come from any
// thread; the opening always runs later on the main thread, and not at all once the context
// the application gave is gone.
class UrlOpener final
{
    Q_DISABLE_COPY_MOVE(UrlOpener)

public:
    using Open = std::function<void(const QUrl &url)>;

    // context: an object of the main thread that lives as long as open may run.
    UrlOpener(QObject *context, Open open);

    // Does nothing for an invalid URL.
    void openURL(const QUrl &url) const;

private:
    QPointer<QObject> m_context;
    Open m_open;
};
