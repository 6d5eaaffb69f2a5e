#include "LoginThrottle.h"

#include <QtGlobal>

namespace {
constexpr qint64 kMaxDelaySeconds = 300;
constexpr qsizetype kPruneAbove = 10000;
} // namespace

LoginThrottle::Limits LoginThrottle::sane(Limits limits)
{
    limits.addressFreeFailures = qMax(1, limits.addressFreeFailures);
    limits.accountFreeFailures = qMax(1, limits.accountFreeFailures);
    limits.slowSeconds = qMax(1, limits.slowSeconds);
    limits.maxSlowAttempts = qMax(1, limits.maxSlowAttempts);
    return limits;
}

qint64 LoginThrottle::waitFor(int failures, qint64 last, int freeFailures, qint64 now)
{
    if (failures < freeFailures || now - last > kForgetAfterSeconds)
        return 0;
    const int excess = qMin(failures - freeFailures, 16);
    const qint64 delay = qMin<qint64>(qint64(1) << excess, kMaxDelaySeconds);
    return qMax<qint64>(0, last + delay - now);
}

LocalLoginThrottle::LocalLoginThrottle(const Limits &limits)
    : m_limits(sane(limits))
{ }

qint64 LocalLoginThrottle::waitOf(const QHash<QString, Entry> &table, const QString &key, int freeFailures,
                                  qint64 now) const
{
    const auto it = table.constFind(key);
    return it == table.cend() ? 0 : waitFor(it->failures, it->last, freeFailures, now);
}

void LocalLoginThrottle::countFailure(QHash<QString, Entry> &table, const QString &key, qint64 now)
{
    // Old entries are dropped so the table cannot grow without bound.
    if (table.size() > kPruneAbove) {
        for (auto it = table.begin(); it != table.end();)
            it = now - it->last > kForgetAfterSeconds ? table.erase(it) : std::next(it);
    }
    Entry &entry = table[key];
    if (now - entry.last > kForgetAfterSeconds)
        entry.failures = 0;
    ++entry.failures;
    entry.last = now;
}

LoginThrottle::Verdict LocalLoginThrottle::begin(const QString &address, const QString &account, qint64 now)
{
    std::lock_guard lock(m_mutex);
    const qint64 wait = qMax(waitOf(m_addresses, address, m_limits.addressFreeFailures, now),
                             waitOf(m_accounts, account, m_limits.accountFreeFailures, now));
    Verdict verdict{Decision::Admit, 0};
    if (wait > 0) {
        if (m_slowAccounts.contains(account) || m_slowAddresses.contains(address)
            || m_slowAccounts.size() >= m_limits.maxSlowAttempts)
            return {Decision::Refuse, qMin<qint64>(wait, m_limits.slowSeconds)};
        m_slowAccounts.insert(account);
        m_slowAddresses.insert(address);
        verdict = {Decision::Slow, m_limits.slowSeconds};
    }
    countFailure(m_addresses, address, now);
    countFailure(m_accounts, account, now);
    return verdict;
}

void LocalLoginThrottle::finish(const QString &address, const QString &account, const Verdict &verdict,
                                bool success)
{
    std::lock_guard lock(m_mutex);
    if (verdict.decision == Decision::Slow) {
        m_slowAccounts.remove(account);
        m_slowAddresses.remove(address);
    }
    if (!success)
        return;
    // The attempt was counted as a failure when it began; a success takes that back. The
    // account's owner proved who they are, so its count starts again; the address's count of
    // failures at other accounts stays.
    m_accounts.remove(account);
    const auto it = m_addresses.find(address);
    if (it != m_addresses.end() && --it->failures <= 0)
        m_addresses.erase(it);
}
