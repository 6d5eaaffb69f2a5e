#include "TestCertificates.h"

#include <QProcess>
#include <QtDebug>

using namespace Qt::StringLiterals;

bool TestCertificates::makeCertificate(const QString &name, const QStringList &arguments)
{
    QProcess process;
    process.start(u"openssl"_s, QStringList{u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                                            u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s,
                                            u"2"_s, u"-keyout"_s, key(name), u"-out"_s, pem(name)}
                                    + arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        qWarning() << "openssl" << arguments << process.readAllStandardError();
        return false;
    }
    return true;
}

bool TestCertificates::makeAuthority(const QString &name)
{
    return makeCertificate(name, {u"-subj"_s, u"/CN=Quillet test authority "_s + name, u"-addext"_s,
                                  u"basicConstraints=critical,CA:TRUE"_s, u"-addext"_s,
                                  u"keyUsage=critical,keyCertSign,cRLSign"_s});
}

bool TestCertificates::makeServer(const QString &name, const QString &authority, const QString &san)
{
    return makeCertificate(name,
                           {u"-subj"_s, u"/CN=quillet-test-server"_s, u"-CA"_s, pem(authority), u"-CAkey"_s,
                            key(authority), u"-addext"_s, u"basicConstraints=CA:FALSE"_s, u"-addext"_s,
                            u"extendedKeyUsage=serverAuth"_s, u"-addext"_s, u"subjectAltName="_s + san});
}
