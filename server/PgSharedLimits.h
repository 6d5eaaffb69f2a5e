#pragma once

#include "SharedLimits.h"

class PgPool;

// The sign-in throttle and the rate limits in PostgreSQL, so that N service processes behind a
// load balancer count one address's or one account's attempts together.
class PgSharedLimits final : public SharedLimits
{
public:
    explicit PgSharedLimits(PgPool &pool)
        : m_pool(pool)
    { }

    std::unique_ptr<LoginThrottle> loginThrottle(const LoginThrottle::Limits &limits) override;
    std::unique_ptr<RateLimiter> rateLimiter(const char *name, int limit, qint64 windowSeconds) override;

private:
    PgPool &m_pool;
};
