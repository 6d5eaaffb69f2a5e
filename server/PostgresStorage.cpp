#include "PostgresStorage.h"

#include "FavouriteReconcile.h"

#include "PgSchema.h"
#include "ServerLog.h"

#include <QSet>
#include <QtGlobal>

namespace {

constexpr const char *kRecordColumns =
    "history_id, file_id, file_hash, content, timestamp, device_name, type, file_name, file_ready, "
    "file_size, favourite";

// Room a record takes in a pull reply besides its texts: keys, numbers, quotes.
constexpr qint64 kRecordOverheadBytes = 256;

std::string selectSql(const char *where)
{
    return std::string("select ") + kRecordColumns + " from records where " + where;
}

// The record whose columns start at `first` in `row`.
StoredRecord readRecord(const PgResult &rows, int row, int first = 0)
{
    StoredRecord r;
    r.historyId = rows.int64(row, first);
    r.fileId = rows.int64(row, first + 1);
    r.fileHash = rows.text(row, first + 2);
    r.content = rows.text(row, first + 3);
    r.timestamp = rows.int64(row, first + 4);
    r.deviceName = rows.text(row, first + 5);
    r.type = rows.text(row, first + 6);
    r.fileName = rows.optionalText(row, first + 7);
    r.fileReady = int(rows.int64(row, first + 8));
    r.fileSize = rows.int64(row, first + 9);
    r.favourite = rows.int64(row, first + 10);
    return r;
}

// The first record of a statement's rows; Missing without one.
StoreResult<StoredRecord> firstRecord(PgConnection &c, const PgResult &rows)
{
    if (!rows.ok())
        return c.failure();
    if (rows.rows() == 0)
        return StoreStatus::Missing;
    return readRecord(rows, 0);
}

StoreResult<StoredRecord> selectById(PgConnection &c, qint64 userId, qint64 historyId)
{
    static const std::string sql = selectSql("user_id = $1 and history_id = $2");
    return firstRecord(c, c.query(sql.c_str(), {userId, historyId}));
}

StoreResult<StoredRecord> selectByHash(PgConnection &c, qint64 userId, const QString &fileHash)
{
    static const std::string sql = selectSql("user_id = $1 and file_hash = $2");
    return firstRecord(c, c.query(sql.c_str(), {userId, fileHash}));
}

// Takes the user's row lock for the rest of the transaction: one change of a user at a time,
// over every process. Missing when there is no such user.
StoreResult<StoreDone> lockUser(PgConnection &c, qint64 userId)
{
    const PgResult row = c.query("select 1 from users where id = $1 for update", {userId});
    if (!row.ok())
        return c.failure();
    if (row.rows() == 0)
        return StoreStatus::Missing;
    return StoreDone{};
}

// The next number of the user's change sequence (the user's row is locked already).
std::optional<qint64> nextSeq(PgConnection &c, qint64 userId)
{
    const PgResult row = c.query("update users set seq = seq + 1 where id = $1 returning seq", {userId});
    if (row.rows() != 1)
        return std::nullopt;
    return row.int64(0, 0);
}

std::optional<AccountUsage> selectUsage(PgConnection &c, qint64 userId)
{
    const PgResult row = c.query("select count(*), coalesce(sum(file_size + octet_length(content)), 0) "
                                 "from records where user_id = $1",
                                 {userId});
    if (row.rows() != 1)
        return std::nullopt;
    return AccountUsage{row.int64(0, 0), row.int64(0, 1)};
}

bool writeFavourite(PgConnection &c, qint64 userId, const QString &device, qint64 historyId, qint64 favourite)
{
    const auto seq = nextSeq(c, userId);
    return seq
           && c.exec("update records set favourite = $1, seq = $2, changed_by = $3 "
                     "where history_id = $4 and user_id = $5",
                     {favourite, *seq, device, historyId, userId});
}

} // namespace

PostgresStorage::PostgresStorage(const QString &url)
    : m_pool(url.toUtf8(), kConnections)
{
    m_ok = m_pool.isOpen() && upgradeSchema();
}

bool PostgresStorage::upgradeSchema()
{
    const auto done = m_pool.transaction<StoreDone>([](PgConnection &c) -> StoreResult<StoreDone> {
        if (!PgSchema::upgrade(c))
            return c.failure();
        return StoreDone{};
    });
    if (!done)
        qCWarning(lcServer) << "cannot create or upgrade the database schema";
    return done.ok();
}

StoreResult<qint64> PostgresStorage::createUser(const QString &email, const QString &passwordHash)
{
    return m_pool.transaction<qint64>([&](PgConnection &c) -> StoreResult<qint64> {
        const PgResult row = c.query("insert into users (email, password_hash, created) "
                                     "values ($1, $2, extract(epoch from now())::bigint) "
                                     "on conflict (email) do nothing returning id",
                                     {email, passwordHash});
        if (!row.ok())
            return c.failure();
        if (row.rows() == 0)
            return StoreStatus::Taken;
        return row.int64(0, 0);
    });
}

StoreResult<StoreDone> PostgresStorage::removeUser(qint64 userId)
{
    return m_pool.transaction<StoreDone>([&](PgConnection &c) -> StoreResult<StoreDone> {
        if (!c.exec("delete from tokens where user_id = $1", {userId})
            || !c.exec("delete from users where id = $1", {userId}))
            return c.failure();
        return StoreDone{};
    });
}

StoreResult<StoredUser> PostgresStorage::findUser(const QString &email)
{
    return m_pool.transaction<StoredUser>([&](PgConnection &c) -> StoreResult<StoredUser> {
        const PgResult row = c.query("select id, password_hash from users where email = $1", {email});
        if (!row.ok())
            return c.failure();
        if (row.rows() == 0)
            return StoreStatus::Missing;
        return StoredUser{row.int64(0, 0), row.text(0, 1)};
    });
}

StoreResult<QList<std::pair<qint64, QString>>> PostgresStorage::expiredSignIns(qint64 now)
{
    using SignIns = QList<std::pair<qint64, QString>>;
    return m_pool.transaction<SignIns>([&](PgConnection &c) -> StoreResult<SignIns> {
        const PgResult rows = c.query("select user_id, device_token from tokens where expires <= $1", {now});
        if (!rows.ok())
            return c.failure();
        SignIns signIns;
        for (int i = 0; i < rows.rows(); ++i)
            signIns.append({rows.int64(i, 0), rows.text(i, 1)});
        return signIns;
    });
}

StoreResult<StoreDone> PostgresStorage::addToken(const QString &digest, qint64 userId, const QString &device,
                                                 qint64 expires)
{
    return m_pool.transaction<StoreDone>([&](PgConnection &c) -> StoreResult<StoreDone> {
        if (!c.exec("delete from tokens where user_id = $1 and device_token = $2", {userId, device})
            || !c.exec("insert into tokens (digest, user_id, device_token, expires, since_seq) "
                       "values ($1, $2, $3, $4, (select seq from users where id = $2))",
                       {digest, userId, device, expires}))
            return c.failure();
        return StoreDone{};
    });
}

StoreResult<SignIn> PostgresStorage::userForToken(const QString &digest, qint64 now, qint64 renewUntil)
{
    constexpr qint64 kRenewStep = 24 * 3600;
    return m_pool.transaction<SignIn>([&](PgConnection &c) -> StoreResult<SignIn> {
        const PgResult row =
            c.query("select user_id, expires, since_seq from tokens where digest = $1 and expires > $2",
                    {digest, now});
        if (!row.ok())
            return c.failure();
        if (row.rows() == 0)
            return StoreStatus::Missing;
        const SignIn signIn{row.int64(0, 0), row.int64(0, 2)};
        // A renewal that cannot be written leaves the old expiry: the token still works today.
        if (renewUntil - row.int64(0, 1) > kRenewStep)
            c.exec("update tokens set expires = $1 where digest = $2 and expires < $1", {renewUntil, digest});
        return signIn;
    });
}

int PostgresStorage::removeExpiredTokens(qint64 now)
{
    const auto removed = m_pool.transaction<int>([&](PgConnection &c) -> StoreResult<int> {
        const PgResult tokens = c.query("delete from tokens where expires <= $1 returning 1", {now});
        const PgResult grants = c.query("delete from upload_grants where expires <= $1 returning 1", {now});
        if (!tokens.ok() || !grants.ok() || !PgSchema::pruneSharedState(c, now))
            return c.failure();
        return tokens.rows() + grants.rows();
    });
    return removed ? *removed : 0;
}

StoreResult<QString> PostgresStorage::removeToken(const QString &digest)
{
    return m_pool.transaction<QString>([&](PgConnection &c) -> StoreResult<QString> {
        const PgResult row = c.query("delete from tokens where digest = $1 returning device_token", {digest});
        if (!row.ok())
            return c.failure();
        if (row.rows() == 0)
            return StoreStatus::Missing;
        return row.text(0, 0);
    });
}

StoreResult<StoreDone> PostgresStorage::setPasswordHash(const QString &email, const QString &passwordHash)
{
    return m_pool.transaction<StoreDone>([&](PgConnection &c) -> StoreResult<StoreDone> {
        const PgResult row = c.query("update users set password_hash = $1 where email = $2 returning id",
                                     {passwordHash, email});
        if (!row.ok())
            return c.failure();
        if (row.rows() == 0)
            return StoreStatus::Missing;
        if (!c.exec("delete from tokens where user_id = $1", {row.int64(0, 0)}))
            return c.failure();
        return StoreDone{};
    });
}

StoreResult<StoredRecord> PostgresStorage::createOrMerge(qint64 userId, const QString &device,
                                                         const IncomingRecord &in, const AccountQuota &quota)
{
    return m_pool.transaction<StoredRecord>([&](PgConnection &c) -> StoreResult<StoredRecord> {
        if (auto locked = lockUser(c, userId); !locked)
            return locked.status() == StoreStatus::Missing ? StoreStatus::Failed : locked.status();
        const auto existing = selectByHash(c, userId, in.fileHash);
        if (existing.failed())
            return existing.status();
        const auto seq = nextSeq(c, userId);
        if (!seq)
            return c.failure();
        if (existing) {
            // The same clip from another device (or again): one record, newest capture time,
            // the later favourite decision.
            const qint64 timestamp = qMax(existing->timestamp, in.timestamp.value_or(0));
            const qint64 favourite = qAbs(in.favourite.value_or(0)) > qAbs(existing->favourite)
                                         ? *in.favourite
                                         : existing->favourite;
            if (!c.exec("update records set content = coalesce($1, content), timestamp = $2, "
                        "device_name = coalesce($3, device_name), type = coalesce($4, type), "
                        "file_name = coalesce($5, file_name), favourite = $6, seq = $7, changed_by = $8 "
                        "where history_id = $9 and user_id = $10",
                        {sqlValue(in.content), timestamp, sqlValue(in.deviceName), sqlValue(in.type),
                         sqlValue(in.fileName), favourite, *seq, device, existing->historyId, userId}))
                return c.failure();
        } else {
            if (quota.maxRecords > 0 || quota.maxBytes > 0) {
                const auto used = selectUsage(c, userId);
                if (!used)
                    return c.failure();
                const qint64 adding = in.content.value_or(QString()).toUtf8().size();
                if ((quota.maxRecords > 0 && used->records >= quota.maxRecords)
                    || (quota.maxBytes > 0 && used->bytes + adding > quota.maxBytes))
                    return StoreStatus::Refused;
            }
            // A hash keeps its file id when its record is deleted and pushed again.
            const PgResult file =
                c.query("insert into files (user_id, file_hash) values ($1, $2) "
                        "on conflict (user_id, file_hash) do update set file_hash = excluded.file_hash "
                        "returning file_id",
                        {userId, in.fileHash});
            if (file.rows() != 1)
                return c.failure();
            if (!c.exec(
                    "insert into records (user_id, file_hash, file_id, content, timestamp, device_name, type, "
                    "file_name, favourite, seq, changed_by) values ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11)",
                    {userId, in.fileHash, file.int64(0, 0), in.content.value_or(QString()),
                     in.timestamp.value_or(0), in.deviceName.value_or(QString()),
                     in.type.value_or(QStringLiteral("text_txt")), sqlValue(in.fileName),
                     in.favourite.value_or(0), *seq, device}))
                return c.failure();
        }
        const auto stored = selectByHash(c, userId, in.fileHash);
        return stored ? stored : StoreResult<StoredRecord>(c.failure());
    });
}

StoreResult<StoredRecord> PostgresStorage::update(qint64 userId, const QString &device,
                                                  const IncomingRecord &in)
{
    return m_pool.transaction<StoredRecord>([&](PgConnection &c) -> StoreResult<StoredRecord> {
        if (auto locked = lockUser(c, userId); !locked)
            return locked.status() == StoreStatus::Missing ? StoreStatus::Failed : locked.status();
        const auto existing = selectById(c, userId, in.historyId.value_or(0));
        if (existing.failed())
            return existing.status();
        if (!existing || existing->fileHash != in.fileHash)
            return StoreStatus::Missing;
        const auto seq = nextSeq(c, userId);
        if (!seq)
            return c.failure();
        const qint64 timestamp = qMax(existing->timestamp, in.timestamp.value_or(0));
        const qint64 favourite =
            qAbs(in.favourite.value_or(0)) > qAbs(existing->favourite) ? *in.favourite : existing->favourite;
        if (!c.exec(
                "update records set timestamp = $1, device_name = coalesce($2, device_name), "
                "type = coalesce($3, type), file_name = coalesce($4, file_name), favourite = $5, seq = $6, "
                "changed_by = $7 where history_id = $8 and user_id = $9",
                {timestamp, sqlValue(in.deviceName), sqlValue(in.type), sqlValue(in.fileName), favourite,
                 *seq, device, existing->historyId, userId}))
            return c.failure();
        const auto stored = selectById(c, userId, existing->historyId);
        return stored ? stored : StoreResult<StoredRecord>(c.failure());
    });
}

StoreResult<StoredRecord> PostgresStorage::find(qint64 userId, qint64 historyId)
{
    return m_pool.transaction<StoredRecord>(
        [&](PgConnection &c) { return selectById(c, userId, historyId); });
}

StoreResult<StoredRecord> PostgresStorage::findByHash(qint64 userId, const QString &fileHash)
{
    return m_pool.transaction<StoredRecord>(
        [&](PgConnection &c) { return selectByHash(c, userId, fileHash); });
}

StoreResult<StoredRecord> PostgresStorage::remove(qint64 userId, const QString &device, qint64 historyId)
{
    return m_pool.transaction<StoredRecord>([&](PgConnection &c) -> StoreResult<StoredRecord> {
        if (auto locked = lockUser(c, userId); !locked)
            return locked.status() == StoreStatus::Missing ? StoreStatus::Failed : locked.status();
        const auto existing = selectById(c, userId, historyId);
        if (!existing)
            return existing;
        const auto seq = nextSeq(c, userId);
        if (!seq || !c.exec("delete from records where history_id = $1 and user_id = $2", {historyId, userId})
            || !c.exec("insert into deletions (user_id, history_id, seq, changed_by) values ($1, $2, $3, $4)",
                       {userId, historyId, *seq, device})
            || !c.exec("delete from upload_grants where user_id = $1 and history_id = $2",
                       {userId, historyId}))
            return c.failure();
        return existing;
    });
}

StoreResult<ClearResult> PostgresStorage::clear(qint64 userId, const QString &device, qint64 now)
{
    return m_pool.transaction<ClearResult>([&](PgConnection &c) -> StoreResult<ClearResult> {
        if (auto locked = lockUser(c, userId); !locked)
            return locked.status() == StoreStatus::Missing ? StoreStatus::Failed : locked.status();
        const auto seq = nextSeq(c, userId);
        const PgResult rows = c.query(
            "delete from records where user_id = $1 and favourite <= 0 returning file_hash, file_ready",
            {userId});
        if (!seq || !rows.ok()
            || !c.exec("insert into clears (user_id, seq, ts, changed_by) values ($1, $2, $3, $4)",
                       {userId, *seq, now, device}))
            return c.failure();
        ClearResult result;
        result.count = rows.rows();
        for (int i = 0; i < rows.rows(); ++i) {
            if (rows.int64(i, 1))
                result.objectKeys.append(objectKey(userId, rows.text(i, 0)));
        }
        return result;
    });
}

StoreResult<PullResult> PostgresStorage::pull(qint64 userId, const QString &device, qint64 cursor, int limit,
                                              qint64 maxBytes, qint64 ownThrough)
{
    // One snapshot for the records, deletions and clears.
    constexpr const char *kBegin = "begin isolation level repeatable read read only";
    return m_pool.transaction<PullResult>(
        [&](PgConnection &c) -> StoreResult<PullResult> {
            static const std::string recordsSql =
                "select seq, " + std::string(kRecordColumns)
                + " from records where user_id = $1 and seq > $2 and (changed_by <> $3 or seq <= $4) "
                  "order by seq limit $5";
            // A pull from 0 is a device that holds nothing: every record, its own included, and
            // no deletions or clears. The pages after it still bring its own earlier records.
            const bool full = cursor == 0;
            const PgResult rows = c.query(recordsSql.c_str(), {userId, cursor, full ? QString() : device,
                                                               ownThrough, qint64(limit) + 1});
            if (!rows.ok())
                return c.failure();
            PullResult result;
            qint64 lastSeq = 0;
            qint64 bytes = 0;
            for (int i = 0; i < rows.rows(); ++i) {
                // A page ends at its record count or, past its first record, at its size in bytes.
                if (result.records.size() == limit || (!result.records.isEmpty() && bytes >= maxBytes)) {
                    result.truncated = true;
                    break;
                }
                lastSeq = rows.int64(i, 0);
                StoredRecord r = readRecord(rows, i, 1);
                bytes += kRecordOverheadBytes + r.content.size() + r.deviceName.size()
                         + r.fileName.value_or(QString()).size();
                result.records.append(std::move(r));
            }
            if (result.truncated) {
                result.cursor = lastSeq;
            } else {
                const PgResult seq = c.query("select seq from users where id = $1", {userId});
                if (!seq.ok())
                    return c.failure();
                result.cursor = seq.rows() == 1 ? seq.int64(0, 0) : cursor;
            }
            if (full)
                return result;
            const PgResult deletions =
                c.query("select history_id from deletions where user_id = $1 and seq > $2 and seq <= $3 "
                        "and changed_by <> $4 order by seq",
                        {userId, cursor, result.cursor, device});
            const PgResult clears = c.query("select max(ts) from clears where user_id = $1 and seq > $2 "
                                            "and seq <= $3 and changed_by <> $4",
                                            {userId, cursor, result.cursor, device});
            if (!deletions.ok() || !clears.ok())
                return c.failure();
            for (int i = 0; i < deletions.rows(); ++i)
                result.deletedHistoryIds.append(deletions.int64(i, 0));
            if (clears.rows() == 1 && !clears.isNull(0, 0))
                result.clearTime = clears.int64(0, 0);
            return result;
        },
        kBegin);
}

StoreResult<AccountUsage> PostgresStorage::usage(qint64 userId)
{
    return m_pool.transaction<AccountUsage>([&](PgConnection &c) -> StoreResult<AccountUsage> {
        if (auto used = selectUsage(c, userId))
            return *used;
        return c.failure();
    });
}

StoreResult<StoredRecord> PostgresStorage::setFavourite(qint64 userId, const QString &device,
                                                        const QString &fileHash, qint64 favourite)
{
    return m_pool.transaction<StoredRecord>([&](PgConnection &c) -> StoreResult<StoredRecord> {
        if (auto locked = lockUser(c, userId); !locked)
            return locked.status() == StoreStatus::Missing ? StoreStatus::Failed : locked.status();
        auto existing = selectByHash(c, userId, fileHash);
        if (!existing)
            return existing;
        if (qAbs(favourite) > qAbs(existing->favourite)) {
            if (!writeFavourite(c, userId, device, existing->historyId, favourite))
                return c.failure();
            existing->favourite = favourite;
        }
        return existing;
    });
}

StoreResult<FavouriteReconciliation> PostgresStorage::reconcile(qint64 userId, const QString &device,
                                                                const QList<std::pair<qint64, qint64>> &held)
{
    return m_pool.transaction<FavouriteReconciliation>(
        [&](PgConnection &c) -> StoreResult<FavouriteReconciliation> {
            if (auto locked = lockUser(c, userId); !locked)
                return locked.status() == StoreStatus::Missing ? StoreStatus::Failed : locked.status();
            return reconcileFavourites(
                held, {[&](qint64 historyId) { return selectById(c, userId, historyId); },
                       [&](qint64 historyId, qint64 favourite) {
                           return writeFavourite(c, userId, device, historyId, favourite) ? StoreStatus::Ok
                                                                                          : c.failure();
                       },
                       [&]() -> StoreResult<QList<StoredRecord>> {
                           static const std::string sql =
                               selectSql("user_id = $1 and favourite > 0 order by timestamp");
                           const PgResult rows = c.query(sql.c_str(), {userId});
                           if (!rows.ok())
                               return c.failure();
                           QList<StoredRecord> records;
                           for (int i = 0; i < rows.rows(); ++i)
                               records.append(readRecord(rows, i));
                           return records;
                       }});
        });
}

StoreResult<StoreDone> PostgresStorage::addGrant(const QString &nonce, qint64 userId, qint64 historyId,
                                                 qint64 expires)
{
    return m_pool.transaction<StoreDone>([&](PgConnection &c) -> StoreResult<StoreDone> {
        if (!c.exec("insert into upload_grants (nonce, user_id, history_id, expires) values ($1, $2, $3, $4)",
                    {nonce, userId, historyId, expires}))
            return c.failure();
        return StoreDone{};
    });
}

StoreResult<StoreDone> PostgresStorage::consumeGrant(const QString &nonce, qint64 userId, qint64 historyId,
                                                     qint64 now)
{
    return m_pool.transaction<StoreDone>([&](PgConnection &c) -> StoreResult<StoreDone> {
        // Deleting it is the use: of two uploads with one grant, on any processes, one deletes it.
        const PgResult row = c.query("delete from upload_grants where nonce = $1 and user_id = $2 "
                                     "and history_id = $3 and expires > $4 returning 1",
                                     {nonce, userId, historyId, now});
        if (!row.ok())
            return c.failure();
        if (row.rows() != 1)
            return StoreStatus::Missing;
        return StoreDone{};
    });
}

StoreResult<StoredRecord> PostgresStorage::markFileReady(qint64 userId, const QString &device,
                                                         qint64 historyId, const QString &fileHash,
                                                         qint64 fileId, qint64 size)
{
    return m_pool.transaction<StoredRecord>([&](PgConnection &c) -> StoreResult<StoredRecord> {
        if (auto locked = lockUser(c, userId); !locked)
            return locked.status() == StoreStatus::Missing ? StoreStatus::Failed : locked.status();
        auto existing = selectById(c, userId, historyId);
        if (existing.failed())
            return existing.status();
        if (!existing || existing->fileHash != fileHash || existing->fileId != fileId)
            return StoreStatus::Missing;
        const auto seq = nextSeq(c, userId);
        if (!seq
            || !c.exec("update records set file_ready = 1, file_size = $1, seq = $2, changed_by = $3 "
                       "where history_id = $4 and user_id = $5",
                       {size, *seq, device, historyId, userId}))
            return c.failure();
        existing->fileReady = 1;
        existing->fileSize = size;
        return existing;
    });
}
