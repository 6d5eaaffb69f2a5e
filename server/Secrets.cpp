#include "Secrets.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

#include <sodium.h>

namespace Secrets {

bool initialise()
{
    return sodium_init() >= 0;
}

QString hashPassword(const QByteArray &secret, const HashCost &cost)
{
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(out, secret.constData(), static_cast<unsigned long long>(secret.size()),
                              cost.opsLimit, cost.memLimitBytes, crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        return {};
    return QString::fromLatin1(out);
}

bool verifyPassword(const QByteArray &secret, const QString &stored)
{
    const QByteArray hash = stored.toLatin1();
    if (hash.isEmpty() || hash.size() >= crypto_pwhash_STRBYTES)
        return false;
    return crypto_pwhash_str_verify(hash.constData(), secret.constData(),
                                    static_cast<unsigned long long>(secret.size()))
           == 0;
}

QString randomHex(int bytes)
{
    QByteArray buffer(bytes, Qt::Uninitialized);
    randombytes_buf(buffer.data(), static_cast<size_t>(buffer.size()));
    return QString::fromLatin1(buffer.toHex());
}

QString tokenDigest(const QString &token)
{
    return QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QByteArray hmacBase64(const QByteArray &key, const QByteArray &message)
{
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256).toBase64();
}

bool equalConstantTime(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    return sodium_memcmp(a.constData(), b.constData(), static_cast<size_t>(a.size())) == 0;
}

} // namespace Secrets
