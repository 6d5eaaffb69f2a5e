#include "sync/ServiceRequests.h"

#include "store/Settings.h"
#include "store/SettingsKeys.h"

#include <QRegularExpression>

RequestResult ServiceRequestManager::parse(const QByteArray &body)
{
    RequestResult reply = jsonObject(body);
    if (reply && replyCode(*reply) != 0)
        return std::nullopt;
    return reply;
}

QString FavouriteRequestManager::requestURL() const
{
    return RequestManager::requestURL() + tokenPair();
}

QString GetFavouriteRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/get_favourite/");
}

QString SetFavouriteRequest::methodURL() const
{
    return baseURL() + QStringLiteral("/set_favourite/");
}

QString FileRequestManager::requestURL() const
{
    return RequestManager::requestURL() + tokenPair() + QStringLiteral("&file_hash=") + m_file_hash
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

QString CheckUpdateRequestManager::requestURL() const
{
    return RequestManager::requestURL();
}

RequestResult CheckUpdateRequestManager::parse(const QByteArray &body)
{
    return jsonObject(body);
}

std::optional<QString> CheckUpdateRequestManager::offeredVersion(const RequestResult &result,
                                                                 const std::optional<RequestError> &error)
{
    if (error || !result || replyCode(*result) != 0)
        return std::nullopt;
    const QJsonValue value =
        result->value(QStringLiteral("data")).toObject().value(QStringLiteral("version"));
    if (!value.isString())
        return std::nullopt;
    // The version is shown in the menu's settings item and compared part by part.
    static const QRegularExpression shape(QStringLiteral("^[0-9][0-9A-Za-z.+-]*$"));
    const QString version = value.toString();
    if (version.size() > kMaxVersionLength || !shape.match(version).hasMatch())
        return std::nullopt;
    return version;
}

std::optional<QString>
CheckUpdateRequestManager::storeOfferedVersion(Settings &settings, const RequestResult &result,
                                               const std::optional<RequestError> &error)
{
    std::optional<QString> version = offeredVersion(result, error);
    if (version)
        settings.setOfferedVersion(*version);
    return version;
}

QString ClearHistoryRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/clear_history/");
}

QString ClearHistoryRequestManager::requestURL() const
{
    return RequestManager::requestURL() + tokenPair();
}

RequestResult ClearHistoryRequestManager::parse(const QByteArray &body)
{
    RequestResult reply = jsonObject(body);
    if (!reply || replyCode(*reply) != 0)
        return std::nullopt;
    return reply;
}

std::optional<qint64> ClearHistoryRequestManager::clearedCount(const QJsonObject &reply)
{
    // toInteger() answers the fallback for anything but a whole number, fractions included.
    const qint64 count = reply.value(QStringLiteral("count")).toInteger(-1);
    if (count < 0)
        return std::nullopt;
    return count;
}

QString PluginListRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/plugins/");
}

QString PluginListRequestManager::requestURL() const
{
    return RequestManager::requestURL();
}
