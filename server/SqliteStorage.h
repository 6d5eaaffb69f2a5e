#pragma once

#include "Storage.h"

#include "support/Database.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

// The embedded storage: one SQLite file in write-ahead-log mode. One connection serves every
// request thread in turn for writes and small reads; each operation is one transaction and
// holds the connection only for its own statements. Pulls, the long reads, run on a few
// connections of their own, so a large page holds up neither writes nor other users (a pull
// page is bounded in records and bytes as well).
class SqliteStorage final : public SyncStorage
{
public:
    explicit SqliteStorage(const QString &path);

    bool isOpen() const override { return m_ok; }

    StoreResult<qint64> createUser(const QString &email, const QString &passwordHash) override;
    StoreResult<StoreDone> removeUser(qint64 userId) override;
    StoreResult<StoredUser> findUser(const QString &email) override;
    StoreResult<StoreDone> addToken(const QString &digest, qint64 userId, const QString &device,
                                    qint64 expires) override;
    StoreResult<SignIn> userForToken(const QString &digest, qint64 now, qint64 renewUntil) override;
    StoreResult<QList<std::pair<qint64, QString>>> expiredSignIns(qint64 now) override;
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
    static constexpr int kReaders = 4;

    // One of the pull connections, taken for the lease's lifetime.
    class ReaderLease final
    {
    public:
        explicit ReaderLease(SqliteStorage &storage);
        ~ReaderLease();
        ReaderLease(const ReaderLease &) = delete;
        ReaderLease &operator=(const ReaderLease &) = delete;
        Database &db() const { return *m_db; }

    private:
        SqliteStorage &m_storage;
        std::unique_ptr<Database> m_db;
    };

    bool createSchema();
    // The status of the statement that just failed: NoSpace on a full disk, else Failed.
    StoreStatus failure() const;
    static StoreStatus failure(const Database &db);
    std::optional<qint64> nextSeq(qint64 userId);
    StoreResult<StoredRecord> selectById(qint64 userId, qint64 historyId);
    StoreResult<StoredRecord> selectByHash(qint64 userId, const QString &fileHash);
    StoreResult<StoredRecord> firstRecord(SqlQuery row) const;
    bool writeFavourite(qint64 userId, const QString &device, qint64 historyId, qint64 favourite);
    std::optional<AccountUsage> selectUsage(qint64 userId);

    std::mutex m_mutex;
    Database m_db;
    bool m_ok = false;
    std::mutex m_readersMutex;
    std::condition_variable m_readerFree;
    std::vector<std::unique_ptr<Database>> m_readers;
};
