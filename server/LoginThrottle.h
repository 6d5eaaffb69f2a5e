#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <mutex>

// Slows down password guessing, counting failed sign-ins per source address and per account.
// Past a number of free failures, each further attempt from that address or at that account
// must wait twice as long as the one before (1 s, 2 s, 4 s ... at most 5 min) after the last
// failure. An attempt is counted as a failure when it is admitted, in the same step as the
// check, so parallel guesses cannot all pass before the first is answered; a success takes
// back only its own count and clears only its own account.
//
// A limit never locks out someone who knows the password: while one is in force, one attempt
// at a time per account (and per address) is let through slowly, after `slowSeconds`. That
// bounds guessing to one attempt per account every few seconds while the owner still gets in.
//
// LoginThrottle is the policy's interface; LocalLoginThrottle keeps the counts in this process
// (one service process), PgLoginThrottle in the database that several processes share.
class LoginThrottle
{
public:
    struct Limits {
        int addressFreeFailures = 5;
        int accountFreeFailures = 10;
        int slowSeconds = 3;
        // Slow attempts in flight over all accounts, each holding a request thread.
        int maxSlowAttempts = 4;
    };

    enum class Decision { Admit, Slow, Refuse };
    struct Verdict {
        Decision decision = Decision::Refuse;
        // Refuse: seconds until an attempt may pass without waiting; Slow: seconds to wait first.
        qint64 seconds = 0;
    };

    virtual ~LoginThrottle() = default;

    // Decides an attempt and, unless it is refused, counts it as a failure.
    virtual Verdict begin(const QString &address, const QString &account, qint64 now) = 0;
    // Ends an attempt that begin() did not refuse.
    virtual void finish(const QString &address, const QString &account, const Verdict &verdict,
                        bool success) = 0;

    // Failures older than this are forgotten.
    static constexpr qint64 kForgetAfterSeconds = 3600;
    // Limits with every number at least 1.
    static Limits sane(Limits limits);
    // Seconds an attempt must still wait after `failures` failures, the last at `last`.
    static qint64 waitFor(int failures, qint64 last, int freeFailures, qint64 now);
};

class LocalLoginThrottle final : public LoginThrottle
{
public:
    explicit LocalLoginThrottle(const Limits &limits);

    Verdict begin(const QString &address, const QString &account, qint64 now) override;
    void finish(const QString &address, const QString &account, const Verdict &verdict,
                bool success) override;

private:
    struct Entry {
        int failures = 0;
        qint64 last = 0;
    };
    qint64 waitOf(const QHash<QString, Entry> &table, const QString &key, int freeFailures, qint64 now) const;
    static void countFailure(QHash<QString, Entry> &table, const QString &key, qint64 now);

    std::mutex m_mutex;
    Limits m_limits;
    QHash<QString, Entry> m_addresses;
    QHash<QString, Entry> m_accounts;
    QSet<QString> m_slowAddresses;
    QSet<QString> m_slowAccounts;
};
