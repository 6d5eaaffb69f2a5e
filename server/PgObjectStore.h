#pragma once

#include "ObjectStore.h"

class PgPool;

// Payload objects in the service's PostgreSQL database (table "objects"), for processes that
// share no folder. A put is one statement: the object is whole or absent.
class PgObjectStore final : public ObjectStore
{
public:
    explicit PgObjectStore(PgPool &pool)
        : m_pool(pool)
    { }

    StoreStatus put(const QString &key, const QByteArray &bytes) override;
    std::optional<QByteArray> get(const QString &key) override;
    bool remove(const QString &key) override;

private:
    PgPool &m_pool;
};
