#include "support/Database.h"

#include "support/Log.h"

#include <sqlite3.h>

#include <QFile>

namespace {
constexpr int kBusyTimeoutMs = 2000;
}

SqlQuery::SqlQuery(sqlite3_stmt *statement, bool failed)
    : m_statement(statement)
    , m_failed(failed)
{ }

SqlQuery::SqlQuery(SqlQuery &&other) noexcept
    : m_statement(std::exchange(other.m_statement, nullptr))
    , m_failed(other.m_failed)
{ }

SqlQuery::~SqlQuery()
{
    if (m_statement) {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
}

bool SqlQuery::next()
{
    if (!m_statement || m_failed)
        return false;
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE) {
        m_failed = true;
        qCWarning(lcStore) << "query failed:" << sqlite3_errmsg(sqlite3_db_handle(m_statement));
    }
    return false;
}

int SqlQuery::columnIndex(const char *name) const
{
    const int count = sqlite3_column_count(m_statement);
    for (int i = 0; i < count; ++i) {
        if (sqlite3_stricmp(sqlite3_column_name(m_statement, i), name) == 0)
            return i;
    }
    return -1;
}

bool SqlQuery::isNull(int column) const
{
    return column < 0 || sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

std::optional<QString> SqlQuery::text(int column) const
{
    if (isNull(column))
        return std::nullopt;
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return QString::fromUtf8(data, sqlite3_column_bytes(m_statement, column));
}

qint64 SqlQuery::int64(int column) const
{
    return isNull(column) ? 0 : sqlite3_column_int64(m_statement, column);
}

int SqlQuery::int32(int column) const
{
    return isNull(column) ? 0 : sqlite3_column_int(m_statement, column);
}

double SqlQuery::real(int column) const
{
    return isNull(column) ? 0.0 : sqlite3_column_double(m_statement, column);
}

Database::Database(const QString &path, Access access)
{
    const int flags =
        (access == Access::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)
        | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr) != SQLITE_OK) {
        qCWarning(lcStore) << "cannot open database" << path << (m_db ? sqlite3_errmsg(m_db) : "");
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    if (access == Access::ReadOnly)
        return;
    // Write-ahead logging lets the menu read while a sync thread writes, and makes each of
    // the many small autocommit statements cheap; NORMAL sync keeps the file consistent on
    // a crash and loses at most the last commits on a power cut.
    sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(m_db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    // The program reads a few dozen rows at a time; a small page cache keeps its memory from
    // growing with the size of the history (a full scan, such as the start-up clean-up's,
    // would otherwise fill the default cache of each pooled connection).
    sqlite3_exec(m_db, "PRAGMA cache_size=-256", nullptr, nullptr, nullptr);
}

Database::~Database()
{
    for (auto &[sql, statement] : m_statements)
        sqlite3_finalize(statement);
    sqlite3_close(m_db);
}

sqlite3_stmt *Database::prepare(const std::string &sql)
{
    if (!m_db)
        return nullptr;
    if (auto it = m_statements.find(sql); it != m_statements.end())
        return it->second;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        qCWarning(lcStore) << "cannot prepare" << sql.c_str() << ":" << sqlite3_errmsg(m_db);
        sqlite3_finalize(statement);
        return nullptr;
    }
    m_statements.emplace(sql, statement);
    return statement;
}

bool Database::bind(sqlite3_stmt *statement, SqlParams params)
{
    int index = 1;
    for (const SqlValue &value : params) {
        int rc = SQLITE_OK;
        if (const auto *i = std::get_if<qint64>(&value)) {
            rc = sqlite3_bind_int64(statement, index, *i);
        } else if (const auto *d = std::get_if<double>(&value)) {
            rc = sqlite3_bind_double(statement, index, *d);
        } else if (const auto *s = std::get_if<QString>(&value)) {
            const QByteArray utf8 = s->toUtf8();
            rc = sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        } else if (const auto *b = std::get_if<QByteArray>(&value)) {
            rc = sqlite3_bind_blob(statement, index, b->constData(), int(b->size()), SQLITE_TRANSIENT);
        } else {
            rc = sqlite3_bind_null(statement, index);
        }
        if (rc != SQLITE_OK)
            return false;
        ++index;
    }
    return true;
}

bool Database::exec(const char *sql, SqlParams params)
{
    sqlite3_stmt *statement = prepare(sql);
    if (!statement)
        return false;
    bool ok = bind(statement, params);
    if (ok) {
        const int rc = sqlite3_step(statement);
        ok = rc == SQLITE_DONE || rc == SQLITE_ROW;
        if (!ok)
            qCDebug(lcStore) << "statement failed:" << sql << ":" << sqlite3_errmsg(m_db);
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return ok;
}

bool Database::exec(const QString &sql, SqlParams params)
{
    return exec(sql.toUtf8().constData(), params);
}

SqlQuery Database::query(const char *sql, SqlParams params)
{
    sqlite3_stmt *statement = prepare(sql);
    if (!statement)
        return SqlQuery(nullptr, true);
    return SqlQuery(statement, !bind(statement, params));
}

bool Database::hasTable(const QString &name)
{
    SqlQuery rows = query("select name from sqlite_master where type = 'table'");
    while (rows.next()) {
        if (rows.text(0).value_or(QString()).compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QStringList Database::columns(const QString &table)
{
    QStringList names;
    const QString sql = QStringLiteral("PRAGMA table_info(\"%1\")")
                            .arg(QString(table).replace(QLatin1Char('"'), QLatin1String("\"\"")));
    const QByteArray utf8 = sql.toUtf8();
    SqlQuery rows = query(utf8.constData());
    const int nameColumn = rows.columnIndex("name");
    while (rows.next())
        names << rows.text(nameColumn).value_or(QString());
    return names;
}

int Database::changes() const
{
    return m_db ? sqlite3_changes(m_db) : 0;
}

QString Database::lastError() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("no connection");
}

bool Database::lastErrorIsDamage() const
{
    if (!m_db)
        return false;
    const int code = sqlite3_errcode(m_db) & 0xff;
    return code == SQLITE_NOTADB || code == SQLITE_CORRUPT;
}

bool Database::lastErrorIsFull() const
{
    return m_db && (sqlite3_errcode(m_db) & 0xff) == SQLITE_FULL;
}

WriteTransaction::WriteTransaction(Database &db)
    : m_db(db)
    , m_active(db.exec("BEGIN IMMEDIATE"))
{
    if (!m_active)
        qCWarning(lcStore) << "cannot begin a write transaction:" << db.lastError();
}

WriteTransaction::~WriteTransaction()
{
    if (m_active && !m_db.exec("ROLLBACK"))
        qCWarning(lcStore) << "rollback failed:" << m_db.lastError();
}

bool WriteTransaction::commit()
{
    if (!m_active)
        return false;
    if (!m_db.exec("COMMIT")) {
        qCWarning(lcStore) << "commit failed:" << m_db.lastError();
        return false;
    }
    m_active = false;
    return true;
}
