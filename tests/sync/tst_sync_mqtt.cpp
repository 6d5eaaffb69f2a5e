// Change notices through the real quillet-sync-server (with TLS, certificates made by openssl)
// and its real mosquitto broker (a plain and a TLS listener): what another device does on the
// service reaches this device's MqttManager and changes its store; a broker that fails the TLS
// check never sees the device's account. (Another user cannot read these notices:
// tst_server_isolation.)
#include "RequestOutcome.h"
#include "TestCertificates.h"
#include "TestDirs.h"
#include "menu/ClipFixtures.h"
#include "store/PathHelper.h"
#include "sync/MqttBroker.h"
#include "sync/MqttManager.h"
#include "sync/SyncIdentity.h"
#include "sync/SyncServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// A clip this device holds with its payload file, as a capture leaves it (already synced).
void holdClip(const QString &text, qint64 timestamp, bool favourite = false)
{
    ClipFixtures::text(text, timestamp, Category::history, favourite ? timestamp : 0);
    if (favourite)
        ClipFixtures::text(text, timestamp, Category::favourite, timestamp);
}

bool goes(const QString &text, const QString &category = Category::history)
{
    return QTest::qWaitFor([&] { return !storedClip(text, category).isExist(); }, 10000);
}

bool useBroker(const QString &address)
{
    return MqttBroker::setStoredAddress(testSettings(), address);
}

} // namespace

class TestSyncMqtt final : public QObject
{
    Q_OBJECT

    TestDirs m_dirs;
    TestCertificates m_pki;
    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_other;
    int m_users = 0;

    // The device makes the clip known to the service and deletes it there.
    static void deleteOn(SyncClient &device, const QString &text)
    {
        QCOMPARE(device.deleteRecord(device.pushed(SyncClient::textRecord(text, 1700000000))).code(), 0);
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
    }

    void init()
    {
        QVERIFY(SyncServer::setStoredCAFile(testSettings(), m_pki.pem(u"ours"_s)));
        QVERIFY(useBroker(u"mqtt://127.0.0.1:%1"_s.arg(m_server.mqttPort())));
        m_other = freshAccount(m_server, u"notice%1@example.org"_s.arg(++m_users), m_pki.pem(u"ours"_s));
        QVERIFY(m_other);
        testSync().notices().connect();
        QVERIFY(QTest::qWaitFor([] { return testSync().notices().isSubscribed(); }, 10000));
    }

    void cleanup()
    {
        QVERIFY(QTest::qWaitFor(lanesIdle, 20000));
        // Signing out closes the connection.
        testAccount().setLoginUserToken(std::nullopt);
        QVERIFY(QTest::qWaitFor([] { return !testSync().notices().isConnected(); }, 5000));
    }

    // A deletion elsewhere removes the history row and its file but not a favourite; this
    // device's own deletion, announced back to it, changes nothing here.
    void deletionsElsewhereAndOwnNotices()
    {
        holdClip(u"plain clip"_s, 1700000001);
        holdClip(u"liked clip"_s, 1700000002, true);
        holdClip(u"deleted by me"_s, 1700000003);
        // Requests with this device's token and sign-in: the service names this device.
        SyncClient self(m_server.origin(), currentDeviceToken(), m_pki.pem(u"ours"_s));
        self.setUserToken(testAccount().loginUserToken());
        deleteOn(self, u"deleted by me"_s);
        deleteOn(*m_other, u"plain clip"_s);
        deleteOn(*m_other, u"liked clip"_s);
        // Notices of one topic arrive in order: once the last is applied, the others were seen.
        QVERIFY(goes(u"liked clip"_s));
        QVERIFY(!storedClip(u"plain clip"_s).isExist());
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(md5_hex(u"plain clip"_s))));
        QVERIFY(storedClip(u"liked clip"_s, Category::favourite).isExist());
        QVERIFY(QFile::exists(PathHelper::getBaseFilePath(md5_hex(u"liked clip"_s))));
        QVERIFY(storedClip(u"deleted by me"_s).isExist());
    }

    // A clear elsewhere keeps favourites and newer clips; it arrives through a trusted TLS
    // broker too, and a moved broker address is followed at once.
    void clearElsewhereOverPlainAndTls()
    {
        holdClip(u"old clip"_s, 1700000020);
        holdClip(u"old favourite"_s, 1700000021, true);
        holdClip(u"newer clip"_s, QDateTime::currentSecsSinceEpoch() + 3600);
        QCOMPARE(m_other->get(u"/clear_history/"_s).code(), 0);
        QVERIFY(goes(u"old clip"_s));
        QVERIFY(storedClip(u"old favourite"_s).isExist());
        QVERIFY(storedClip(u"newer clip"_s).isExist());

        QVERIFY(useBroker(u"mqtts://127.0.0.1:%1"_s.arg(m_server.mqttTlsPort())));
        testSync().notices().reconnectIfMoved();
        QVERIFY(QTest::qWaitFor([] { return testSync().notices().isSubscribed(); }, 10000));
        holdClip(u"cleared over TLS"_s, 1700000022);
        QCOMPARE(m_other->get(u"/clear_history/"_s).code(), 0);
        QVERIFY(goes(u"cleared over TLS"_s));
    }

    void reconnectsAndSubscribesAgainAfterTheBrokerRestarts()
    {
        holdClip(u"after the outage"_s, 1700000050);
        QVERIFY(m_server.restartBroker());
        QVERIFY(QTest::qWaitFor([] { return !testSync().notices().isSubscribed(); }, 5000));
        QVERIFY(QTest::qWaitFor([] { return testSync().notices().isSubscribed(); }, 10000));
        deleteOn(*m_other, u"after the outage"_s);
        QVERIFY(goes(u"after the outage"_s));
    }

    // A favourite withdrawn elsewhere goes without a reconciliation; a decision older than the
    // one held here changes nothing (a mark arriving: tst_two_devices).
    void favouritesElsewhereArriveLive()
    {
        const qint64 t = QDateTime::currentSecsSinceEpoch();
        holdClip(u"unmarked elsewhere"_s, t, true);
        holdClip(u"mine is later"_s, t + 100, true);
        const auto setElsewhere = [this](const QString &text, qint64 timestamp, qint64 mark) {
            QJsonObject record = m_other->pushed(SyncClient::textRecord(text, timestamp));
            record.insert(u"favourite"_s, mark);
            QCOMPARE(m_other->setFavourite(record).code(), 0);
        };
        setElsewhere(u"mine is later"_s, t + 100, -(t + 50));
        setElsewhere(u"unmarked elsewhere"_s, t, -(t + 1));
        QVERIFY(goes(u"unmarked elsewhere"_s, Category::favourite));
        QCOMPARE(storedClip(u"mine is later"_s, Category::favourite).favourite.value_or(0), t + 100);
    }

    // While signed out nothing connects to the broker: at the next sign-in, the sign-in's
    // connection is the first the broker sees.
    void signedOutNoBrokerConnectionIsTried()
    {
        QTcpServer broker;
        QVERIFY(broker.listen(QHostAddress::LocalHost));
        int arrived = 0;
        QByteArray received;
        connect(&broker, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket *socket = broker.nextPendingConnection()) {
                ++arrived;
                connect(socket, &QTcpSocket::readyRead, this,
                        [&received, socket] { received += socket->readAll(); });
            }
        });
        QVERIFY(useBroker(u"mqtt://127.0.0.1:%1"_s.arg(broker.serverPort())));
        testAccount().setLoginUserToken(std::nullopt);
        QVERIFY(QTest::qWaitFor([] { return !testSync().notices().isConnected(); }, 5000));
        testSync().notices().connect(); // a wake from sleep while signed out
        QCOMPARE(registerAccount(u"later%1@example.org"_s.arg(m_users), u"pw"_s).code(), 0);
        const QByteArray password = Settings::brokerPassword().value_or(QString()).toUtf8();
        QVERIFY(!password.isEmpty());
        testSync().notices().connect();
        QVERIFY(QTest::qWaitFor([&] { return received.contains(password); }, 5000));
        QCOMPARE(arrived, 1);
        testSync().notices().close();
    }

    // Nothing stored: the service's host, with TLS for an https service; a stored address
    // needs an mqtt(s) scheme, a port and nothing else.
    void brokerAddressesAreChecked()
    {
        QVERIFY(useBroker(QString()));
        QCOMPARE(MqttBroker::current().address(), u"mqtts://127.0.0.1:8883"_s);
        QVERIFY(useBroker(u" MQTT://[::1]:1884/ "_s));
        QCOMPARE(MqttBroker::current(), (MqttBroker::Endpoint{u"::1"_s, 1884, false}));
        for (const char *bad :
             {"broker.example.org:1883", "https://b.example.org:8883", "mqtts://b.example.org",
              "mqtt://b.example.org:65536", "mqtt://b.example.org:1/t", "mqtt://user:pw@b.example.org:1883"})
            QVERIFY2(!useBroker(QLatin1String(bad)), bad);
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
        QVERIFY(useBroker(u"mqtts://%1:%2"_s.arg(host).arg(m_server.mqttTlsPort())));
        // A CONNECT shows in the broker's log as "... as CLIENT-ID", this device's token: so was
        // the plain connection of init().
        const QByteArray connected = QByteArray(" as ") + currentDeviceToken().toUtf8();
        QVERIFY(m_server.brokerLog().contains(connected));
        const qsizetype logStart = m_server.brokerLog().size();
        testSync().notices().reconnectIfMoved();
        // The broker saw the handshake fail, and no CONNECT came.
        QVERIFY(QTest::qWaitFor([&] { return m_server.brokerLog().mid(logStart).contains("OpenSSL Error"); },
                                10000));
        QVERIFY(!m_server.brokerLog().mid(logStart).contains(connected));
        QVERIFY(!testSync().notices().isConnected());
    }
};

QTEST_GUILESS_MAIN(TestSyncMqtt)
#include "tst_sync_mqtt.moc"
