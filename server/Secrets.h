#pragma once

#include <QByteArray>
#include <QString>

// Password hashing, random tokens and signatures of the sync service.
namespace Secrets {

// Cost of the Argon2id password hash; the defaults follow current guidance for interactive use.
struct HashCost {
    quint64 opsLimit = 2;
    quint64 memLimitBytes = 19u * 1024u * 1024u;
};

// Initialises libsodium; false when the library cannot be used (the server then refuses to start).
bool initialise();

// Argon2id hash of a secret in libsodium's self-describing string form; empty on failure.
QString hashPassword(const QByteArray &secret, const HashCost &cost);
// Constant-time check of a secret against a stored hash string.
bool verifyPassword(const QByteArray &secret, const QString &stored);

// Hexadecimal text of `bytes` random bytes from the operating system's generator.
QString randomHex(int bytes);
// SHA-256 of a value, hex: how tokens are stored, so a stolen database holds no usable token.
QString tokenDigest(const QString &token);
// Base64 of HMAC-SHA256(key, message).
QByteArray hmacBase64(const QByteArray &key, const QByteArray &message);
// Compares two byte strings in time that depends only on their lengths.
bool equalConstantTime(const QByteArray &a, const QByteArray &b);

} // namespace Secrets
