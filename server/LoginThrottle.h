#pragma once

#include <QHash>
#include <QString>

#include <mutex>

// Slows down password guessing: after `freeFailures` failed sign-ins from one address, each
// further attempt must wait twice as long as the one before (1 s, 2 s, 4 s ... at most 5 min)
// after the last failure. A success clears the address's record.
class LoginThrottle final
{
public:
    explicit LoginThrottle(int freeFailures);

    // Seconds the address still has to wait; 0 when it may try now.
    qint64 waitSeconds(const QString &address, qint64 now);
    void recordFailure(const QString &address, qint64 now);
    void recordSuccess(const QString &address);

private:
    struct Entry {
        int failures = 0;
        qint64 last = 0;
    };
    std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
    int m_freeFailures;
};
