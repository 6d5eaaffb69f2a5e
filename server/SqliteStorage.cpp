#include "SqliteStorage.h"

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
    m_db.exec("PRAGMA foreign_keys=ON");
    m_ok = createSchema();
}

bool SqliteStorage::createSchema()
{
    const char *statements[] = {
        "create table if not exists users (id integer primary key autoincrement, email text not null unique, "
        "password_hash text not null, seq integer not null default 0, created integer not null default 0)",
        "create table if not exists tokens (digest text primary key, user_id integer not null references users(id), "
        "device_token text not null, expires integer not null)",
        "create index if not exists tokens_by_user on tokens(user_id)",
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
    };
    for (const char *sql : statements) {
        if (!m_db.exec(sql)) {
            qCWarning(lcServer) << "cannot create the schema:" << m_db.lastError();
            return false;
        }
    }
    return true;
}

qint64 SqliteStorage::nextSeq(qint64 userId)
{
    m_db.exec("update users set seq = seq + 1 where id = ?", {userId});
    SqlQuery row = m_db.query("select seq from users where id = ?", {userId});
    return row.next() ? row.int64(0) : 0;
}

std::optional<StoredRecord> SqliteStorage::selectById(qint64 userId, qint64 historyId)
{
    static const std::string sql = selectSql("user_id = ? and history_id = ?");
    SqlQuery row = m_db.query(sql.c_str(), {userId, historyId});
    if (!row.next())
        return std::nullopt;
    return readRecord(row);
}

std::optional<StoredRecord> SqliteStorage::selectByHash(qint64 userId, const QString &fileHash)
{
    static const std::string sql = selectSql("user_id = ? and file_hash = ?");
    SqlQuery row = m_db.query(sql.c_str(), {userId, fileHash});
    if (!row.next())
        return std::nullopt;
    return readRecord(row);
}

std::optional<qint64> SqliteStorage::createUser(const QString &email, const QString &passwordHash)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    SqlQuery existing = m_db.query("select id from users where email = ?", {email});
    if (existing.next())
        return std::nullopt;
    if (!m_db.exec("insert into users (email, password_hash, created) values (?, ?, strftime('%s','now'))",
                   {email, passwordHash}))
        return std::nullopt;
    SqlQuery id = m_db.query("select last_insert_rowid()");
    if (!id.next())
        return std::nullopt;
    const qint64 userId = id.int64(0);
    if (!transaction.commit())
        return std::nullopt;
    return userId;
}

std::optional<StoredUser> SqliteStorage::findUser(const QString &email)
{
    std::lock_guard lock(m_mutex);
    SqlQuery row = m_db.query("select id, password_hash from users where email = ?", {email});
    if (!row.next())
        return std::nullopt;
    return StoredUser{row.int64(0), row.text(1).value_or(QString())};
}

QList<qint64> SqliteStorage::userIds()
{
    std::lock_guard lock(m_mutex);
    QList<qint64> ids;
    SqlQuery rows = m_db.query("select id from users order by id");
    while (rows.next())
        ids.append(rows.int64(0));
    return ids;
}

bool SqliteStorage::addToken(const QString &digest, qint64 userId, const QString &device, qint64 expires)
{
    std::lock_guard lock(m_mutex);
    return m_db.exec("insert into tokens (digest, user_id, device_token, expires) values (?, ?, ?, ?)",
                     {digest, userId, device, expires});
}

std::optional<qint64> SqliteStorage::userForToken(const QString &digest, qint64 now, qint64 renewUntil)
{
    constexpr qint64 kRenewStep = 24 * 3600;
    std::lock_guard lock(m_mutex);
    qint64 userId = 0;
    qint64 expires = 0;
    {
        SqlQuery row =
            m_db.query("select user_id, expires from tokens where digest = ? and expires > ?", {digest, now});
        if (!row.next())
            return std::nullopt;
        userId = row.int64(0);
        expires = row.int64(1);
    }
    if (renewUntil - expires > kRenewStep)
        m_db.exec("update tokens set expires = ? where digest = ?", {renewUntil, digest});
    return userId;
}

bool SqliteStorage::setPasswordHash(const QString &email, const QString &passwordHash)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    SqlQuery row = m_db.query("select id from users where email = ?", {email});
    if (!row.next())
        return false;
    const qint64 userId = row.int64(0);
    return m_db.exec("update users set password_hash = ? where id = ?", {passwordHash, userId})
           && m_db.exec("delete from tokens where user_id = ?", {userId}) && transaction.commit();
}

std::optional<StoredRecord> SqliteStorage::createOrMerge(qint64 userId, const QString &device,
                                                         const IncomingRecord &in)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    const qint64 seq = nextSeq(userId);
    if (auto existing = selectByHash(userId, in.fileHash)) {
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
             sqlValue(in.fileName), favourite, seq, device, existing->historyId, userId});
        if (!ok)
            return std::nullopt;
    } else {
        m_db.exec("insert or ignore into files (user_id, file_hash) values (?, ?)", {userId, in.fileHash});
        SqlQuery file = m_db.query("select file_id from files where user_id = ? and file_hash = ?",
                                   {userId, in.fileHash});
        if (!file.next())
            return std::nullopt;
        const qint64 fileId = file.int64(0);
        const bool ok = m_db.exec(
            "insert into records (user_id, file_hash, file_id, content, timestamp, device_name, type, file_name, "
            "favourite, seq, changed_by) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            {userId, in.fileHash, fileId, in.content.value_or(QString()), in.timestamp.value_or(0),
             in.deviceName.value_or(QString()), in.type.value_or(QStringLiteral("text_txt")),
             sqlValue(in.fileName), in.favourite.value_or(0), seq, device});
        if (!ok)
            return std::nullopt;
    }
    auto stored = selectByHash(userId, in.fileHash);
    if (!stored || !transaction.commit())
        return std::nullopt;
    return stored;
}

std::optional<StoredRecord> SqliteStorage::update(qint64 userId, const QString &device,
                                                  const IncomingRecord &in)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    const auto existing = selectById(userId, in.historyId.value_or(0));
    if (!existing || existing->fileHash != in.fileHash)
        return std::nullopt;
    const qint64 seq = nextSeq(userId);
    const qint64 timestamp = qMax(existing->timestamp, in.timestamp.value_or(0));
    const qint64 favourite =
        qAbs(in.favourite.value_or(0)) > qAbs(existing->favourite) ? *in.favourite : existing->favourite;
    const bool ok = m_db.exec(
        "update records set timestamp = ?, device_name = coalesce(?, device_name), type = coalesce(?, type), "
        "file_name = coalesce(?, file_name), favourite = ?, seq = ?, changed_by = ? where history_id = ? and user_id = ?",
        {timestamp, sqlValue(in.deviceName), sqlValue(in.type), sqlValue(in.fileName), favourite, seq, device,
         existing->historyId, userId});
    auto stored = ok ? selectById(userId, existing->historyId) : std::nullopt;
    if (!stored || !transaction.commit())
        return std::nullopt;
    return stored;
}

std::optional<StoredRecord> SqliteStorage::find(qint64 userId, qint64 historyId)
{
    std::lock_guard lock(m_mutex);
    return selectById(userId, historyId);
}

std::optional<StoredRecord> SqliteStorage::findByHash(qint64 userId, const QString &fileHash)
{
    std::lock_guard lock(m_mutex);
    return selectByHash(userId, fileHash);
}

std::optional<StoredRecord> SqliteStorage::remove(qint64 userId, const QString &device, qint64 historyId)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    auto existing = selectById(userId, historyId);
    if (!existing)
        return std::nullopt;
    const qint64 seq = nextSeq(userId);
    if (!m_db.exec("delete from records where history_id = ? and user_id = ?", {historyId, userId})
        || !m_db.exec("insert into deletions (user_id, history_id, seq, changed_by) values (?, ?, ?, ?)",
                      {userId, historyId, seq, device})
        || !transaction.commit())
        return std::nullopt;
    return existing;
}

ClearResult SqliteStorage::clear(qint64 userId, const QString &device, qint64 now)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    ClearResult result;
    SqlQuery rows = m_db.query(
        "select file_hash, file_ready from records where user_id = ? and favourite <= 0", {userId});
    QList<QString> keys;
    while (rows.next()) {
        ++result.count;
        if (rows.int32(1))
            keys.append(objectKey(userId, rows.text(0).value_or(QString())));
    }
    const qint64 seq = nextSeq(userId);
    if (!m_db.exec("delete from records where user_id = ? and favourite <= 0", {userId})
        || !m_db.exec("insert into clears (user_id, seq, ts, changed_by) values (?, ?, ?, ?)",
                      {userId, seq, now, device})
        || !transaction.commit())
        return {};
    result.objectKeys = keys;
    return result;
}

PullResult SqliteStorage::pull(qint64 userId, const QString &device, qint64 cursor, int limit)
{
    std::lock_guard lock(m_mutex);
    // A read transaction: one consistent view of the records, deletions and clears.
    m_db.exec("BEGIN");
    PullResult result;
    static const std::string recordsSql =
        selectSql("user_id = ? and seq > ? and changed_by <> ? order by seq limit ?").replace(7, 0, "seq, ");
    // A pull from 0 is a device that holds nothing (a new installation, perhaps with the token
    // of an earlier one): it gets every record, its own included, and no deletions or clears.
    const bool full = cursor == 0;
    SqlQuery rows =
        m_db.query(recordsSql.c_str(), {userId, cursor, full ? QString() : device, qint64(limit) + 1});
    qint64 lastSeq = 0;
    bool truncated = false;
    while (rows.next()) {
        if (result.records.size() == limit) {
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
        result.records.append(r);
    }
    result.truncated = truncated;
    if (truncated) {
        // A page: the next pull continues after the last record handed out.
        result.cursor = lastSeq;
    } else {
        SqlQuery seq = m_db.query("select seq from users where id = ?", {userId});
        result.cursor = seq.next() ? seq.int64(0) : cursor;
    }
    if (full) {
        m_db.exec("COMMIT");
        return result;
    }
    SqlQuery deletions = m_db.query(
        "select history_id from deletions where user_id = ? and seq > ? and seq <= ? and changed_by <> ? order by seq",
        {userId, cursor, result.cursor, device});
    while (deletions.next())
        result.deletedHistoryIds.append(deletions.int64(0));
    SqlQuery clears = m_db.query(
        "select max(ts) from clears where user_id = ? and seq > ? and seq <= ? and changed_by <> ?",
        {userId, cursor, result.cursor, device});
    if (clears.next() && !clears.isNull(0))
        result.clearTime = clears.int64(0);
    m_db.exec("COMMIT");
    return result;
}

void SqliteStorage::writeFavourite(qint64 userId, const QString &device, qint64 historyId, qint64 favourite)
{
    const qint64 seq = nextSeq(userId);
    m_db.exec(
        "update records set favourite = ?, seq = ?, changed_by = ? where history_id = ? and user_id = ?",
        {favourite, seq, device, historyId, userId});
}

std::optional<StoredRecord> SqliteStorage::setFavourite(qint64 userId, const QString &device,
                                                        const QString &fileHash, qint64 favourite)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    auto existing = selectByHash(userId, fileHash);
    if (!existing)
        return std::nullopt;
    if (qAbs(favourite) > qAbs(existing->favourite)) {
        writeFavourite(userId, device, existing->historyId, favourite);
        existing->favourite = favourite;
    }
    if (!transaction.commit())
        return std::nullopt;
    return existing;
}

FavouriteReconciliation SqliteStorage::reconcile(qint64 userId, const QString &device,
                                                 const QList<std::pair<qint64, qint64>> &held)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    FavouriteReconciliation result;
    QSet<qint64> current;
    for (const auto &[historyId, favourite] : held) {
        auto stored = selectById(userId, historyId);
        if (!stored) {
            result.deleted.append(historyId);
            continue;
        }
        if (qAbs(favourite) > qAbs(stored->favourite)) {
            // The device's decision is the later one: the service takes it.
            writeFavourite(userId, device, historyId, favourite);
            stored->favourite = favourite;
        }
        if (stored->favourite <= 0)
            result.withdrawn.append({historyId, stored->favourite});
        else if (stored->favourite == favourite)
            current.insert(historyId);
    }
    static const std::string favouritesSql = selectSql("user_id = ? and favourite > 0 order by timestamp");
    SqlQuery rows = m_db.query(favouritesSql.c_str(), {userId});
    while (rows.next()) {
        StoredRecord r = readRecord(rows);
        if (!current.contains(r.historyId))
            result.records.append(r);
    }
    transaction.commit();
    return result;
}

std::optional<StoredRecord> SqliteStorage::markFileReady(qint64 userId, const QString &device,
                                                         const QString &fileHash, qint64 fileId, qint64 size)
{
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(m_db);
    auto existing = selectByHash(userId, fileHash);
    if (!existing || existing->fileId != fileId)
        return std::nullopt;
    const qint64 seq = nextSeq(userId);
    if (!m_db.exec("update records set file_ready = 1, file_size = ?, seq = ?, changed_by = ? "
                   "where history_id = ? and user_id = ?",
                   {size, seq, device, existing->historyId, userId}))
        return std::nullopt;
    existing->fileReady = 1;
    existing->fileSize = size;
    if (!transaction.commit())
        return std::nullopt;
    return existing;
}
