#pragma once

#include <QMutex>
#include <QUrl>

#include <functional>

// Lets code without a window (the plugin runtime) ask the application to open a URL. The
// application sets a delegate at start-up; openURL queues the delegate's call on the main thread.
class ClipAppHelper final
{
    Q_DISABLE_COPY_MOVE(ClipAppHelper)

public:
    using Delegate = std::function<void(const QUrl &url)>;

    static ClipAppHelper &sharedInstance();

    void setDelegate(Delegate delegate);
    // Does nothing for an invalid URL or while no delegate is set. Safe from any thread.
    void openURL(const QUrl &url);

private:
    ClipAppHelper() = default;

    QMutex m_mutex;
    Delegate m_delegate;
};
