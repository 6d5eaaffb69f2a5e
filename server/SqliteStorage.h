#pragma once

#include "Storage.h"

#include "support/Database.h"

#include <mutex>

// The embedded storage: one SQLite file in write-ahead-log mode. One connection serves every
// request thread in turn; each operation is one transaction.
class SqliteStorage final : public SyncStorage
{
public:
    explicit SqliteStorage(const QString &path);

    bool isOpen() const override { return m_ok; }

    std::optional<qint64> createUser(const QString &email, const QString &passwordHash) override;
    std::optional<StoredUser> findUser(const QString &email) override;
    QList<qint64> userIds() override;
    bool addToken(const QString &digest, qint64 userId, const QString &device, qint64 expires) override;
    std::optional<qint64> userForToken(const QString &digest, qint64 now, qint64 renewUntil) override;
    bool setPasswordHash(const QString &email, const QString &passwordHash) override;

    std::optional<StoredRecord> createOrMerge(qint64 userId, const QString &device,
                                              const IncomingRecord &record) override;
    std::optional<StoredRecord> update(qint64 userId, const QString &device,
                                       const IncomingRecord &record) override;
    std::optional<StoredRecord> find(qint64 userId, qint64 historyId) override;
    std::optional<StoredRecord> findByHash(qint64 userId, const QString &fileHash) override;
    std::optional<StoredRecord> remove(qint64 userId, const QString &device, qint64 historyId) override;
    ClearResult clear(qint64 userId, const QString &device, qint64 now) override;
    PullResult pull(qint64 userId, const QString &device, qint64 cursor, int limit) override;

    std::optional<StoredRecord> setFavourite(qint64 userId, const QString &device, const QString &fileHash,
                                             qint64 favourite) override;
    FavouriteReconciliation reconcile(qint64 userId, const QString &device,
                                      const QList<std::pair<qint64, qint64>> &held) override;

    std::optional<StoredRecord> markFileReady(qint64 userId, const QString &device, const QString &fileHash,
                                              qint64 fileId, qint64 size) override;

private:
    bool createSchema();
    qint64 nextSeq(qint64 userId);
    std::optional<StoredRecord> selectById(qint64 userId, qint64 historyId);
    std::optional<StoredRecord> selectByHash(qint64 userId, const QString &fileHash);
    void writeFavourite(qint64 userId, const QString &device, qint64 historyId, qint64 favourite);

    std::mutex m_mutex;
    Database m_db;
    bool m_ok = false;
};
