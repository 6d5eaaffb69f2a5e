#pragma once

#include "LoginThrottle.h"
#include "RateLimiter.h"

#include <memory>

// Where the service keeps the limits that every one of its processes must agree on: the
// sign-in throttle and the rate limits. One process (SQLite) keeps them in memory; several
// processes on one PostgreSQL database keep them there (PgSharedLimits).
class SharedLimits
{
public:
    virtual ~SharedLimits() = default;
    virtual std::unique_ptr<LoginThrottle> loginThrottle(const LoginThrottle::Limits &limits) = 0;
    // `name` tells the limits apart where they share one table.
    virtual std::unique_ptr<RateLimiter> rateLimiter(const char *name, int limit, qint64 windowSeconds) = 0;
};

class LocalLimits final : public SharedLimits
{
public:
    std::unique_ptr<LoginThrottle> loginThrottle(const LoginThrottle::Limits &limits) override
    {
        return std::make_unique<LocalLoginThrottle>(limits);
    }
    std::unique_ptr<RateLimiter> rateLimiter(const char *, int limit, qint64 windowSeconds) override
    {
        return std::make_unique<LocalRateLimiter>(limit, windowSeconds);
    }
};
