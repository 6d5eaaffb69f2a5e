#pragma once

#include "StoreResult.h"

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

// A valid sign-in: its user, and where that user's change sequence stood when it was made.
struct SignIn {
    qint64 userId = 0;
    qint64 sinceSeq = 0;
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
    QList<StoredRecord> taken; // records whose favourite took the device's later decision
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

// What an account may keep; 0 means no limit.
struct AccountQuota {
    qint64 maxRecords = 0;
    qint64 maxBytes = 0;
};

// What an account keeps: its records and the bytes of their contents and payloads.
struct AccountUsage {
    qint64 records = 0;
    qint64 bytes = 0;
};

// The service's storage. Every operation is scoped to one user: no operation reads or changes
// anything of another user, whatever ids or hashes it is given. `device` is the token of the
// device that causes a change; a pull leaves out what that device changed itself.
// Implementations are safe to call from many threads at once. Every result tells a missing
// record from a failure of the storage itself (StoreResult).
class SyncStorage
{
public:
    virtual ~SyncStorage() = default;

    virtual bool isOpen() const = 0;

    // Accounts and sign-in tokens (stored as digests). createUser answers Taken for an address
    // in use; removeUser undoes a registration that could not be completed.
    virtual StoreResult<qint64> createUser(const QString &email, const QString &passwordHash) = 0;
    virtual StoreResult<StoreDone> removeUser(qint64 userId) = 0;
    virtual StoreResult<StoredUser> findUser(const QString &email) = 0;
    // A device has one sign-in at a time: its earlier token of that user ends.
    virtual StoreResult<StoreDone> addToken(const QString &digest, qint64 userId, const QString &device,
                                            qint64 expires) = 0;
    // The sign-in of a token that has not expired at `now`; a token in use has its expiry moved
    // forward to `renewUntil` (at most once a day), so only idle sign-ins expire.
    virtual StoreResult<SignIn> userForToken(const QString &digest, qint64 now, qint64 renewUntil) = 0;
    // The user and device of each sign-in that expired before `now`.
    virtual StoreResult<QList<std::pair<qint64, QString>>> expiredSignIns(qint64 now) = 0;
    // Deletes the tokens that expired before `now`; how many.
    virtual int removeExpiredTokens(qint64 now) = 0;
    // Ends one sign-in: deletes the token and answers the device it was made for; Missing when
    // no such token exists.
    virtual StoreResult<QString> removeToken(const QString &digest) = 0;
    // Replaces a user's password hash and ends every sign-in of that user.
    virtual StoreResult<StoreDone> setPasswordHash(const QString &email, const QString &passwordHash) = 0;

    // Records. A new record beyond the quota's record count is Refused.
    virtual StoreResult<StoredRecord> createOrMerge(qint64 userId, const QString &device,
                                                    const IncomingRecord &record,
                                                    const AccountQuota &quota) = 0;
    // Updates the record with record.historyId; Missing when the user has no such record.
    virtual StoreResult<StoredRecord> update(qint64 userId, const QString &device,
                                             const IncomingRecord &record) = 0;
    virtual StoreResult<StoredRecord> find(qint64 userId, qint64 historyId) = 0;
    virtual StoreResult<StoredRecord> findByHash(qint64 userId, const QString &fileHash) = 0;
    // Removes the record; answers it, or Missing when the user has no such record.
    virtual StoreResult<StoredRecord> remove(qint64 userId, const QString &device, qint64 historyId) = 0;
    // Removes every record that is not a favourite.
    virtual StoreResult<ClearResult> clear(qint64 userId, const QString &device, qint64 now) = 0;
    // At most `limit` records and, past the first record, about `maxBytes` of record fields.
    // The device's own changes are left out, except those up to `ownThrough` (the sequence when
    // its sign-in was made: a device signed in anew may have lost them).
    virtual StoreResult<PullResult> pull(qint64 userId, const QString &device, qint64 cursor, int limit,
                                         qint64 maxBytes, qint64 ownThrough) = 0;
    virtual StoreResult<AccountUsage> usage(qint64 userId) = 0;

    // Favourites: a signed time; the value of larger magnitude is the later decision and wins,
    // an equal one leaves the stored value.
    virtual StoreResult<StoredRecord> setFavourite(qint64 userId, const QString &device,
                                                   const QString &fileHash, qint64 favourite) = 0;
    virtual StoreResult<FavouriteReconciliation> reconcile(qint64 userId, const QString &device,
                                                           const QList<std::pair<qint64, qint64>> &held) = 0;

    // Upload grants: each is issued for one record as it is (its history id) and can be used
    // once. consumeGrant answers Missing for a grant that is unknown, used or expired.
    virtual StoreResult<StoreDone> addGrant(const QString &nonce, qint64 userId, qint64 historyId,
                                            qint64 expires) = 0;
    virtual StoreResult<StoreDone> consumeGrant(const QString &nonce, qint64 userId, qint64 historyId,
                                                qint64 now) = 0;
    // Files: marks the payload of the record with that id, hash and file id stored; Missing when
    // the user no longer has that record.
    virtual StoreResult<StoredRecord> markFileReady(qint64 userId, const QString &device, qint64 historyId,
                                                    const QString &fileHash, qint64 fileId, qint64 size) = 0;
};
