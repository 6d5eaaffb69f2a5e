#include "SqliteStorage.h"

#include "FavouriteReconcile.h"

#include "ServerLog.h"

#include <QSet>
#include <QtGlobal>

namespace {

constexpr const char *kRecordColumns =
    "history_id, file_id, file_hash, content, timestamp, device_name, type, file_name, file_ready, "
    "file_size, favourite";

StoredRecord readRecord(const SqlQuery &row)
{
    StoredRecord r;
    r.historyId = row.int64(0);
    r.fileId = row.int64(1);
    r.fileHash = row.text(2).value_or(QString());
    r.content = row.text(3).value_or(QString());
    r.timestamp = row.int64(4);
    r.deviceName = row.text(5).value_or(QString());
    r.type = row.text(6).value_or(QString());
    r.fileName = row.text(7);
    r.fileReady = row.int32(8);
    r.fileSize = row.int64(9);
    r.favourite = row.int64(10);
    return r;
}

// Room a record takes in a pull reply besides its texts: keys, numbers, quotes.
constexpr qint64 kRecordOverheadBytes = 256;

std::string selectSql(const char *where)
{
    return std::string("select ") + kRecordColumns + " from records where " + where;
}

} // namespace

SqliteStorage::SqliteStorage(const QString &path)
    : m_db(path)
{
    if (!m_db.isOpen())
        return;
    m_db.exec("PRAGMA cache_size=-8192");
    // A change is acknowledged to a device only once it is on the disk: every commit is synced,
    // not only checkpoints (the shared wrapper's NORMAL would lose the last commits on power
    // loss).
    m_db.exec("PRAGMA synchronous=FULL");
    m_db.exec("PRAGMA foreign_keys=ON");
    m_ok = createSchema();
    for (int i = 0; m_ok && i < kReaders; ++i) {
        auto reader = std::make_unique<Database>(path);
        if (!reader->isOpen()) {
            m_ok = false;
            break;
        }
        m_readers.push_back(std::move(reader));
    }
}

bool SqliteStorage::createSchema()
{
    const char *statements[] = {
        "create table if not exists users (id integer primary key autoincrement, email text not null unique, "
        "password_hash text not null, seq integer not null default 0, created integer not null default 0)",
        "create table if not exists tokens (digest text primary key, user_id integer not null references users(id), "
        "device_token text not null, expires integer not null, since_seq integer not null default 0)",
        "create index if not exists tokens_by_user on tokens(user_id)",
        "create index if not exists tokens_by_expiry on tokens(expires)",
        "create table if not exists files (file_id integer primary key autoincrement, user_id integer not null, "
        "file_hash text not null, unique(user_id, file_hash))",
        "create table if not exists records (history_id integer primary key autoincrement, "
        "user_id integer not null references users(id), file_hash text not null, file_id integer not null, "
        "content text not null default '', timestamp integer not null default 0, "
        "device_name text not null default '', type text not null default 'text_txt', file_name text, "
        "file_ready integer not null default 0, file_size integer not null default 0, "
        "favourite integer not null default 0, seq integer not null, changed_by text not null default '', "
        "unique(user_id, file_hash))",
        "create index if not exists records_by_seq on records(user_id, seq)",
        "create table if not exists deletions (user_id integer not null, history_id integer not null, "
        "seq integer not null, changed_by text not null)",
        "create index if not exists deletions_by_seq on deletions(user_id, seq)",
        "create table if not exists clears (user_id integer not null, seq integer not null, ts integer not null, "
        "changed_by text not null)",
        "create index if not exists clears_by_seq on clears(user_id, seq)",
        "create table if not exists upload_grants (nonce text primary key, user_id integer not null, "
        "history_id integer not null, expires integer not null)",
    };
    for (const char *sql : statements) {
        if (!m_db.exec(sql)) {
            qCWarning(lcServer) << "cannot create the schema:" << m_db.lastError();
            return false;
        }
    }
    // Sign-ins made by an earlier version know no sequence: 0 (none of the device's own changes
    // come back in later pages, as before).
    bool hasSince = false;
    {
        SqlQuery columns = m_db.query("pragma table_info(tokens)");
        while (columns.next())
            hasSince = hasSince || columns.text(1) == QStringLiteral("since_seq");
    }
    if (!hasSince && !m_db.exec("alter table tokens add column since_seq integer not null default 0")) {
        qCWarning(lcServer) << "cannot update the schema:" << m_db.lastError();
        return false;
    }
    return true;
}

StoreStatus SqliteStorage::failure() const
{
    return failure(m_db);
}

StoreStatus SqliteStorage::failure(const Database &db)
{
    if (db.lastErrorIsFull())
        return StoreStatus::NoSpace;
    qCWarning(lcServer) << "storage failure:" << db.lastError();
    return StoreStatus::Failed;
}

SqliteStorage::ReaderLease::ReaderLease(SqliteStorage &storage)
    : m_storage(storage)
{
    std::unique_lock lock(storage.m_readersMutex);
    storage.m_readerFree.wait(lock, [&storage] { return !storage.m_readers.empty(); });
    m_db = std::move(storage.m_readers.back());
    storage.m_readers.pop_back();
}

SqliteStorage::ReaderLease::~ReaderLease()
{
    {
        std::lock_guard lock(m_storage.m_readersMutex);
        m_storage.m_readers.push_back(std::move(m_db));
    }
    m_storage.m_readerFree.notify_one();
}

std::optional<qint64> SqliteStorage::nextSeq(qint64 userId)
{
    if (!m_db.exec("update users set seq = seq + 1 where id = ?", {userId}))
        return std::nullopt;
    SqlQuery row = m_db.query("select seq from users where id = ?", {userId});
    if (!row.next())
        return std::nullopt;
    return row.int64(0);
}

StoreResult<StoredRecord> SqliteStorage::selectById(qint64 userId, qint64 historyId)
{
    static const std::string sql = selectSql("user_id = ? and history_id = ?");
    return firstRecord(m_db.query(sql.c_str(), {userId, historyId}));
}

StoreResult<StoredRecord> SqliteStorage::selectByHash(qint64 userId, const QString &fileHash)
{
    static const std::string sql = selectSql("user_id = ? and file_hash = ?");
    return firstRecord(m_db.query(sql.c_str(), {userId, fileHash}));
}

// The first row as a record; a read that failed is a failure, not a missing record (a device
// told "deleted" would delete its own copy).
StoreResult<StoredRecord> SqliteStorage::firstRecord(SqlQuery row) const
{
    if (row.next())
        return readRecord(row);
    return row.failed() ? failure() : StoreStatus::Missing;
}

std::optional<AccountUsage> SqliteStorage::selectUsage(qint64 userId)
{
    SqlQuery row = m_db.query(
        "select count(*), coalesce(sum(file_size + length(cast(content as blob))), 0) from records where user_id = ?",
        {userId});
    if (!row.next())
        return std::nullopt;
    return AccountUsage{row.int64(0), row.int64(1)};
}

StoreResult<qint64> SqliteStorage::createUser(const QString &email, const QString &passwordHash)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    if (!transaction.isActive())
        return failure();
    SqlQuery existing = m_db.query("select id from users where email = ?", {email});
    if (existing.next())
        return StoreStatus::Taken;
    if (existing.failed())
        return failure();
    if (!m_db.exec("insert into users (email, password_hash, created) values (?, ?, strftime('%s','now'))",
                   {email, passwordHash}))
        return failure();
    SqlQuery id = m_db.query("select last_insert_rowid()");
    if (!id.next())
        return failure();
    const qint64 userId = id.int64(0);
    if (!transaction.commit())
        return failure();
    return userId;
}

StoreResult<StoreDone> SqliteStorage::removeUser(qint64 userId)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    if (!transaction.isActive() || !m_db.exec("delete from tokens where user_id = ?", {userId})
        || !m_db.exec("delete from users where id = ?", {userId}) || !transaction.commit())
        return failure();
    return StoreDone{};
}

StoreResult<StoredUser> SqliteStorage::findUser(const QString &email)
{
    std::lock_guard lock(m_mutex);
    SqlQuery row = m_db.query("select id, password_hash from users where email = ?", {email});
    if (!row.next())
        return row.failed() ? failure() : StoreStatus::Missing;
    return StoredUser{row.int64(0), row.text(1).value_or(QString())};
}

StoreResult<StoreDone> SqliteStorage::addToken(const QString &digest, qint64 userId, const QString &device,
                                               qint64 expires)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    if (!transaction.isActive()
        || !m_db.exec("delete from tokens where user_id = ? and device_token = ?", {userId, device})
        || !m_db.exec("insert into tokens (digest, user_id, device_token, expires, since_seq) "
                      "values (?, ?, ?, ?, (select seq from users where id = ?))",
                      {digest, userId, device, expires, userId})
        || !transaction.commit())
        return failure();
    return StoreDone{};
}

StoreResult<SignIn> SqliteStorage::userForToken(const QString &digest, qint64 now, qint64 renewUntil)
{
    constexpr qint64 kRenewStep = 24 * 3600;
    std::lock_guard lock(m_mutex);
    SignIn signIn;
    qint64 expires = 0;
    {
        SqlQuery row = m_db.query(
            "select user_id, expires, since_seq from tokens where digest = ? and expires > ?", {digest, now});
        if (!row.next())
            return row.failed() ? failure() : StoreStatus::Missing;
        signIn.userId = row.int64(0);
        expires = row.int64(1);
        signIn.sinceSeq = row.int64(2);
    }
    // A renewal that cannot be written leaves the old expiry: the token still works today.
    if (renewUntil - expires > kRenewStep)
        m_db.exec("update tokens set expires = ? where digest = ?", {renewUntil, digest});
    return signIn;
}

StoreResult<QList<std::pair<qint64, QString>>> SqliteStorage::expiredSignIns(qint64 now)
{
    std::lock_guard lock(m_mutex);
    QList<std::pair<qint64, QString>> signIns;
    SqlQuery rows = m_db.query("select user_id, device_token from tokens where expires <= ?", {now});
    while (rows.next())
        signIns.append({rows.int64(0), rows.text(1).value_or(QString())});
    if (rows.failed())
        return failure();
    return signIns;
}

int SqliteStorage::removeExpiredTokens(qint64 now)
{
    std::lock_guard lock(m_mutex);
    if (!m_db.exec("delete from tokens where expires <= ?", {now}))
        return 0;
    const int tokens = m_db.changes();
    if (!m_db.exec("delete from upload_grants where expires <= ?", {now}))
        return tokens;
    return tokens + m_db.changes();
}

StoreResult<QString> SqliteStorage::removeToken(const QString &digest)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    if (!transaction.isActive())
        return failure();
    QString device;
    {
        SqlQuery row = m_db.query("select device_token from tokens where digest = ?", {digest});
        if (!row.next())
            return row.failed() ? failure() : StoreStatus::Missing;
        device = row.text(0).value_or(QString());
    }
    if (!m_db.exec("delete from tokens where digest = ?", {digest}) || !transaction.commit())
        return failure();
    return device;
}

StoreResult<StoreDone> SqliteStorage::setPasswordHash(const QString &email, const QString &passwordHash)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    if (!transaction.isActive())
        return failure();
    SqlQuery row = m_db.query("select id from users where email = ?", {email});
    if (!row.next())
        return row.failed() ? failure() : StoreStatus::Missing;
    const qint64 userId = row.int64(0);
    if (!m_db.exec("update users set password_hash = ? where id = ?", {passwordHash, userId})
        || !m_db.exec("delete from tokens where user_id = ?", {userId}) || !transaction.commit())
        return failure();
    return StoreDone{};
}

StoreResult<StoredRecord> SqliteStorage::createOrMerge(qint64 userId, const QString &device,
                                                       const IncomingRecord &in, const AccountQuota &quota)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    if (!transaction.isActive())
        return failure();
    const auto seq = nextSeq(userId);
    if (!seq)
        return failure();
    auto existing = selectByHash(userId, in.fileHash);
    if (existing.failed())
        return existing.status();
    if (existing) {
        // The same clip from another device (or again): one record, newest capture time, the
        // later favourite decision.
        const qint64 timestamp = qMax(existing->timestamp, in.timestamp.value_or(0));
        const qint64 favourite =
            qAbs(in.favourite.value_or(0)) > qAbs(existing->favourite) ? *in.favourite : existing->favourite;
        const bool ok = m_db.exec(
            "update records set content = coalesce(?, content), timestamp = ?, device_name = coalesce(?, device_name), "
            "type = coalesce(?, type), file_name = coalesce(?, file_name), favourite = ?, seq = ?, changed_by = ? "
            "where history_id = ? and user_id = ?",
            {sqlValue(in.content), timestamp, sqlValue(in.deviceName), sqlValue(in.type),
             sqlValue(in.fileName), favourite, *seq, device, existing->historyId, userId});
        if (!ok)
            return failure();
    } else {
        if (quota.maxRecords > 0 || quota.maxBytes > 0) {
            const auto used = selectUsage(userId);
            if (!used)
                return failure();
            const qint64 adding = in.content.value_or(QString()).toUtf8().size();
            if ((quota.maxRecords > 0 && used->records >= quota.maxRecords)
                || (quota.maxBytes > 0 && used->bytes + adding > quota.maxBytes))
                return StoreStatus::Refused;
        }
        if (!m_db.exec("insert or ignore into files (user_id, file_hash) values (?, ?)",
                       {userId, in.fileHash}))
            return failure();
        SqlQuery file = m_db.query("select file_id from files where user_id = ? and file_hash = ?",
                                   {userId, in.fileHash});
        if (!file.next())
            return failure();
        const qint64 fileId = file.int64(0);
        const bool ok = m_db.exec(
            "insert into records (user_id, file_hash, file_id, content, timestamp, device_name, type, file_name, "
            "favourite, seq, changed_by) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            {userId, in.fileHash, fileId, in.content.value_or(QString()), in.timestamp.value_or(0),
             in.deviceName.value_or(QString()), in.type.value_or(QStringLiteral("text_txt")),
             sqlValue(in.fileName), in.favourite.value_or(0), *seq, device});
        if (!ok)
            return failure();
    }
    auto stored = selectByHash(userId, in.fileHash);
    if (!stored || !transaction.commit())
        return failure();
    return *stored;
}

StoreResult<StoredRecord> SqliteStorage::update(qint64 userId, const QString &device,
                                                const IncomingRecord &in)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    if (!transaction.isActive())
        return failure();
    const auto existing = selectById(userId, in.historyId.value_or(0));
    if (!existing)
        return existing.status();
    if (existing->fileHash != in.fileHash)
        return StoreStatus::Missing;
    const auto seq = nextSeq(userId);
    if (!seq)
        return failure();
    const qint64 timestamp = qMax(existing->timestamp, in.timestamp.value_or(0));
    const qint64 favourite =
        qAbs(in.favourite.value_or(0)) > qAbs(existing->favourite) ? *in.favourite : existing->favourite;
    const bool ok = m_db.exec(
        "update records set timestamp = ?, device_name = coalesce(?, device_name), type = coalesce(?, type), "
        "file_name = coalesce(?, file_name), favourite = ?, seq = ?, changed_by = ? where history_id = ? and user_id = ?",
        {timestamp, sqlValue(in.deviceName), sqlValue(in.type), sqlValue(in.fileName), favourite, *seq,
         device, existing->historyId, userId});
    auto stored = ok ? selectById(userId, existing->historyId) : StoreResult<StoredRecord>(failure());
    if (!stored || !transaction.commit())
        return failure();
    return *stored;
}

StoreResult<StoredRecord> SqliteStorage::find(qint64 userId, qint64 historyId)
{
    std::lock_guard lock(m_mutex);
    return selectById(userId, historyId);
}

StoreResult<StoredRecord> SqliteStorage::findByHash(qint64 userId, const QString &fileHash)
{
    std::lock_guard lock(m_mutex);
    return selectByHash(userId, fileHash);
}

StoreResult<StoredRecord> SqliteStorage::remove(qint64 userId, const QString &device, qint64 historyId)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    if (!transaction.isActive())
        return failure();
    auto existing = selectById(userId, historyId);
    if (!existing)
        return existing.status();
    const auto seq = nextSeq(userId);
    if (!seq || !m_db.exec("delete from records where history_id = ? and user_id = ?", {historyId, userId})
        || !m_db.exec("insert into deletions (user_id, history_id, seq, changed_by) values (?, ?, ?, ?)",
                      {userId, historyId, *seq, device})
        || !m_db.exec("delete from upload_grants where user_id = ? and history_id = ?", {userId, historyId})
        || !transaction.commit())
        return failure();
    return *existing;
}

StoreResult<ClearResult> SqliteStorage::clear(qint64 userId, const QString &device, qint64 now)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    if (!transaction.isActive())
        return failure();
    ClearResult result;
    {
        SqlQuery rows = m_db.query(
            "select file_hash, file_ready from records where user_id = ? and favourite <= 0", {userId});
        while (rows.next()) {
            ++result.count;
            if (rows.int32(1))
                result.objectKeys.append(objectKey(userId, rows.text(0).value_or(QString())));
        }
        if (rows.failed())
            return failure();
    }
    const auto seq = nextSeq(userId);
    if (!seq || !m_db.exec("delete from records where user_id = ? and favourite <= 0", {userId})
        || !m_db.exec("insert into clears (user_id, seq, ts, changed_by) values (?, ?, ?, ?)",
                      {userId, *seq, now, device})
        || !transaction.commit())
        return failure();
    return result;
}

StoreResult<PullResult> SqliteStorage::pull(qint64 userId, const QString &device, qint64 cursor, int limit,
                                            qint64 maxBytes, qint64 ownThrough)
{
    // A connection of its own: reading a page holds up neither writes nor other users' reads.
    const ReaderLease lease(*this);
    Database &db = lease.db();
    // A read transaction: one consistent view of the records, deletions and clears.
    if (!db.exec("BEGIN"))
        return failure(db);
    struct EndRead {
        Database &db;
        ~EndRead() { db.exec("COMMIT"); }
    } endRead{db};
    PullResult result;
    static const std::string recordsSql =
        selectSql("user_id = ? and seq > ? and (changed_by <> ? or seq <= ?) order by seq limit ?")
            .replace(7, 0, "seq, ");
    // A pull from 0 is a device that holds nothing (a new installation, perhaps with the token
    // of an earlier one): it gets every record, its own included, and no deletions or clears.
    // The pages after it still bring the device's own records from before its sign-in.
    const bool full = cursor == 0;
    SqlQuery rows = db.query(recordsSql.c_str(),
                             {userId, cursor, full ? QString() : device, ownThrough, qint64(limit) + 1});
    qint64 lastSeq = 0;
    qint64 bytes = 0;
    bool truncated = false;
    while (rows.next()) {
        // A page ends at its record count or, past its first record, at its size in bytes.
        if (result.records.size() == limit || (!result.records.isEmpty() && bytes >= maxBytes)) {
            truncated = true;
            break;
        }
        // Column 0 is the change sequence; the record's columns follow it.
        lastSeq = rows.int64(0);
        StoredRecord r;
        r.historyId = rows.int64(1);
        r.fileId = rows.int64(2);
        r.fileHash = rows.text(3).value_or(QString());
        r.content = rows.text(4).value_or(QString());
        r.timestamp = rows.int64(5);
        r.deviceName = rows.text(6).value_or(QString());
        r.type = rows.text(7).value_or(QString());
        r.fileName = rows.text(8);
        r.fileReady = rows.int32(9);
        r.fileSize = rows.int64(10);
        r.favourite = rows.int64(11);
        bytes += kRecordOverheadBytes + r.content.size() + r.deviceName.size()
                 + r.fileName.value_or(QString()).size();
        result.records.append(std::move(r));
    }
    if (rows.failed())
        return failure(db);
    result.truncated = truncated;
    if (truncated) {
        // A page: the next pull continues after the last record handed out.
        result.cursor = lastSeq;
    } else {
        SqlQuery seq = db.query("select seq from users where id = ?", {userId});
        result.cursor = seq.next() ? seq.int64(0) : cursor;
    }
    if (full)
        return result;
    SqlQuery deletions = db.query(
        "select history_id from deletions where user_id = ? and seq > ? and seq <= ? and changed_by <> ? order by seq",
        {userId, cursor, result.cursor, device});
    while (deletions.next())
        result.deletedHistoryIds.append(deletions.int64(0));
    SqlQuery clears =
        db.query("select max(ts) from clears where user_id = ? and seq > ? and seq <= ? and changed_by <> ?",
                 {userId, cursor, result.cursor, device});
    if (clears.next() && !clears.isNull(0))
        result.clearTime = clears.int64(0);
    if (deletions.failed() || clears.failed())
        return failure(db);
    return result;
}

StoreResult<AccountUsage> SqliteStorage::usage(qint64 userId)
{
    std::lock_guard lock(m_mutex);
    if (auto used = selectUsage(userId))
        return *used;
    return failure();
}

bool SqliteStorage::writeFavourite(qint64 userId, const QString &device, qint64 historyId, qint64 favourite)
{
    const auto seq = nextSeq(userId);
    return seq
           && m_db.exec(
               "update records set favourite = ?, seq = ?, changed_by = ? where history_id = ? and user_id = ?",
               {favourite, *seq, device, historyId, userId});
}

StoreResult<StoredRecord> SqliteStorage::setFavourite(qint64 userId, const QString &device,
                                                      const QString &fileHash, qint64 favourite)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    if (!transaction.isActive())
        return failure();
    auto existing = selectByHash(userId, fileHash);
    if (!existing)
        return existing.status();
    if (qAbs(favourite) > qAbs(existing->favourite)) {
        if (!writeFavourite(userId, device, existing->historyId, favourite))
            return failure();
        existing->favourite = favourite;
    }
    if (!transaction.commit())
        return failure();
    return *existing;
}

StoreResult<FavouriteReconciliation> SqliteStorage::reconcile(qint64 userId, const QString &device,
                                                              const QList<std::pair<qint64, qint64>> &held)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    if (!transaction.isActive())
        return failure();
    auto result = reconcileFavourites(
        held, {[&](qint64 historyId) { return selectById(userId, historyId); },
               [&](qint64 historyId, qint64 favourite) {
                   return writeFavourite(userId, device, historyId, favourite) ? StoreStatus::Ok : failure();
               },
               [&]() -> StoreResult<QList<StoredRecord>> {
                   static const std::string sql =
                       selectSql("user_id = ? and favourite > 0 order by timestamp");
                   SqlQuery rows = m_db.query(sql.c_str(), {userId});
                   QList<StoredRecord> records;
                   while (rows.next())
                       records.append(readRecord(rows));
                   if (rows.failed())
                       return failure();
                   return records;
               }});
    if (result && !transaction.commit())
        return failure();
    return result;
}

StoreResult<StoreDone> SqliteStorage::addGrant(const QString &nonce, qint64 userId, qint64 historyId,
                                               qint64 expires)
{
    std::lock_guard lock(m_mutex);
    if (!m_db.exec("insert into upload_grants (nonce, user_id, history_id, expires) values (?, ?, ?, ?)",
                   {nonce, userId, historyId, expires}))
        return failure();
    return StoreDone{};
}

StoreResult<StoreDone> SqliteStorage::consumeGrant(const QString &nonce, qint64 userId, qint64 historyId,
                                                   qint64 now)
{
    std::lock_guard lock(m_mutex);
    // Deleting it is the use: of two uploads with one grant, only one deletes a row.
    if (!m_db.exec(
            "delete from upload_grants where nonce = ? and user_id = ? and history_id = ? and expires > ?",
            {nonce, userId, historyId, now}))
        return failure();
    if (m_db.changes() != 1)
        return StoreStatus::Missing;
    return StoreDone{};
}

StoreResult<StoredRecord> SqliteStorage::markFileReady(qint64 userId, const QString &device, qint64 historyId,
                                                       const QString &fileHash, qint64 fileId, qint64 size)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    if (!transaction.isActive())
        return failure();
    auto existing = selectById(userId, historyId);
    if (!existing)
        return existing.status();
    if (existing->fileHash != fileHash || existing->fileId != fileId)
        return StoreStatus::Missing;
    const auto seq = nextSeq(userId);
    if (!seq
        || !m_db.exec("update records set file_ready = 1, file_size = ?, seq = ?, changed_by = ? "
                      "where history_id = ? and user_id = ?",
                      {size, *seq, device, existing->historyId, userId})
        || !transaction.commit())
        return failure();
    existing->fileReady = 1;
    existing->fileSize = size;
    return *existing;
}
