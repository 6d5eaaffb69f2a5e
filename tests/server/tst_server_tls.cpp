// The service over HTTPS with a certificate from a CA the test makes: a client that trusts the
// CA syncs (including the upload form, whose host is HTTPS too); one that trusts another CA is
// refused before anything is sent.

#include "ServerHarness.h"
#include "SyncClient.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestServerTls final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void trustedClientSyncs();
    void untrustedCertificateIsRefused();

private:
    bool openssl(const QStringList &arguments);
    bool makeCa(const QString &name);

    QTemporaryDir m_pki;
    ServerHarness m_server;
};

bool TestServerTls::openssl(const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_pki.path());
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        qWarning() << "openssl failed:" << arguments << process.readAllStandardError();
        return false;
    }
    return true;
}

bool TestServerTls::makeCa(const QString &name)
{
    return openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                    QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                    QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                    QStringLiteral("-keyout"), name + QStringLiteral(".key"), QStringLiteral("-out"),
                    name + QStringLiteral(".crt"), QStringLiteral("-days"), QStringLiteral("2"),
                    QStringLiteral("-subj"), QStringLiteral("/CN=") + name});
}

void TestServerTls::initTestCase()
{
    QVERIFY(makeCa(QStringLiteral("test-ca")));
    QVERIFY(makeCa(QStringLiteral("other-ca")));
    QVERIFY(openssl({QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                     QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                     QStringLiteral("-nodes"), QStringLiteral("-keyout"), QStringLiteral("server.key"),
                     QStringLiteral("-out"), QStringLiteral("server.csr"), QStringLiteral("-subj"),
                     QStringLiteral("/CN=127.0.0.1")}));
    QFile extensions(m_pki.filePath(QStringLiteral("san.ext")));
    QVERIFY(extensions.open(QIODevice::WriteOnly));
    extensions.write("subjectAltName=IP:127.0.0.1\n");
    extensions.close();
    QVERIFY(
        openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                 QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("test-ca.crt"),
                 QStringLiteral("-CAkey"), QStringLiteral("test-ca.key"), QStringLiteral("-CAcreateserial"),
                 QStringLiteral("-out"), QStringLiteral("server.crt"), QStringLiteral("-days"),
                 QStringLiteral("2"), QStringLiteral("-extfile"), QStringLiteral("san.ext")}));

    ServerHarness::Options options;
    options.tlsCert = m_pki.filePath(QStringLiteral("server.crt"));
    options.tlsKey = m_pki.filePath(QStringLiteral("server.key"));
    QVERIFY(m_server.start(options));
    QVERIFY(m_server.apiUrl().startsWith(QLatin1String("https://127.0.0.1:")));
}

void TestServerTls::trustedClientSyncs()
{
    const QString ca = m_pki.filePath(QStringLiteral("test-ca.crt"));
    SyncClient a(m_server.origin(), QStringLiteral("tlsA"), ca);
    SyncClient b(m_server.origin(), QStringLiteral("tlsB"), ca);
    QCOMPARE(a.registerUser(QStringLiteral("tls@example.org"), QStringLiteral("pw")).code(), 0);
    QCOMPARE(b.login(QStringLiteral("tls@example.org"), QStringLiteral("pw")).code(), 0);

    const QByteArray payload("payload over TLS");
    QJsonObject record = SyncClient::textRecord(QStringLiteral("over TLS"), 1700000000);
    record.insert(QStringLiteral("file_hash"), SyncClient::md5Hex(payload));
    const QJsonObject stored = a.pushRecord(record).json.value(QStringLiteral("history")).toObject();
    const qint64 fileId = stored.value(QStringLiteral("file_id")).toInteger();
    const HttpReply grant = a.get(QStringLiteral("/get_upload_token/"),
                                  QStringLiteral("&file_hash=") + SyncClient::md5Hex(payload)
                                      + QStringLiteral("&file_id=") + QString::number(fileId));
    QVERIFY(grant.json.value(QStringLiteral("host")).toString().startsWith(QLatin1String("https://")));
    QCOMPARE(a.upload(SyncClient::md5Hex(payload), fileId, payload).code(), 0);
    const HttpReply downloaded = b.download(SyncClient::md5Hex(payload), fileId);
    QCOMPARE(downloaded.status, 200);
    QCOMPARE(downloaded.body, payload);
}

void TestServerTls::untrustedCertificateIsRefused()
{
    SyncClient stranger(m_server.origin(), QStringLiteral("tlsC"),
                        m_pki.filePath(QStringLiteral("other-ca.crt")));
    const HttpReply reply = stranger.get(QStringLiteral("/check_version/"), {}, false);
    QCOMPARE(reply.status, -1);
    QVERIFY(reply.body.contains("SSL"));
}

QTEST_GUILESS_MAIN(TestServerTls)
#include "tst_server_tls.moc"
