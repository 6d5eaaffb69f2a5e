// The service over HTTPS with a certificate from an authority the test makes: a client that
// trusts the authority syncs, including the upload form, whose host is HTTPS too. (Clients that
// trust another authority or meet another host's name are refused: tst_sync_requests.)

#include "ServerHarness.h"
#include "SyncClient.h"
#include "TestCertificates.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestServerTls final : public QObject
{
    Q_OBJECT

private slots:
    void trustedClientSyncsAndUploads()
    {
        TestCertificates pki;
        QVERIFY(pki.makeAuthority(u"ca"_s));
        QVERIFY(pki.makeServer(u"server"_s, u"ca"_s, u"IP:127.0.0.1"_s));
        ServerHarness server;
        QVERIFY(server.start({{}, pki.pem(u"server"_s), pki.key(u"server"_s)}));
        QVERIFY(server.apiUrl().startsWith("https://127.0.0.1:"_L1));

        SyncClient a(server.origin(), u"tlsA"_s, pki.pem(u"ca"_s));
        SyncClient b(server.origin(), u"tlsB"_s, pki.pem(u"ca"_s));
        QCOMPARE(a.registerUser(u"tls@example.org"_s, u"pw"_s).code(), 0);
        QCOMPARE(b.login(u"tls@example.org"_s, u"pw"_s).code(), 0);

        const QByteArray payload("payload over TLS");
        QJsonObject record = SyncClient::textRecord(u"over TLS"_s, 1700000000);
        record.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
        const QJsonObject stored = a.pushed(record);
        QString host;
        a.uploadForm(SyncClient::md5Hex(payload), stored.value("file_id"_L1).toInteger(), &host);
        QVERIFY(host.startsWith("https://"_L1));
        QCOMPARE(a.upload(stored, payload).code(), 0);
        const HttpReply downloaded = b.download(stored);
        QCOMPARE(downloaded.status, 200);
        QCOMPARE(downloaded.body, payload);
    }
};

QTEST_GUILESS_MAIN(TestServerTls)
#include "tst_server_tls.moc"
