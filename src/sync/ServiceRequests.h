#pragma once

#include "sync/RequestManager.h"

// The remaining endpoints: favourites, file transfer tokens, the version check, clearing the
// history on the service and the plugin list. Until the services that use them read their
// replies, parse() hands over a reply whose "code" is 0.
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
    QString combinURL() const override;

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
    QString combinURL() const override;

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

// "/check_version/": the newest version the service offers.
class CheckUpdateRequestManager final : public ServiceRequestManager
{
public:
    QString methodURL() const override;
    QString combinURL() const override;
    bool isContinueRequest() const override { return true; }
};

// "/clear_history/": deletes the user's clips on the service.
class ClearHistoryRequestManager final : public ServiceRequestManager
{
public:
    QString methodURL() const override;
    QString combinURL() const override;
};

// "/plugins/": the plugins the service offers.
class PluginListRequestManager final : public ServiceRequestManager
{
public:
    QString methodURL() const override;
    QString combinURL() const override;
    bool isContinueRequest() const override { return true; }
};
