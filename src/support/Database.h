#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>

struct sqlite3;
struct sqlite3_stmt;

// A value bound to a statement parameter. std::monostate binds SQL NULL.
using SqlValue = std::variant<std::monostate, qint64, double, QString, QByteArray>;
using SqlParams = std::initializer_list<SqlValue>;

// Binds an optional as its value, or as NULL when absent.
template<typename T> SqlValue sqlValue(const std::optional<T> &value)
{
    if (!value)
        return std::monostate{};
    if constexpr (std::is_same_v<T, bool> || std::is_integral_v<T>)
        return static_cast<qint64>(*value);
    else
        return *value;
}

class Database;

// The rows of one statement; reset when it goes out of scope.
class SqlQuery final
{
public:
    SqlQuery(SqlQuery &&other) noexcept;
    SqlQuery &operator=(SqlQuery &&) = delete;
    ~SqlQuery();

    bool next();
    bool failed() const { return m_failed; }

    int columnIndex(const char *name) const;
    bool isNull(int column) const;
    std::optional<QString> text(int column) const;
    qint64 int64(int column) const;
    int int32(int column) const;
    double real(int column) const;

private:
    friend class Database;
    explicit SqlQuery(sqlite3_stmt *statement, bool failed);

    sqlite3_stmt *m_statement = nullptr;
    bool m_failed = false;
};

// One open SQLite connection with its prepared statements kept for reuse. A Database without a
// connection (the file could not be opened) runs nothing: queries give no rows and every
// statement reports failure.
class Database final
{
    Q_DISABLE_COPY_MOVE(Database)

public:
    enum class Access {
        ReadWrite, // created when missing, in write-ahead-log mode
        ReadOnly, // opened as it is, for looking at a file that must not change
    };

    explicit Database(const QString &path, Access access = Access::ReadWrite);
    ~Database();

    bool isOpen() const { return m_db != nullptr; }

    // Runs a statement to completion; true when it succeeded.
    bool exec(const char *sql, SqlParams params = {});
    bool exec(const QString &sql, SqlParams params = {});
    // Runs a statement that yields rows.
    SqlQuery query(const char *sql, SqlParams params = {});

    // Catalogue look-ups; names are compared without regard to case.
    bool hasTable(const QString &name);
    QStringList columns(const QString &table);

    int changes() const;
    QString lastError() const;
    // True when the last call failed because the file is not a database or is damaged (as
    // opposed to being busy, unreadable or on a full disk).
    bool lastErrorIsDamage() const;
    // True when the last call failed because the disk (or the database's size limit) is full.
    bool lastErrorIsFull() const;

private:
    sqlite3_stmt *prepare(const std::string &sql);
    bool bind(sqlite3_stmt *statement, SqlParams params);

    sqlite3 *m_db = nullptr;
    std::unordered_map<std::string, sqlite3_stmt *> m_statements;
};

// A write transaction on one connection: BEGIN IMMEDIATE takes the write lock at once (waiting
// as any statement does), so what the transaction reads stays true until it commits. It is
// rolled back on destruction unless commit() succeeded.
class WriteTransaction final
{
    Q_DISABLE_COPY_MOVE(WriteTransaction)

public:
    explicit WriteTransaction(Database &db);
    ~WriteTransaction();

    // False when the transaction could not begin; then nothing should be run in it.
    bool isActive() const { return m_active; }
    bool commit();

private:
    Database &m_db;
    bool m_active = false;
};
