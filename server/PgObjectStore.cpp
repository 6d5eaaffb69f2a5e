#include "PgObjectStore.h"

#include "PgConnection.h"

StoreStatus PgObjectStore::put(const QString &key, const QByteArray &bytes)
{
    return m_pool
        .transaction<StoreDone>([&](PgConnection &c) -> StoreResult<StoreDone> {
            if (!c.exec("insert into objects (key, bytes) values ($1, $2) "
                        "on conflict (key) do update set bytes = excluded.bytes",
                        {key, bytes}))
                return c.failure();
            return StoreDone{};
        })
        .status();
}

std::optional<QByteArray> PgObjectStore::get(const QString &key)
{
    // Filled only by the attempt that succeeds (an optional inside the result trips GCC's
    // uninitialised-use warning).
    std::optional<QByteArray> found;
    m_pool.transaction<StoreDone>([&](PgConnection &c) -> StoreResult<StoreDone> {
        const PgResult row = c.query("select bytes from objects where key = $1", {key});
        if (!row.ok())
            return c.failure();
        if (row.rows() == 0)
            return StoreStatus::Missing;
        found = row.bytes(0, 0);
        return StoreDone{};
    });
    return found;
}

bool PgObjectStore::remove(const QString &key)
{
    return m_pool
        .transaction<StoreDone>([&](PgConnection &c) -> StoreResult<StoreDone> {
            if (!c.exec("delete from objects where key = $1", {key}))
                return c.failure();
            return StoreDone{};
        })
        .ok();
}
