// The notice broker's address and TLS: the real quillet-sync-server with a TLS listener on its
// real mosquitto broker, certificates made by openssl. A device that trusts the broker's
// authority gets notices through it; a broker that fails the check (another authority, another
// host name) never sees the device's account.
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "SyncClient.h"
#include "TestCertificates.h"
#include "TestDirs.h"
#include "store/ClipUserDefaults.h"
#include "store/HistoryModel.h"
#include "store/SettingsKeys.h"
#include "support/Md5.h"
#include "sync/AccountRequests.h"
#include "sync/MqttBroker.h"
#include "sync/MqttManager.h"
#include "sync/SyncIdentity.h"
#include "sync/SyncServer.h"

#include <QtTest>

#include <mutex>

namespace {

const QString kPassword = QStringLiteral("secret password");

std::mutex g_logMutex;
QStringList g_log;
QtMessageHandler g_previousHandler = nullptr;

// Keeps every message the program logs (the library's thread logs too).
void keepMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        std::lock_guard lock(g_logMutex);
        g_log << message;
    }
    g_previousHandler(type, context, message);
}

bool logMentions(const QString &text)
{
    std::lock_guard lock(g_logMutex);
    return std::any_of(g_log.cbegin(), g_log.cend(),
                       [&](const QString &line) { return line.contains(text); });
}

bool hasRow(const QString &text)
{
    HistoryModel clip;
    clip.file_hash = md5_hex(text);
    clip.category = Category::history;
    return clip.fetch(), clip.isExist();
}

} // namespace

class TestSyncMqttTls final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    TestCertificates m_certificates;
    ServerHarness m_server;

    QString tlsAddress(const QString &host) const
    {
        return QStringLiteral("mqtts://%1:%2").arg(host).arg(m_server.mqttTlsPort());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_certificates.makeAuthority(QStringLiteral("ours")));
        QVERIFY(m_certificates.makeAuthority(QStringLiteral("theirs")));
        QVERIFY(m_certificates.makeServer(QStringLiteral("server"), QStringLiteral("ours"),
                                          QStringLiteral("IP:127.0.0.1")));
        ServerHarness::Options options;
        options.tlsCert = m_certificates.pem(QStringLiteral("server"));
        options.tlsKey = m_certificates.key(QStringLiteral("server"));
        options.brokerTls = true;
        options.brokerLog = true;
        QVERIFY(m_server.start(options));
        qunsetenv("QUILLET_MQTT_HOST");
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
        QVERIFY(SyncServer::setStoredCAFile(m_certificates.pem(QStringLiteral("ours"))));

        auto registration = std::make_shared<RegisterRequestManager>();
        registration->setUsername(QStringLiteral("tls-notices@example.org"));
        registration->setPwdHash(md5_hex(kPassword));
        QCOMPARE(sendAndWait(registration).code(), 0);
        QVERIFY(ClipUserDefaults::contains(QLatin1String(SettingsKeys::mqttPassword)));
        g_previousHandler = qInstallMessageHandler(keepMessage);
    }

    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }

    void cleanup() { MqttManager::sharedInstance().close(); }

    void addressesAreCheckedAndDefaultToTheServiceHost()
    {
        // With nothing stored, the https service's host on the standard TLS port.
        QVERIFY(MqttBroker::setStoredAddress(QString()));
        QCOMPARE(MqttBroker::current().address(), QStringLiteral("mqtts://127.0.0.1:8883"));
        qputenv("QUILLET_API_URL", "http://sync.example.org:8888/api");
        QCOMPARE(MqttBroker::current().address(), QStringLiteral("mqtt://sync.example.org:1883"));

        QVERIFY(MqttBroker::setStoredAddress(QStringLiteral(" MQTTS://Broker.Example.org:9883/ ")));
        QCOMPARE(MqttBroker::storedAddress(), QStringLiteral("mqtts://broker.example.org:9883"));
        QVERIFY(MqttBroker::setStoredAddress(QStringLiteral("mqtt://[::1]:1884")));
        QCOMPARE(MqttBroker::current(), (MqttBroker::Endpoint{QStringLiteral("::1"), 1884, false}));
        for (const char *bad : {"broker.example.org:1883", "https://broker.example.org:8883",
                                "mqtts://broker.example.org", "mqtt://broker.example.org:0",
                                "mqtt://broker.example.org:65536", "mqtt://broker.example.org:1883/topic",
                                "mqtt://user:pw@broker.example.org:1883", "mqtts://:8883"}) {
            QVERIFY2(!MqttBroker::setStoredAddress(QLatin1String(bad)), bad);
            QCOMPARE(MqttBroker::storedAddress(), QStringLiteral("mqtt://[::1]:1884"));
        }

        // The environment wins; its TLS switch picks the standard TLS port.
        qputenv("QUILLET_MQTT_HOST", "env.example.org");
        qputenv("QUILLET_MQTT_TLS", "1");
        QCOMPARE(MqttBroker::current().address(), QStringLiteral("mqtts://env.example.org:8883"));
        qunsetenv("QUILLET_MQTT_HOST");
        qunsetenv("QUILLET_MQTT_TLS");
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
    }

    void trustedBrokerDeliversNoticesAndAMoveIsFollowed()
    {
        QVERIFY(MqttBroker::setStoredAddress(tlsAddress(QStringLiteral("127.0.0.1"))));
        MqttManager &mqtt = MqttManager::sharedInstance();
        mqtt.connect();
        QVERIFY(QTest::qWaitFor([&] { return mqtt.isSubscribed(); }, 10000));
        QVERIFY(m_server.brokerLog().contains(currentDeviceToken().toUtf8()));

        const auto deletedElsewhere = [this](const QString &text) {
            HistoryModel clip;
            clip.content = text;
            clip.file_hash = md5_hex(text);
            clip.type = QStringLiteral("text_txt");
            clip.timestamp = 1700000000;
            clip.save();
            SyncClient other(m_server.origin(), QStringLiteral("other-device"),
                             m_certificates.pem(QStringLiteral("ours")));
            QCOMPARE(other.login(QStringLiteral("tls-notices@example.org"), kPassword).code(), 0);
            const HttpReply pushed = other.pushRecord(SyncClient::textRecord(text, 1700000000));
            const qint64 id = pushed.json.value(QStringLiteral("history"))
                                  .toObject()
                                  .value(QStringLiteral("history_id"))
                                  .toInteger();
            QCOMPARE(other.del(QStringLiteral("/push/"), QStringLiteral("&history_id=%1").arg(id)).code(), 0);
            QVERIFY(QTest::qWaitFor([&] { return !hasRow(text); }, 10000));
        };
        deletedElsewhere(QStringLiteral("deleted over TLS"));

        // The broker moves to its plain listener while connected: the client follows at once.
        mqtt.reconnectIfMoved();
        QVERIFY(mqtt.isSubscribed());
        QVERIFY(MqttBroker::setStoredAddress(QStringLiteral("mqtt://127.0.0.1:%1").arg(m_server.mqttPort())));
        mqtt.reconnectIfMoved();
        QCOMPARE(mqtt.broker().port, m_server.mqttPort());
        QVERIFY(QTest::qWaitFor([&] { return mqtt.isSubscribed(); }, 10000));
        deletedElsewhere(QStringLiteral("deleted over plain MQTT"));
    }

    void failedVerificationNeverSendsTheAccount_data()
    {
        QTest::addColumn<QString>("authority");
        QTest::addColumn<QString>("host");
        QTest::newRow("another authority") << QStringLiteral("theirs") << QStringLiteral("127.0.0.1");
        QTest::newRow("another host name") << QStringLiteral("ours") << QStringLiteral("localhost");
    }

    void failedVerificationNeverSendsTheAccount()
    {
        QFETCH(QString, authority);
        QFETCH(QString, host);
        QVERIFY(SyncServer::setStoredCAFile(m_certificates.pem(authority)));
        QVERIFY(MqttBroker::setStoredAddress(tlsAddress(host)));
        {
            std::lock_guard lock(g_logMutex);
            g_log.clear();
        }
        const qsizetype brokerLogBefore = m_server.brokerLog().size();

        MqttManager::sharedInstance().connect();
        // The refusal is logged by the client, and the broker saw the handshake fail.
        QVERIFY(
            QTest::qWaitFor([] { return logMentions(QStringLiteral("certificate verify failed")); }, 10000));
        QVERIFY(QTest::qWaitFor(
            [&] { return m_server.brokerLog().mid(brokerLogBefore).contains("OpenSSL Error"); }, 10000));
        QVERIFY(!MqttManager::sharedInstance().isConnected());
        // No CONNECT reached the broker: it never logged this device's client id.
        QVERIFY(!m_server.brokerLog().mid(brokerLogBefore).contains(currentDeviceToken().toUtf8()));
        const QString password =
            ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::mqttPassword)).value_or(QString());
        QVERIFY(!password.isEmpty());
        QVERIFY(!logMentions(password));
        QVERIFY(SyncServer::setStoredCAFile(m_certificates.pem(QStringLiteral("ours"))));
    }
};

QTEST_GUILESS_MAIN(TestSyncMqttTls)
#include "tst_sync_mqtt_tls.moc"
