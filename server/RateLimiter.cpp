#include "RateLimiter.h"

#include <QtGlobal>

namespace {
constexpr qsizetype kPruneAbove = 10000;
}

LocalRateLimiter::LocalRateLimiter(int limit, qint64 windowSeconds)
    : m_limit(qMax(0, limit))
    , m_window(qMax<qint64>(1, windowSeconds))
{ }

bool LocalRateLimiter::allow(const QString &key, qint64 now)
{
    std::lock_guard lock(m_mutex);
    if (m_windows.size() > kPruneAbove) {
        for (auto it = m_windows.begin(); it != m_windows.end();)
            it = now - it->start >= m_window ? m_windows.erase(it) : std::next(it);
    }
    Window &window = m_windows[key];
    if (now - window.start >= m_window)
        window = {now, 0};
    if (window.count >= m_limit)
        return false;
    ++window.count;
    return true;
}

qint64 LocalRateLimiter::retryAfter(const QString &key, qint64 now)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_windows.constFind(key);
    return it == m_windows.cend() ? 0 : qMax<qint64>(1, it->start + m_window - now);
}
