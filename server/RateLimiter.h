#pragma once

#include <QHash>
#include <QString>

#include <mutex>

// At most `limit` events per key (an address, an account) in each window of `windowSeconds`;
// used for registrations and password-reset mails. A limit of 0 allows nothing. The interface;
// LocalRateLimiter counts in this process, PgRateLimiter in the database of several processes.
class RateLimiter
{
public:
    virtual ~RateLimiter() = default;
    // True, and the event counted, when the key may have one more event now.
    virtual bool allow(const QString &key, qint64 now) = 0;
    // Seconds until the key's window ends.
    virtual qint64 retryAfter(const QString &key, qint64 now) = 0;
};

class LocalRateLimiter final : public RateLimiter
{
public:
    LocalRateLimiter(int limit, qint64 windowSeconds);

    bool allow(const QString &key, qint64 now) override;
    qint64 retryAfter(const QString &key, qint64 now) override;

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
