#include "SyncClient.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QUrl>

#include <httplib.h>

using namespace Qt::StringLiterals;

namespace {

HttpReply toReply(const httplib::Result &result)
{
    if (!result)
        return {-1, QByteArray::fromStdString(httplib::to_string(result.error())), {}};
    const QByteArray body = QByteArray::fromStdString(result->body);
    return {result->status, body, QJsonDocument::fromJson(body).object()};
}

std::unique_ptr<httplib::Client> makeClient(const QString &origin, const QString &caFile)
{
    auto client = std::make_unique<httplib::Client>(origin.toStdString());
    client->set_connection_timeout(5);
    client->set_read_timeout(20);
    client->set_tcp_nodelay(true);
    client->set_keep_alive(true);
    if (!caFile.isEmpty()) {
        client->set_ca_cert_path(caFile.toStdString().c_str());
        client->enable_server_certificate_verification(true);
    }
    return client;
}

} // namespace

SyncClient::SyncClient(const QString &origin, const QString &deviceToken, const QString &caFile)
    : m_client(makeClient(origin, caFile))
    , m_device(deviceToken)
    , m_caFile(caFile)
{ }

SyncClient::~SyncClient() = default;

QString SyncClient::md5Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QJsonObject SyncClient::textRecord(const QString &text, qint64 timestamp)
{
    return {{u"content"_s, text.left(100)},       {u"timestamp"_s, timestamp},
            {u"device_name"_s, u"test device"_s}, {u"file_hash"_s, md5Hex(text.toUtf8())},
            {u"type"_s, u"text_txt"_s},           {u"favourite"_s, 0}};
}

QString SyncClient::path(const QString &endpoint, const QString &extra, bool signedIn) const
{
    QString p =
        u"/api"_s + endpoint + u"?device_type=linux_6.1.0&device_token="_s + m_device + u"&version=0.1.0_1"_s;
    if (signedIn)
        p += u"&user_token="_s + m_token;
    return p + extra;
}

HttpReply SyncClient::get(const QString &endpoint, const QString &extra, bool signedIn)
{
    return toReply(m_client->Get(path(endpoint, extra, signedIn).toStdString()));
}

HttpReply SyncClient::post(const QString &endpoint, const QByteArray &body, const QString &extra)
{
    return toReply(
        m_client->Post(path(endpoint, extra, true).toStdString(), body.toStdString(), "text/plain"));
}

HttpReply SyncClient::post(const QString &endpoint, const QJsonObject &body, const QString &extra)
{
    return post(endpoint, QJsonDocument(body).toJson(QJsonDocument::Compact), extra);
}

HttpReply SyncClient::put(const QString &endpoint, const QJsonObject &body)
{
    return toReply(m_client->Put(path(endpoint, {}, true).toStdString(),
                                 QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(),
                                 "text/plain"));
}

HttpReply SyncClient::del(const QString &endpoint, const QString &extra)
{
    return toReply(m_client->Delete(path(endpoint, extra, true).toStdString()));
}

std::optional<QList<HttpReply>> SyncClient::pullAll(qint64 *cursor)
{
    QList<HttpReply> pages;
    while (pages.size() < 100) {
        pages << pull(*cursor);
        if (pages.last().status != 200 || pages.last().code() != 0)
            return std::nullopt;
        *cursor = pages.last().cursor();
        if (!pages.last().value("has_more").toBool())
            return pages;
    }
    return std::nullopt;
}

HttpReply SyncClient::accountRequest(const QString &endpoint, const QString &email, const QString &password)
{
    const QString extra =
        u"&device_name=Test+machine&username="_s + email + u"&pwd_hash="_s + md5Hex(password.toUtf8());
    HttpReply reply = get(endpoint, extra, false);
    if (reply.status == 200 && reply.code() == 0) {
        m_token = reply.json.value(u"token"_s).toString();
        m_userId = reply.json.value(u"user_id"_s).toInteger();
        m_mqttUser = reply.json.value(u"mqtt_username"_s).toString();
        m_mqttPassword = reply.json.value(u"mqtt_password"_s).toString();
    }
    return reply;
}

HttpReply SyncClient::registerUser(const QString &email, const QString &password)
{
    return accountRequest(u"/register/"_s, email, password);
}

HttpReply SyncClient::login(const QString &email, const QString &password)
{
    return accountRequest(u"/login/"_s, email, password);
}

HttpReply SyncClient::postForm(const QString &url, const UploadForm &fields, const QByteArray &file)
{
    const QUrl target(url);
    auto client = makeClient(target.scheme() + u"://"_s + target.authority(), m_caFile);
    httplib::MultipartFormDataItems items;
    for (const auto &[name, value] : fields)
        items.push_back({name.toStdString(), value.toStdString(), "", ""});
    items.push_back({"file", file.toStdString(), "payload", "application/octet-stream"});
    return toReply(client->Post(target.path().toStdString(), items));
}

QString SyncClient::idQuery(const QJsonObject &record)
{
    return u"&history_id=%1&file_hash=%2"_s.arg(record.value(u"history_id"_s).toInteger())
        .arg(record.value(u"file_hash"_s).toString());
}

QString SyncClient::fileQuery(const QJsonObject &record)
{
    return u"&file_hash=%1&file_id=%2"_s.arg(record.value(u"file_hash"_s).toString())
        .arg(record.value(u"file_id"_s).toInteger());
}

UploadForm SyncClient::uploadForm(const QString &fileHash, qint64 fileId, QString *host, HttpReply *reply)
{
    const HttpReply grant =
        get(u"/get_upload_token/"_s, u"&file_hash=%1&file_id=%2"_s.arg(fileHash).arg(fileId));
    if (reply)
        *reply = grant;
    const auto value = [&grant](const char *key) { return grant.value(key).toString().toUtf8(); };
    *host = grant.value("host").toString();
    return {{u"key"_s, value("dir") + '/' + fileHash.toUtf8()},
            {u"policy"_s, value("policy")},
            {u"success_action_status"_s, "200"},
            {u"callback"_s, value("callback")},
            {u"OSSAccessKeyID"_s, value("accessid")},
            {u"signature"_s, value("signature")}};
}

HttpReply SyncClient::upload(const QString &fileHash, qint64 fileId, const QByteArray &payload)
{
    QString host;
    HttpReply grant;
    const UploadForm form = uploadForm(fileHash, fileId, &host, &grant);
    return grant.status == 200 && grant.code() == 0 ? postForm(host, form, payload) : grant;
}

HttpReply SyncClient::upload(const QJsonObject &record, const QByteArray &payload)
{
    return upload(record.value(u"file_hash"_s).toString(), record.value(u"file_id"_s).toInteger(), payload);
}
