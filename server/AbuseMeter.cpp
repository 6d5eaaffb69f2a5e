#include "AbuseMeter.h"

#include <QtGlobal>

#include <algorithm>

namespace {
constexpr qsizetype kPruneAbove = 10000;
constexpr auto kWindow = std::chrono::seconds(1);
} // namespace

AbuseMeter::AbuseMeter(int perSecond)
    : m_perSecond(qMax(1, perSecond))
{ }

void AbuseMeter::recordBad(const QString &address)
{
    const auto now = Clock::now();
    std::lock_guard lock(m_mutex);
    if (m_windows.size() > kPruneAbove) {
        for (auto it = m_windows.begin(); it != m_windows.end();)
            it = now - it->start >= kWindow ? m_windows.erase(it) : std::next(it);
    }
    Window &window = m_windows[address];
    if (now - window.start >= kWindow) {
        window.start = now;
        window.bad = 0;
    }
    ++window.bad;
}

AbuseMeter::Clock::time_point AbuseMeter::answerAt(const QString &address)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_windows.find(address);
    if (it == m_windows.end() || it->bad < m_perSecond)
        return {};
    // Held requests are let through one by one, spread over the following seconds at the
    // allowed rate, rather than all together when the second ends.
    const Clock::time_point slot = std::max(it->nextSlot, it->start + kWindow);
    it->nextSlot = slot + std::chrono::duration_cast<Clock::duration>(kWindow) / m_perSecond;
    return slot;
}
