#pragma once

#include <QList>
#include <QString>

#include <mutex>

// The request log: one line per request with its secrets scrubbed, at most `perSecond` lines a
// second; lines beyond that are counted and the count is logged once lines are let through
// again, so a flood cannot fill the disk.
class RequestLog final
{
public:
    explicit RequestLog(int perSecond);

    void write(const QString &address, const QString &method, const QString &path,
               const QList<std::pair<QString, QString>> &query, int status);

    // A query for the log: values other than a few harmless ones are replaced.
    static QString scrubbedQuery(const QList<std::pair<QString, QString>> &pairs);

private:
    std::mutex m_mutex;
    int m_perSecond;
    qint64 m_second = 0;
    int m_written = 0;
    qint64 m_dropped = 0;
};
