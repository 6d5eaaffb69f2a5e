#include "sync/ClipRequests.h"

RequestResult ClipRequestManager::parse(const QByteArray &body)
{
    RequestResult reply = jsonObject(body);
    if (reply && replyCode(*reply) != 0)
        return std::nullopt;
    return reply;
}

QString PullClipsManager::methodURL() const
{
    return baseURL() + QStringLiteral("/pull/");
}

QString PullClipsManager::requestURL() const
{
    QString url = RequestManager::requestURL() + tokenPair() + QStringLiteral("&last_request_timestamp=")
                  + m_last_request_timestamp;
    if (m_limit != 0)
        url += QStringLiteral("&count=") + QString::number(m_limit);
    return url;
}

QString PushClipsRequest::methodURL() const
{
    return baseURL() + QStringLiteral("/push/");
}

QString PushClipsRequest::requestURL() const
{
    QString url = RequestManager::requestURL() + tokenPair();
    if (httpMethod() == QLatin1String("GET"))
        url += QStringLiteral("&history_id=") + m_history_id + QStringLiteral("&file_hash=") + m_file_hash;
    else if (httpMethod() == QLatin1String("DELETE"))
        url += QStringLiteral("&history_id=") + m_history_id;
    return url;
}
