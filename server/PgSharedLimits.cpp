#include "PgSharedLimits.h"

#include "PgConnection.h"

#include <atomic>
#include <utility>

namespace {

// How long a slow attempt is held at most: past it, one of a process that died lapses.
constexpr qint64 kSlowHoldSeconds = 60;

class PgLoginThrottle final : public LoginThrottle
{
public:
    PgLoginThrottle(PgPool &pool, const Limits &limits)
        : m_pool(pool)
        , m_limits(sane(limits))
    { }

    Verdict begin(const QString &address, const QString &account, qint64 now) override
    {
        // The slow attempts of this process each hold one of its request threads: that bound is
        // this process's own. A slot taken by an attempt of the transaction that is tried again
        // or fails is given back.
        bool tookSlot = false;
        const auto giveBack = [&] {
            if (std::exchange(tookSlot, false))
                --m_slowAttempts;
        };
        const auto verdict = m_pool.transaction<Verdict>([&](PgConnection &c) -> StoreResult<Verdict> {
            giveBack();
            // Both rows locked, in the same order in every process.
            const PgResult rows =
                c.query("insert into login_failures (kind, key) values ('account', $2), ('address', $1) "
                        "on conflict (kind, key) do update set kind = excluded.kind "
                        "returning kind, failures, last, slow_until",
                        {address, account});
            if (rows.rows() != 2)
                return c.failure();
            qint64 wait = 0;
            bool slowInFlight = false;
            for (int i = 0; i < 2; ++i) {
                const bool isAddress = rows.text(i, 0) == QLatin1String("address");
                wait = qMax(wait,
                            waitFor(int(rows.int64(i, 1)), rows.int64(i, 2),
                                    isAddress ? m_limits.addressFreeFailures : m_limits.accountFreeFailures,
                                    now));
                slowInFlight = slowInFlight || rows.int64(i, 3) > now;
            }
            Verdict verdict{Decision::Admit, 0};
            qint64 slowUntil = 0;
            if (wait > 0) {
                if (slowInFlight || !takeSlowSlot())
                    return Verdict{Decision::Refuse, qMin<qint64>(wait, m_limits.slowSeconds)};
                tookSlot = true;
                verdict = {Decision::Slow, m_limits.slowSeconds};
                slowUntil = now + m_limits.slowSeconds + kSlowHoldSeconds;
            }
            // Counted as a failure now; a success takes it back.
            if (!c.exec("update login_failures set last = $3, "
                        "failures = case when $3 - last > $4 then 1 else failures + 1 end, "
                        "slow_until = greatest(slow_until, $5) "
                        "where (kind = 'address' and key = $1) or (kind = 'account' and key = $2)",
                        {address, account, now, kForgetAfterSeconds, slowUntil}))
                return c.failure();
            return verdict;
        });
        if (!verdict)
            giveBack();
        // Without the shared counts nobody is let in: a storage failure would fail the sign-in
        // anyway.
        return verdict ? *verdict : Verdict{Decision::Refuse, 1};
    }

    void finish(const QString &address, const QString &account, const Verdict &verdict, bool success) override
    {
        const bool slow = verdict.decision == Decision::Slow;
        if (slow)
            --m_slowAttempts;
        if (!slow && !success)
            return;
        m_pool.transaction<StoreDone>([&](PgConnection &c) -> StoreResult<StoreDone> {
            if (slow
                && !c.exec("update login_failures set slow_until = 0 "
                           "where (kind = 'address' and key = $1) or (kind = 'account' and key = $2)",
                           {address, account}))
                return c.failure();
            // The owner proved who they are: the account starts again; the address keeps its
            // failures at other accounts.
            if (success
                && (!c.exec("delete from login_failures where kind = 'account' and key = $1", {account})
                    || !c.exec("update login_failures set failures = failures - 1 "
                               "where kind = 'address' and key = $1",
                               {address})
                    || !c.exec("delete from login_failures where kind = 'address' and key = $1 "
                               "and failures <= 0 and slow_until = 0",
                               {address})))
                return c.failure();
            return StoreDone{};
        });
    }

private:
    bool takeSlowSlot()
    {
        if (++m_slowAttempts <= m_limits.maxSlowAttempts)
            return true;
        --m_slowAttempts;
        return false;
    }

    PgPool &m_pool;
    Limits m_limits;
    std::atomic<int> m_slowAttempts{0};
};

class PgRateLimiter final : public RateLimiter
{
public:
    PgRateLimiter(PgPool &pool, const char *name, int limit, qint64 windowSeconds)
        : m_pool(pool)
        , m_name(QString::fromLatin1(name))
        , m_limit(qMax(0, limit))
        , m_window(qMax<qint64>(1, windowSeconds))
    { }

    bool allow(const QString &key, qint64 now) override
    {
        if (m_limit == 0)
            return false;
        // One statement: a new window, or one more event in the current one while it has room.
        const auto allowed = m_pool.transaction<bool>([&](PgConnection &c) -> StoreResult<bool> {
            const PgResult row =
                c.query("insert into rate_windows as w (name, key, start, count) values ($1, $2, $3, 1) "
                        "on conflict (name, key) do update set "
                        "start = case when $3 - w.start >= $4 then $3 else w.start end, "
                        "count = case when $3 - w.start >= $4 then 1 else w.count + 1 end "
                        "where $3 - w.start >= $4 or w.count < $5 returning 1",
                        {m_name, key, now, m_window, qint64(m_limit)});
            if (!row.ok())
                return c.failure();
            return row.rows() == 1;
        });
        return allowed && *allowed;
    }

    qint64 retryAfter(const QString &key, qint64 now) override
    {
        const auto start = m_pool.transaction<qint64>([&](PgConnection &c) -> StoreResult<qint64> {
            const PgResult row =
                c.query("select start from rate_windows where name = $1 and key = $2", {m_name, key});
            if (!row.ok())
                return c.failure();
            if (row.rows() == 0)
                return StoreStatus::Missing;
            return row.int64(0, 0);
        });
        return start ? qMax<qint64>(1, *start + m_window - now) : 1;
    }

private:
    PgPool &m_pool;
    QString m_name;
    int m_limit;
    qint64 m_window;
};

} // namespace

std::unique_ptr<LoginThrottle> PgSharedLimits::loginThrottle(const LoginThrottle::Limits &limits)
{
    return std::make_unique<PgLoginThrottle>(m_pool, limits);
}

std::unique_ptr<RateLimiter> PgSharedLimits::rateLimiter(const char *name, int limit, qint64 windowSeconds)
{
    return std::make_unique<PgRateLimiter>(m_pool, name, limit, windowSeconds);
}
