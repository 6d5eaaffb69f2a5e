#include "UploadPolicy.h"

#include "Secrets.h"

#include "support/PayloadLimit.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace {

std::optional<QJsonObject> decodeObject(const QByteArray &base64)
{
    const auto decoded = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(*decoded);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

QByteArray encodeObject(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toBase64();
}

} // namespace

UploadPolicy::UploadPolicy(QByteArray key, qint64 lifetimeSeconds)
    : m_key(std::move(key))
    , m_lifetime(lifetimeSeconds)
{ }

QString UploadPolicy::dirFor(qint64 userId)
{
    return QStringLiteral("users/") + QString::number(userId);
}

QByteArray UploadPolicy::sign(const QByteArray &policy, const QByteArray &callback) const
{
    return Secrets::hmacBase64(m_key, policy + '\n' + callback);
}

QJsonObject UploadPolicy::issue(const UploadGrant &grant, qint64 now) const
{
    const QString dir = dirFor(grant.userId);
    const QByteArray policy = encodeObject({
        {QStringLiteral("expiration"), now + m_lifetime},
        {QStringLiteral("dir"), dir},
        {QStringLiteral("min_size"), 0},
        {QStringLiteral("max_size"), kMaxPayloadBytes},
    });
    const QByteArray callback = encodeObject({
        {QStringLiteral("user_id"), grant.userId},
        {QStringLiteral("history_id"), grant.historyId},
        {QStringLiteral("nonce"), grant.nonce},
        {QStringLiteral("file_hash"), grant.fileHash},
        {QStringLiteral("file_id"), grant.fileId},
        {QStringLiteral("device_token"), grant.deviceToken},
    });
    return {
        {QStringLiteral("dir"), dir},
        {QStringLiteral("policy"), QString::fromLatin1(policy)},
        {QStringLiteral("callback"), QString::fromLatin1(callback)},
        {QStringLiteral("accessid"), QLatin1String(kAccessId)},
        {QStringLiteral("signature"), QString::fromLatin1(sign(policy, callback))},
    };
}

std::variant<UploadGrant, UploadRefusal>
UploadPolicy::verify(const QString &key, const QByteArray &policy, const QByteArray &callback,
                     const QString &accessId, const QByteArray &signature, qint64 fileSize, qint64 now) const
{
    if (accessId != QLatin1String(kAccessId)
        || !Secrets::equalConstantTime(sign(policy, callback), signature))
        return UploadRefusal{403, QStringLiteral("signature does not match")};
    const auto policyObject = decodeObject(policy);
    const auto callbackObject = decodeObject(callback);
    if (!policyObject || !callbackObject)
        return UploadRefusal{400, QStringLiteral("malformed policy")};

    UploadGrant grant;
    grant.expires = policyObject->value(QStringLiteral("expiration")).toInteger();
    grant.dir = policyObject->value(QStringLiteral("dir")).toString();
    grant.maxSize =
        qMin<qint64>(policyObject->value(QStringLiteral("max_size")).toInteger(), kMaxPayloadBytes);
    grant.userId = callbackObject->value(QStringLiteral("user_id")).toInteger();
    grant.historyId = callbackObject->value(QStringLiteral("history_id")).toInteger();
    grant.nonce = callbackObject->value(QStringLiteral("nonce")).toString();
    grant.fileId = callbackObject->value(QStringLiteral("file_id")).toInteger();
    grant.fileHash = callbackObject->value(QStringLiteral("file_hash")).toString();
    grant.deviceToken = callbackObject->value(QStringLiteral("device_token")).toString();

    if (grant.expires <= now)
        return UploadRefusal{403, QStringLiteral("policy expired")};
    // The key must be the record's file directly inside the granted folder.
    if (grant.dir.isEmpty() || key != grant.dir + QLatin1Char('/') + grant.fileHash)
        return UploadRefusal{403, QStringLiteral("key outside the policy")};
    if (fileSize > grant.maxSize || fileSize > kMaxPayloadBytes)
        return UploadRefusal{413, QStringLiteral("file too large")};
    return grant;
}
