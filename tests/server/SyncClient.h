#pragma once

#include <QJsonArray>
#include <QJsonObject>

#include <memory>
#include <optional>

namespace httplib {
class Client;
}

struct HttpReply {
    int status = -1; // -1: no HTTP reply at all
    QByteArray body;
    QJsonObject json;
    int code() const { return json.value(QStringLiteral("code")).toInt(-999); }
    QJsonValue value(const char *key) const { return json.value(QLatin1String(key)); }
    // The record of a push, GET or favourite reply; the records and cursor of a pull.
    QJsonObject history() const { return value("history").toObject(); }
    QJsonArray histories() const { return value("histories").toArray(); }
    qint64 cursor() const { return value("request_timestamp").toInteger(); }
};

// The fields of a multipart upload form, in order.
using UploadForm = QList<std::pair<QString, QByteArray>>;

// One device talking to the sync service the way the client does: the common query pairs
// (device type, device token, version), the sign-in token and JSON bodies without a
// Content-Type of their own.
class SyncClient final
{
public:
    SyncClient(const QString &origin, const QString &deviceToken, const QString &caFile = {});
    ~SyncClient();

    QString deviceToken() const { return m_device; }
    QString userToken() const { return m_token; }
    void setUserToken(const QString &token) { m_token = token; }
    // Lets this connection speak for another signed-in device (load tests share connections).
    void actAs(const QString &deviceToken, const QString &userToken)
    {
        m_device = deviceToken;
        m_token = userToken;
    }
    qint64 userId() const { return m_userId; }
    QString mqttUser() const { return m_mqttUser; }
    QString mqttPassword() const { return m_mqttPassword; }

    // Registers or signs in; on success keeps the token, user id and broker credentials.
    HttpReply registerUser(const QString &email, const QString &password);
    HttpReply login(const QString &email, const QString &password);

    // A request to an "/api" endpoint; `extra` is appended to the common pairs (and the sign-in
    // token when `signedIn`).
    HttpReply get(const QString &endpoint, const QString &extra = {}, bool signedIn = true);
    HttpReply post(const QString &endpoint, const QByteArray &body, const QString &extra = {});
    HttpReply post(const QString &endpoint, const QJsonObject &body, const QString &extra = {});
    HttpReply put(const QString &endpoint, const QJsonObject &body);
    HttpReply del(const QString &endpoint, const QString &extra);
    // A multipart form POST to a full URL (the upload host).
    HttpReply postForm(const QString &url, const UploadForm &fields, const QByteArray &file);

    // Shorthands of the protocol.
    HttpReply pushRecord(const QJsonObject &record)
    {
        return post(QStringLiteral("/push/"), QJsonObject{{QStringLiteral("history"), record}});
    }
    HttpReply pull(qint64 cursor)
    {
        return get(QStringLiteral("/pull/"),
                   QStringLiteral("&last_request_timestamp=") + QString::number(cursor));
    }
    // Pulls from *cursor page by page while the service has more, moving the cursor: every
    // page, or none when a pull fails.
    std::optional<QList<HttpReply>> pullAll(qint64 *cursor);
    // The record as the service stored it (empty when refused).
    QJsonObject pushed(const QJsonObject &record) { return pushRecord(record).history(); }
    // GET and DELETE of a stored record, by its id and hash.
    HttpReply getRecord(const QJsonObject &record) { return get(QStringLiteral("/push/"), idQuery(record)); }
    HttpReply deleteRecord(const QJsonObject &record)
    {
        return del(QStringLiteral("/push/"), idQuery(record));
    }
    HttpReply setFavourite(const QJsonObject &record)
    {
        return post(QStringLiteral("/set_favourite/"), QJsonObject{{QStringLiteral("history"), record}});
    }
    // Reconciles the favourites this device holds ({"ID": {"favourite": T}}) with the service's.
    HttpReply getFavourites(const QJsonObject &held = {})
    {
        return post(QStringLiteral("/get_favourite/"), QJsonObject{{QStringLiteral("favourites"), held}});
    }
    // The form the service grants for uploading this file; `host` receives where to post it and
    // `grant` (when given) the whole reply.
    UploadForm uploadForm(const QString &fileHash, qint64 fileId, QString *host, HttpReply *grant = nullptr);
    // Asks for upload credentials and posts the payload with them.
    HttpReply upload(const QString &fileHash, qint64 fileId, const QByteArray &payload);
    HttpReply upload(const QJsonObject &record, const QByteArray &payload);
    HttpReply download(const QJsonObject &record)
    {
        return get(QStringLiteral("/download_file/"), fileQuery(record));
    }

    static QString md5Hex(const QByteArray &bytes);
    static QJsonObject textRecord(const QString &text, qint64 timestamp);
    // "&history_id=ID&file_hash=HASH" and "&file_hash=HASH&file_id=ID" of a stored record.
    static QString idQuery(const QJsonObject &record);
    static QString fileQuery(const QJsonObject &record);

private:
    QString path(const QString &endpoint, const QString &extra, bool signedIn) const;
    HttpReply accountRequest(const QString &endpoint, const QString &email, const QString &password);

    std::unique_ptr<httplib::Client> m_client;
    QString m_device;
    QString m_token;
    qint64 m_userId = 0;
    QString m_mqttUser;
    QString m_mqttPassword;
    QString m_caFile;
};
