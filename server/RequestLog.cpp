#include "RequestLog.h"

#include "ServerLog.h"

#include <QDateTime>
#include <QStringList>

RequestLog::RequestLog(int perSecond)
    : m_perSecond(qMax(1, perSecond))
{ }

void RequestLog::write(const QString &address, const QString &method, const QString &path,
                       const QList<std::pair<QString, QString>> &query, int status)
{
    qint64 dropped = 0;
    {
        std::lock_guard lock(m_mutex);
        const qint64 second = QDateTime::currentSecsSinceEpoch();
        if (second != m_second) {
            m_second = second;
            m_written = 0;
        }
        if (m_written >= m_perSecond) {
            ++m_dropped;
            return;
        }
        ++m_written;
        dropped = std::exchange(m_dropped, 0);
    }
    if (dropped > 0)
        qCInfo(lcServer) << dropped << "request log lines left out";
    // The path and the names of the query keys; secret values never reach the log.
    qCInfo(lcServer).noquote() << address << method << path.left(200) << scrubbedQuery(query) << status;
}

QString RequestLog::scrubbedQuery(const QList<std::pair<QString, QString>> &pairs)
{
    // Only known, harmless keys keep their values (cut short); every other value is hidden.
    static const QStringList shown{QStringLiteral("device_type"), QStringLiteral("device_token"),
                                   QStringLiteral("version"),     QStringLiteral("history_id"),
                                   QStringLiteral("file_id"),     QStringLiteral("last_request_timestamp"),
                                   QStringLiteral("count")};
    QStringList out;
    for (const auto &[key, value] : pairs)
        out << key.left(40)
                   + (shown.contains(key) ? QLatin1Char('=') + value.left(64) : QStringLiteral("=***"));
    return out.join(QLatin1Char('&'));
}
