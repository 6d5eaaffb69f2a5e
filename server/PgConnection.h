#pragma once

#include "StoreResult.h"

#include "support/Database.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

struct pg_conn;
struct pg_result;

// The rows of one PostgreSQL statement (text results; bytea columns decoded by bytes()).
class PgResult final
{
public:
    PgResult() = default;
    explicit PgResult(pg_result *result);

    bool ok() const { return m_ok; }
    int rows() const;
    bool isNull(int row, int column) const;
    QString text(int row, int column) const;
    std::optional<QString> optionalText(int row, int column) const;
    qint64 int64(int row, int column) const;
    QByteArray bytes(int row, int column) const;
    // A field of the error (PG_DIAG_*), empty when there is none.
    QByteArray errorField(int field) const;

private:
    struct Free {
        void operator()(pg_result *result) const;
    };
    std::unique_ptr<pg_result, Free> m_result;
    bool m_ok = false;
};

// One libpq connection. Statements take SqlValue parameters ($1, $2, ...): numbers and texts
// are sent as text, QByteArray values as binary (bytea). The SQLSTATE of the last failure tells
// a conflict worth retrying and a full disk from other failures.
class PgConnection final
{
public:
    explicit PgConnection(const QByteArray &url);
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    bool isOpen() const;
    // Connects again after the server closed the connection; false while it cannot.
    bool reconnect();

    PgResult query(const char *sql, std::initializer_list<SqlValue> params = {});
    bool exec(const char *sql, std::initializer_list<SqlValue> params = {})
    {
        return query(sql, params).ok();
    }
    // Several statements without parameters (a schema step).
    bool execScript(const char *sql);

    // The last statement failed on a serialisation failure, a deadlock or a lost connection:
    // the whole transaction may be tried again.
    bool lastRetryable() const;
    // The last statement failed on a serialisation failure or a deadlock.
    bool lastConflict() const;
    // The status of the last failure (NoSpace for a full disk), logged without any values.
    StoreStatus failure() const;
    const QByteArray &lastState() const { return m_state; }

private:
    pg_conn *m_conn = nullptr;
    QByteArray m_url;
    QByteArray m_state;
    QByteArray m_message;
};

// A few connections shared by the request threads; each operation takes one for its own
// transaction. Connections are opened when first needed.
class PgPool final
{
public:
    PgPool(const QByteArray &url, int size);
    ~PgPool();
    PgPool(const PgPool &) = delete;
    PgPool &operator=(const PgPool &) = delete;

    // A connection could be opened (checked once, at the start).
    bool isOpen() const { return m_ok; }

    // Runs `body` in one transaction, tried again a few times on serialisation failures,
    // deadlocks and lost connections. A body result that is not Ok rolls the transaction back.
    template<typename T, typename Body> StoreResult<T> transaction(Body &&body, const char *begin = "begin")
    {
        Lease lease(*this);
        StoreResult<T> result = StoreStatus::Failed;
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            PgConnection &c = lease.connection();
            if (!c.isOpen() && !c.reconnect())
                return c.failure();
            if (!c.exec(begin)) {
                if (c.lastRetryable())
                    continue;
                return c.failure();
            }
            result = body(c);
            if (result.ok() && c.exec("commit"))
                return result;
            // A commit cut off with its connection may have happened: only a conflict the
            // server reported is tried again then.
            const bool retry = result.ok() ? c.lastConflict() : c.lastRetryable();
            const StoreStatus failed = result.ok() ? c.failure() : result.status();
            c.exec("rollback");
            if (!retry)
                return result.ok() ? StoreResult<T>(failed) : result;
            pause(attempt);
        }
        return result.ok() ? StoreResult<T>(StoreStatus::Failed) : result;
    }

private:
    static constexpr int kAttempts = 5;

    class Lease final
    {
    public:
        explicit Lease(PgPool &pool);
        ~Lease();
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        PgConnection &connection() { return *m_connection; }

    private:
        PgPool &m_pool;
        std::unique_ptr<PgConnection> m_connection;
    };

    // A short, growing, random wait before trying a conflicting transaction again.
    static void pause(int attempt);

    QByteArray m_url;
    bool m_ok = false;
    int m_free = 0;
    std::mutex m_mutex;
    std::condition_variable m_released;
    std::vector<std::unique_ptr<PgConnection>> m_idle;
};

// A connection URL fit for a log: without its password.
QString redactedStorageUrl(const QString &url);
