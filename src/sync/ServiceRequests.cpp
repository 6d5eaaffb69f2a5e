#include "sync/ServiceRequests.h"

RequestResult ServiceRequestManager::parse(const QByteArray &body)
{
    RequestResult reply = jsonObject(body);
    if (reply && replyCode(*reply) != 0)
        return std::nullopt;
    return reply;
}

QString FavouriteRequestManager::combinURL() const
{
    return RequestManager::combinURL() + tokenPair();
}

QString GetFavouriteRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/get_favourite/");
}

QString SetFavouriteRequest::methodURL() const
{
    return baseURL() + QStringLiteral("/set_favourite/");
}

QString FileRequestManager::combinURL() const
{
    return RequestManager::combinURL() + tokenPair() + QStringLiteral("&file_hash=") + m_file_hash
           + QStringLiteral("&file_id=") + m_file_id;
}

QString GetUploadTokenManager::methodURL() const
{
    return baseURL() + QStringLiteral("/get_upload_token/");
}

QString DownloadFileRequest::methodURL() const
{
    return baseURL() + QStringLiteral("/download_file/");
}

QString CheckUpdateRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/check_version/");
}

QString CheckUpdateRequestManager::combinURL() const
{
    return RequestManager::combinURL();
}

QString ClearHistoryRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/clear_history/");
}

QString ClearHistoryRequestManager::combinURL() const
{
    return RequestManager::combinURL() + tokenPair();
}

QString PluginListRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/plugins/");
}

QString PluginListRequestManager::combinURL() const
{
    return RequestManager::combinURL();
}
