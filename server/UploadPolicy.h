#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <variant>

// What a signed upload form allows: one payload of one record of one user, once. The record is
// named by its history id as well, so a grant ends with the record it was issued for; the nonce
// names the grant in the storage, which forgets it when it is used.
struct UploadGrant {
    qint64 userId = 0;
    qint64 historyId = 0;
    QString nonce;
    qint64 fileId = 0;
    QString fileHash;
    QString deviceToken; // the device that asked; its own notice is ignored by it
    QString dir;
    qint64 expires = 0;
    qint64 maxSize = 0;
};

struct UploadRefusal {
    int httpStatus = 403;
    QString reason;
};

// The browser-style upload form of the object store. "policy" is base64 JSON (expiry, key
// prefix "dir", size range); "callback" is base64 JSON naming the record to mark file-ready;
// "signature" is an HMAC of both with the service's secret, so neither can be altered.
class UploadPolicy final
{
public:
    static constexpr const char *kAccessId = "quillet";

    UploadPolicy(QByteArray key, qint64 lifetimeSeconds);

    // The reply of "/get_upload_token/" without "host" and "code".
    QJsonObject issue(const UploadGrant &grant, qint64 now) const;

    // Checks the form fields "key", "policy", "callback", "OSSAccessKeyID", "signature" and the
    // file's size against the signed policy.
    std::variant<UploadGrant, UploadRefusal> verify(const QString &key, const QByteArray &policy,
                                                    const QByteArray &callback, const QString &accessId,
                                                    const QByteArray &signature, qint64 fileSize,
                                                    qint64 now) const;

    static QString dirFor(qint64 userId);
    qint64 lifetime() const { return m_lifetime; }

private:
    QByteArray sign(const QByteArray &policy, const QByteArray &callback) const;

    QByteArray m_key;
    qint64 m_lifetime;
};
