#pragma once

#include "PgConnection.h"
#include "Storage.h"

// The storage of a service that runs as several processes: one PostgreSQL database. Each
// operation is one transaction on a pooled connection. A user's changes are serialised by the
// lock on that user's row, taken first by every change: the change sequence is numbered in
// commit order, so a pull never sees a number while a smaller one is still to come. Pulls read
// one snapshot (repeatable read).
class PostgresStorage final : public SyncStorage
{
public:
    // `url`: "postgresql://USER@HOST:PORT/DB"; the schema is made or brought up to date.
    explicit PostgresStorage(const QString &url);

    bool isOpen() const override { return m_ok; }
    PgPool &pool() { return m_pool; }

    StoreResult<qint64> createUser(const QString &email, const QString &passwordHash) override;
    StoreResult<StoreDone> removeUser(qint64 userId) override;
    StoreResult<StoredUser> findUser(const QString &email) override;
    StoreResult<QList<std::pair<qint64, QString>>> expiredSignIns(qint64 now) override;
    StoreResult<StoreDone> addToken(const QString &digest, qint64 userId, const QString &device,
                                    qint64 expires) override;
    StoreResult<SignIn> userForToken(const QString &digest, qint64 now, qint64 renewUntil) override;
    int removeExpiredTokens(qint64 now) override;
    StoreResult<QString> removeToken(const QString &digest) override;
    StoreResult<StoreDone> setPasswordHash(const QString &email, const QString &passwordHash) override;

    StoreResult<StoredRecord> createOrMerge(qint64 userId, const QString &device,
                                            const IncomingRecord &record, const AccountQuota &quota) override;
    StoreResult<StoredRecord> update(qint64 userId, const QString &device,
                                     const IncomingRecord &record) override;
    StoreResult<StoredRecord> find(qint64 userId, qint64 historyId) override;
    StoreResult<StoredRecord> findByHash(qint64 userId, const QString &fileHash) override;
    StoreResult<StoredRecord> remove(qint64 userId, const QString &device, qint64 historyId) override;
    StoreResult<ClearResult> clear(qint64 userId, const QString &device, qint64 now) override;
    StoreResult<PullResult> pull(qint64 userId, const QString &device, qint64 cursor, int limit,
                                 qint64 maxBytes, qint64 ownThrough) override;
    StoreResult<AccountUsage> usage(qint64 userId) override;

    StoreResult<StoredRecord> setFavourite(qint64 userId, const QString &device, const QString &fileHash,
                                           qint64 favourite) override;
    StoreResult<FavouriteReconciliation> reconcile(qint64 userId, const QString &device,
                                                   const QList<std::pair<qint64, qint64>> &held) override;

    StoreResult<StoreDone> addGrant(const QString &nonce, qint64 userId, qint64 historyId,
                                    qint64 expires) override;
    StoreResult<StoreDone> consumeGrant(const QString &nonce, qint64 userId, qint64 historyId,
                                        qint64 now) override;
    StoreResult<StoredRecord> markFileReady(qint64 userId, const QString &device, qint64 historyId,
                                            const QString &fileHash, qint64 fileId, qint64 size) override;

private:
    // One connection per request thread at most.
    static constexpr int kConnections = 16;

    bool upgradeSchema();

    PgPool m_pool;
    bool m_ok = false;
};
