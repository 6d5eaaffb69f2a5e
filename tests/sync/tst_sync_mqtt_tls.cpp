// The notice broker's address and TLS, against the real quillet-sync-server with a TLS listener
// on its real mosquitto broker (certificates made by openssl): notices arrive through a broker
// the device trusts; a broker that fails the check never sees the device's account.
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "SyncClient.h"
#include "TestCertificates.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "store/HistoryModel.h"
#include "support/Md5.h"
#include "sync/MqttBroker.h"
#include "sync/MqttManager.h"
#include "sync/SyncIdentity.h"
#include "sync/SyncServer.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class TestSyncMqttTls final : public QObject
{
    Q_OBJECT

    TestDirs m_dirs;
    TestCertificates m_pki;
    ServerHarness m_server;

    // Another device clears the history; true once the notice removed this device's clip.
    bool clearElsewhereArrives(const QString &text)
    {
        HistoryModel clip;
        clip.content = text;
        clip.file_hash = md5_hex(text);
        clip.timestamp = 1700000000;
        clip.save();
        SyncClient other(m_server.origin(), u"other-device"_s, m_pki.pem(u"ours"_s));
        return other.login(u"tls@example.org"_s, u"pw"_s).code() == 0
               && other.get(u"/clear_history/"_s).code() == 0
               && QTest::qWaitFor([&] { return clip.fetch(), !clip.isExist(); }, 10000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_pki.makeAuthority(u"ours"_s) && m_pki.makeAuthority(u"theirs"_s));
        QVERIFY(m_pki.makeServer(u"server"_s, u"ours"_s, u"IP:127.0.0.1"_s));
        ServerHarness::Options options;
        options.tlsCert = m_pki.pem(u"server"_s);
        options.tlsKey = m_pki.key(u"server"_s);
        options.brokerTls = options.brokerLog = true;
        QVERIFY(m_server.start(options));
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
        QVERIFY(SyncServer::setStoredCAFile(testSettings(), m_pki.pem(u"ours"_s)));
        QCOMPARE(registerAccount(u"tls@example.org"_s, u"pw"_s).code(), 0);
    }

    void cleanup() { testSync().notices().close(); }

    // Nothing stored: the service's host, with TLS for an https service; a stored address
    // needs an mqtt(s) scheme, a port and nothing else.
    void addressesAreCheckedAndDefaultToTheServiceHost()
    {
        QCOMPARE(MqttBroker::current().address(), u"mqtts://127.0.0.1:8883"_s);
        QVERIFY(MqttBroker::setStoredAddress(testSettings(), u" MQTT://[::1]:1884/ "_s));
        QCOMPARE(MqttBroker::current(), (MqttBroker::Endpoint{u"::1"_s, 1884, false}));
        for (const char *bad :
             {"broker.example.org:1883", "https://b.example.org:8883", "mqtts://b.example.org",
              "mqtt://b.example.org:65536", "mqtt://b.example.org:1/t", "mqtt://user:pw@b.example.org:1883"})
            QVERIFY2(!MqttBroker::setStoredAddress(testSettings(), QLatin1String(bad)), bad);
    }

    void trustedBrokerDeliversNoticesAndAMoveIsFollowed()
    {
        MqttManager &mqtt = testSync().notices();
        QVERIFY(MqttBroker::setStoredAddress(testSettings(),
                                             u"mqtts://127.0.0.1:%1"_s.arg(m_server.mqttTlsPort())));
        mqtt.connect();
        QVERIFY(QTest::qWaitFor([&] { return mqtt.isSubscribed(); }, 10000));
        QVERIFY(clearElsewhereArrives(u"cleared over TLS"_s));
        // A moved broker is followed at once.
        QVERIFY(
            MqttBroker::setStoredAddress(testSettings(), u"mqtt://127.0.0.1:%1"_s.arg(m_server.mqttPort())));
        mqtt.reconnectIfMoved();
        QVERIFY(QTest::qWaitFor([&] { return mqtt.isSubscribed(); }, 10000));
        QVERIFY(clearElsewhereArrives(u"cleared over plain MQTT"_s));
    }

    void failedVerificationNeverSendsTheAccount_data()
    {
        QTest::addColumn<QString>("authority");
        QTest::addColumn<QString>("host");
        QTest::newRow("another authority") << u"theirs"_s << u"127.0.0.1"_s;
        QTest::newRow("another host name") << u"ours"_s << u"localhost"_s;
    }

    void failedVerificationNeverSendsTheAccount()
    {
        QFETCH(QString, authority);
        QFETCH(QString, host);
        QVERIFY(SyncServer::setStoredCAFile(testSettings(), m_pki.pem(authority)));
        QVERIFY(MqttBroker::setStoredAddress(testSettings(),
                                             u"mqtts://%1:%2"_s.arg(host).arg(m_server.mqttTlsPort())));
        const qsizetype logStart = m_server.brokerLog().size();
        testSync().notices().connect();
        // The broker saw the handshake fail, and no CONNECT (which names this device) came.
        QVERIFY(QTest::qWaitFor([&] { return m_server.brokerLog().mid(logStart).contains("OpenSSL Error"); },
                                10000));
        QVERIFY(!m_server.brokerLog().mid(logStart).contains(currentDeviceToken().toUtf8()));
        QVERIFY(!testSync().notices().isConnected());
    }
};

QTEST_GUILESS_MAIN(TestSyncMqttTls)
#include "tst_sync_mqtt_tls.moc"
