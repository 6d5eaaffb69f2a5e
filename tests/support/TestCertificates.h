#pragma once

#include <QTemporaryDir>

// Certificate authorities and server certificates made by openssl for one test, in a
// temporary folder: PEM files, EC keys (quick to make).
class TestCertificates final
{
public:
    // A self-signed authority; its certificate is NAME.pem, its key NAME.key.
    bool makeAuthority(const QString &name);
    // A server certificate NAME.pem / NAME.key signed by the authority, for the subject
    // alternative name san (for example "IP:127.0.0.1").
    bool makeServer(const QString &name, const QString &authority, const QString &san);

    QString pem(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".pem")); }
    QString key(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".key")); }

private:
    // openssl req -x509 with these arguments: a new EC key NAME.key and its certificate NAME.pem.
    bool makeCertificate(const QString &name, const QStringList &arguments);

    QTemporaryDir m_dir;
};
