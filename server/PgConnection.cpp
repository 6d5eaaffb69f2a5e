#include "PgConnection.h"

#include "ServerLog.h"

#include <QUrl>
#include <QUrlQuery>

#include <libpq-fe.h>

#include <chrono>
#include <random>
#include <thread>

namespace {

// SQLSTATEs: a serialisation failure and a deadlock (the transaction may simply be tried
// again), and a full disk.
constexpr const char *kSerializationFailure = "40001";
constexpr const char *kDeadlock = "40P01";
constexpr const char *kDiskFull = "53100";

} // namespace

PgResult::PgResult(pg_result *result)
    : m_result(result)
{
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    m_ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

void PgResult::Free::operator()(pg_result *result) const
{
    PQclear(result);
}

QByteArray PgResult::errorField(int field) const
{
    return m_result ? QByteArray(PQresultErrorField(m_result.get(), field)) : QByteArray();
}

int PgResult::rows() const
{
    return m_ok ? PQntuples(m_result.get()) : 0;
}

bool PgResult::isNull(int row, int column) const
{
    return PQgetisnull(m_result.get(), row, column) != 0;
}

QString PgResult::text(int row, int column) const
{
    return QString::fromUtf8(PQgetvalue(m_result.get(), row, column),
                             PQgetlength(m_result.get(), row, column));
}

std::optional<QString> PgResult::optionalText(int row, int column) const
{
    if (isNull(row, column))
        return std::nullopt;
    return text(row, column);
}

qint64 PgResult::int64(int row, int column) const
{
    return QByteArray(PQgetvalue(m_result.get(), row, column)).toLongLong();
}

QByteArray PgResult::bytes(int row, int column) const
{
    size_t length = 0;
    unsigned char *raw = PQunescapeBytea(
        reinterpret_cast<const unsigned char *>(PQgetvalue(m_result.get(), row, column)), &length);
    if (!raw)
        return {};
    QByteArray bytes(reinterpret_cast<const char *>(raw), qsizetype(length));
    PQfreemem(raw);
    return bytes;
}

PgConnection::PgConnection(const QByteArray &url)
    : m_url(url)
{
    reconnect();
}

PgConnection::~PgConnection()
{
    if (m_conn)
        PQfinish(m_conn);
}

bool PgConnection::isOpen() const
{
    return m_conn && PQstatus(m_conn) == CONNECTION_OK;
}

bool PgConnection::reconnect()
{
    if (m_conn)
        PQfinish(m_conn);
    m_conn = PQconnectdb(m_url.constData());
    if (PQstatus(m_conn) == CONNECTION_OK) {
        // Notices (such as "relation already exists, skipping") are not worth a log line.
        PQsetNoticeProcessor(
            m_conn, [](void *, const char *) {}, nullptr);
        m_state.clear();
        return true;
    }
    m_state = "08006";
    // libpq's message names the host and user, never the password.
    m_message = PQerrorMessage(m_conn);
    return false;
}

PgResult PgConnection::query(const char *sql, std::initializer_list<SqlValue> params)
{
    std::vector<QByteArray> values;
    std::vector<const char *> pointers;
    std::vector<int> lengths;
    std::vector<int> formats;
    values.reserve(params.size());
    for (const SqlValue &param : params) {
        int format = 0;
        bool null = false;
        if (std::holds_alternative<std::monostate>(param))
            null = true;
        else if (const auto *number = std::get_if<qint64>(&param))
            values.push_back(QByteArray::number(*number));
        else if (const auto *real = std::get_if<double>(&param))
            values.push_back(QByteArray::number(*real, 'g', 17));
        else if (const auto *text = std::get_if<QString>(&param))
            values.push_back(text->toUtf8());
        else {
            values.push_back(std::get<QByteArray>(param));
            format = 1;
        }
        if (null)
            values.emplace_back();
        pointers.push_back(null ? nullptr : values.back().constData());
        lengths.push_back(int(values.back().size()));
        formats.push_back(format);
    }
    PgResult result(PQexecParams(m_conn, sql, int(params.size()), nullptr, pointers.data(), lengths.data(),
                                 formats.data(), 0));
    if (result.ok()) {
        m_state.clear();
        return result;
    }
    // Only the SQLSTATE and the primary message: the detail may quote values (an address).
    m_state = result.errorField(PG_DIAG_SQLSTATE);
    m_message = result.errorField(PG_DIAG_MESSAGE_PRIMARY);
    if (m_state.isEmpty()) {
        m_state = isOpen() ? QByteArray("XX000") : QByteArray("08006");
        m_message = PQerrorMessage(m_conn);
    }
    return result;
}

bool PgConnection::execScript(const char *sql)
{
    const PgResult result(PQexec(m_conn, sql));
    if (result.ok()) {
        m_state.clear();
        return true;
    }
    m_state = result.errorField(PG_DIAG_SQLSTATE);
    m_message = result.errorField(PG_DIAG_MESSAGE_PRIMARY);
    if (m_state.isEmpty())
        m_state = "XX000";
    return false;
}

bool PgConnection::lastConflict() const
{
    return m_state == kSerializationFailure || m_state == kDeadlock;
}

bool PgConnection::lastRetryable() const
{
    return lastConflict() || !isOpen();
}

StoreStatus PgConnection::failure() const
{
    if (m_state == kDiskFull)
        return StoreStatus::NoSpace;
    qCWarning(lcServer).noquote() << "storage failure:" << m_state << m_message.trimmed();
    return StoreStatus::Failed;
}

PgPool::PgPool(const QByteArray &url, int size)
    : m_url(url)
    , m_free(size)
{
    auto first = std::make_unique<PgConnection>(url);
    m_ok = first->isOpen();
    if (!m_ok)
        first->failure();
    m_idle.push_back(std::move(first));
    --m_free;
}

PgPool::~PgPool() = default;

PgPool::Lease::Lease(PgPool &pool)
    : m_pool(pool)
{
    std::unique_lock lock(pool.m_mutex);
    pool.m_released.wait(lock, [&pool] { return !pool.m_idle.empty() || pool.m_free > 0; });
    if (!pool.m_idle.empty()) {
        m_connection = std::move(pool.m_idle.back());
        pool.m_idle.pop_back();
        return;
    }
    --pool.m_free;
    lock.unlock();
    m_connection = std::make_unique<PgConnection>(pool.m_url);
}

PgPool::Lease::~Lease()
{
    {
        std::lock_guard lock(m_pool.m_mutex);
        m_pool.m_idle.push_back(std::move(m_connection));
    }
    m_pool.m_released.notify_one();
}

void PgPool::pause(int attempt)
{
    thread_local std::minstd_rand random(std::random_device{}());
    const int ms = 1 + int(random() % unsigned(5 << attempt));
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

QString redactedStorageUrl(const QString &url)
{
    QUrl parsed(url);
    if (!parsed.isValid())
        return QStringLiteral("(an invalid storage URL)");
    QUrlQuery query(parsed);
    query.removeAllQueryItems(QStringLiteral("password"));
    parsed.setQuery(query);
    return parsed.toDisplayString(QUrl::RemovePassword);
}
