#pragma once

#include "sync/RequestManager.h"

// The remaining endpoints: favourites, file transfer tokens, the version check, clearing the
// history on the service and the plugin list. Unless an endpoint reads its reply itself,
// parse() hands over a reply whose "code" is 0.
class Settings;
class ServiceRequestManager : public RequestManager
{
public:
    RequestResult parse(const QByteArray &body) override;
};

// A signed-in POST to path whose body is the JSON the caller gives.
class FavouriteRequestManager : public ServiceRequestManager
{
public:
    void setBody(const QByteArray &json) { setHttpBodyData(json); }
    QString requestURL() const override;

protected:
    FavouriteRequestManager() { setHttpMethod(QStringLiteral("POST")); }
};

// "/get_favourite/": reconciles the favourites of this device with the service's. The body
// names every synced favourite here with its mark; parse() takes the service's later
// decisions (removed clips, withdrawn marks, favourites this device lacks) and then starts the
// favourite lane.
class GetFavouriteRequestManager final : public FavouriteRequestManager
{
public:
    QString methodURL() const override;
    void genPostData() override;
    RequestResult parse(const QByteArray &body) override;
};

// "/set_favourite/" URL: marks or unmarks a clip as a favourite on the service.
class SetFavouriteRequest final : public FavouriteRequestManager
{
public:
    QString methodURL() const override;
};

// A signed-in GET naming one clip file by hash and id.
class FileRequestManager : public ServiceRequestManager
{
public:
    void setFileHash(const QString &hash) { m_file_hash = hash; }
    void setFileId(const QString &fileId) { m_file_id = fileId; }
    QString requestURL() const override;

private:
    QString m_file_hash;
    QString m_file_id;
};

// "/get_upload_token/": the signed form for uploading a clip's file.
class GetUploadTokenManager final : public FileRequestManager
{
public:
    QString methodURL() const override;
};

// "/download_file/": where a clip's file can be fetched.
class DownloadFileRequest final : public FileRequestManager
{
public:
    QString methodURL() const override;
};

// "/check_version/": the newest version the service offers. parse() returns the whole reply.
class CheckUpdateRequestManager final : public ServiceRequestManager
{
public:
    // Longer "version" values are no version: they would only fill the menu and the settings.
    static constexpr qsizetype kMaxVersionLength = 32;

    QString methodURL() const override;
    QString requestURL() const override;
    bool isContinueRequest() const override { return true; }
    RequestResult parse(const QByteArray &body) override;

    // The version a reply offers: data["version"] when the reply came without error, its
    // "code" is 0 and the version is a short dotted string of letters and digits that starts
    // with a digit. None otherwise.
    static std::optional<QString> offeredVersion(const RequestResult &result,
                                                 const std::optional<RequestError> &error);
    // Stores the offered version as "newversion" and returns it; nothing is stored when the
    // reply offers none.
    static std::optional<QString> storeOfferedVersion(Settings &settings, const RequestResult &result,
                                                      const std::optional<RequestError> &error);
};

// "/clear_history/": deletes the user's clips on the service. parse() returns the reply only
// when its "code" is 0.
class ClearHistoryRequestManager final : public ServiceRequestManager
{
public:
    QString methodURL() const override;
    QString requestURL() const override;
    RequestResult parse(const QByteArray &body) override;

    // The reply's "count" when it is a whole number of clips (0 or more); none otherwise.
    static std::optional<qint64> clearedCount(const QJsonObject &reply);
};

// "/plugins/": the plugins the service offers.
class PluginListRequestManager final : public ServiceRequestManager
{
public:
    QString methodURL() const override;
    QString requestURL() const override;
    bool isContinueRequest() const override { return true; }
};
