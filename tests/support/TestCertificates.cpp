#include "TestCertificates.h"

#include <QFile>
#include <QProcess>
#include <QtDebug>

bool TestCertificates::openssl(const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        qWarning() << "openssl" << arguments << process.readAllStandardError();
        return false;
    }
    return true;
}

bool TestCertificates::makeAuthority(const QString &name)
{
    return openssl(
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
         QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
         QStringLiteral("-keyout"), key(name), QStringLiteral("-out"), pem(name), QStringLiteral("-days"),
         QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=Quillet test authority ") + name,
         QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
         QStringLiteral("-addext"), QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")});
}

bool TestCertificates::makeServer(const QString &name, const QString &authority, const QString &san)
{
    const QString request = m_dir.filePath(name + QStringLiteral(".csr"));
    const QString extensions = m_dir.filePath(name + QStringLiteral(".ext"));
    QFile file(extensions);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=" + san.toUtf8()
               + '\n');
    file.close();
    return openssl({QStringLiteral("req"), QStringLiteral("-new"), QStringLiteral("-newkey"),
                    QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                    QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                    QStringLiteral("-keyout"), key(name), QStringLiteral("-out"), request,
                    QStringLiteral("-subj"), QStringLiteral("/CN=quillet-test-server")})
           && openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), request,
                       QStringLiteral("-CA"), pem(authority), QStringLiteral("-CAkey"), key(authority),
                       QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), pem(name),
                       QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"), extensions});
}
