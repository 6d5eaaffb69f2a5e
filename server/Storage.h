#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <utility>

// One clip record of one user as the service keeps it: one per (user, file hash).
struct StoredRecord {
    qint64 historyId = 0;
    qint64 fileId = 0;
    QString fileHash;
    QString content;
    qint64 timestamp = 0;
    QString deviceName;
    QString type;
    std::optional<QString> fileName;
    int fileReady = 0;
    qint64 fileSize = 0;
    qint64 favourite = 0;
};

// The fields of a record a device sends; absent fields leave the stored ones unchanged.
struct IncomingRecord {
    QString fileHash;
    std::optional<qint64> historyId;
    std::optional<QString> content;
    std::optional<qint64> timestamp;
    std::optional<QString> deviceName;
    std::optional<QString> type;
    std::optional<QString> fileName;
    std::optional<qint64> favourite;
};

struct StoredUser {
    qint64 id = 0;
    QString passwordHash;
};

// What a pull hands to a device: changes of the user's other devices after the cursor.
struct PullResult {
    QList<StoredRecord> records;
    QList<qint64> deletedHistoryIds;
    std::optional<qint64> clearTime;
    qint64 cursor = 0;
    // The page was full: records after the cursor remain for the next pull.
    bool truncated = false;
};

struct FavouriteReconciliation {
    QList<qint64> deleted; // history ids the device holds that are gone
    QList<std::pair<qint64, qint64>> withdrawn; // history id, negative favourite time
    QList<StoredRecord> records; // favourites the device lacks or holds older
};

// Where the payload of a user's clip lives in the object store.
inline QString objectKey(qint64 userId, const QString &fileHash)
{
    return QString::number(userId) + QLatin1Char('/') + fileHash;
}

struct ClearResult {
    int count = 0;
    QList<QString> objectKeys; // payload objects to remove
};

// The service's storage. Every operation is scoped to one user: no operation reads or changes
// anything of another user, whatever ids or hashes it is given. `device` is the token of the
// device that causes a change; a pull leaves out what that device changed itself.
// Implementations are safe to call from many threads at once.
class SyncStorage
{
public:
    virtual ~SyncStorage() = default;

    virtual bool isOpen() const = 0;

    // Accounts and sign-in tokens (stored as digests).
    virtual std::optional<qint64> createUser(const QString &email, const QString &passwordHash) = 0;
    virtual std::optional<StoredUser> findUser(const QString &email) = 0;
    virtual QList<qint64> userIds() = 0;
    virtual bool addToken(const QString &digest, qint64 userId, const QString &device, qint64 expires) = 0;
    // The user of a token that has not expired at `now`; a token in use has its expiry moved
    // forward to `renewUntil` (at most once a day), so only idle sign-ins expire.
    virtual std::optional<qint64> userForToken(const QString &digest, qint64 now, qint64 renewUntil) = 0;
    // Replaces a user's password hash and ends every sign-in of that user.
    virtual bool setPasswordHash(const QString &email, const QString &passwordHash) = 0;

    // Records.
    virtual std::optional<StoredRecord> createOrMerge(qint64 userId, const QString &device,
                                                      const IncomingRecord &record) = 0;
    // Updates the record with record.historyId; none when the user has no such record.
    virtual std::optional<StoredRecord> update(qint64 userId, const QString &device,
                                               const IncomingRecord &record) = 0;
    virtual std::optional<StoredRecord> find(qint64 userId, qint64 historyId) = 0;
    virtual std::optional<StoredRecord> findByHash(qint64 userId, const QString &fileHash) = 0;
    // Removes the record; answers it, or none when the user has no such record.
    virtual std::optional<StoredRecord> remove(qint64 userId, const QString &device, qint64 historyId) = 0;
    // Removes every record that is not a favourite.
    virtual ClearResult clear(qint64 userId, const QString &device, qint64 now) = 0;
    virtual PullResult pull(qint64 userId, const QString &device, qint64 cursor, int limit) = 0;

    // Favourites: a signed time; the value of larger magnitude is the later decision and wins,
    // an equal one leaves the stored value.
    virtual std::optional<StoredRecord> setFavourite(qint64 userId, const QString &device,
                                                     const QString &fileHash, qint64 favourite) = 0;
    virtual FavouriteReconciliation reconcile(qint64 userId, const QString &device,
                                              const QList<std::pair<qint64, qint64>> &held) = 0;

    // Files: marks the record's payload stored; none when the user has no record with that
    // hash and file id.
    virtual std::optional<StoredRecord> markFileReady(qint64 userId, const QString &device,
                                                      const QString &fileHash, qint64 fileId,
                                                      qint64 size) = 0;
};
