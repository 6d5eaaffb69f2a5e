#pragma once

#include <QHash>
#include <QString>

#include <mutex>

// At most `limit` events per key (an address, an account) in each window of `windowSeconds`;
// used for registrations and password-reset mails. A limit of 0 allows nothing.
class RateLimiter final
{
public:
    RateLimiter(int limit, qint64 windowSeconds);

    // True, and the event counted, when the key may have one more event now.
    bool allow(const QString &key, qint64 now);
    // Seconds until the key's window ends.
    qint64 retryAfter(const QString &key, qint64 now);

private:
    struct Window {
        qint64 start = 0;
        int count = 0;
    };
    std::mutex m_mutex;
    QHash<QString, Window> m_windows;
    int m_limit;
    qint64 m_window;
};
