#include "LoginThrottle.h"

#include <QtGlobal>

namespace {
constexpr qint64 kMaxDelaySeconds = 300;
constexpr qint64 kForgetAfterSeconds = 3600;
} // namespace

LoginThrottle::LoginThrottle(int freeFailures)
    : m_freeFailures(qMax(1, freeFailures))
{ }

qint64 LoginThrottle::waitSeconds(const QString &address, qint64 now)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_entries.constFind(address);
    if (it == m_entries.cend() || it->failures < m_freeFailures)
        return 0;
    const int excess = qMin(it->failures - m_freeFailures, 16);
    const qint64 delay = qMin<qint64>(qint64(1) << excess, kMaxDelaySeconds);
    return qMax<qint64>(0, it->last + delay - now);
}

void LoginThrottle::recordFailure(const QString &address, qint64 now)
{
    std::lock_guard lock(m_mutex);
    // Old entries are dropped so the table cannot grow without bound.
    if (m_entries.size() > 10000) {
        for (auto it = m_entries.begin(); it != m_entries.end();)
            it = now - it->last > kForgetAfterSeconds ? m_entries.erase(it) : std::next(it);
    }
    Entry &entry = m_entries[address];
    if (now - entry.last > kForgetAfterSeconds)
        entry.failures = 0;
    ++entry.failures;
    entry.last = now;
}

void LoginThrottle::recordSuccess(const QString &address)
{
    std::lock_guard lock(m_mutex);
    m_entries.remove(address);
}
