#include "TestCertificates.h"

#include <QFile>
#include <QProcess>
#include <QtDebug>

using namespace Qt::StringLiterals;

bool TestCertificates::openssl(const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(u"openssl"_s, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        qWarning() << "openssl" << arguments << process.readAllStandardError();
        return false;
    }
    return true;
}

bool TestCertificates::makeAuthority(const QString &name)
{
    return openssl({u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                    u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-keyout"_s, key(name), u"-out"_s,
                    pem(name), u"-days"_s, u"2"_s, u"-subj"_s, u"/CN=Quillet test authority "_s + name,
                    u"-addext"_s, u"basicConstraints=critical,CA:TRUE"_s, u"-addext"_s,
                    u"keyUsage=critical,keyCertSign,cRLSign"_s});
}

bool TestCertificates::makeServer(const QString &name, const QString &authority, const QString &san)
{
    const QString request = m_dir.filePath(name + u".csr"_s);
    const QString extensions = m_dir.filePath(name + u".ext"_s);
    QFile file(extensions);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=" + san.toUtf8()
               + '\n');
    file.close();
    return openssl({u"req"_s, u"-new"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                    u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-keyout"_s, key(name), u"-out"_s,
                    request, u"-subj"_s, u"/CN=quillet-test-server"_s})
           && openssl({u"x509"_s, u"-req"_s, u"-in"_s, request, u"-CA"_s, pem(authority), u"-CAkey"_s,
                       key(authority), u"-CAcreateserial"_s, u"-out"_s, pem(name), u"-days"_s, u"2"_s,
                       u"-extfile"_s, extensions});
}
