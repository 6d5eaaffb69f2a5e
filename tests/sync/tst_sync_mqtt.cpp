// Change notices through the real quillet-sync-server and its real mosquitto broker: what
// another device does on the service reaches this device's MqttManager and changes its store.
// (Another user cannot read these notices: tst_server_isolation.)
#include "RequestOutcome.h"
#include "TestDirs.h"
#include "TestFiles.h"
#include "store/PathHelper.h"
#include "store/Settings.h"
#include "sync/MqttManager.h"
#include "sync/SyncIdentity.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// A clip this device holds with its payload file, as a capture leaves it (already synced).
void holdClip(const QString &text, qint64 timestamp, bool favourite = false)
{
    HistoryModel clip;
    clip.content = text;
    clip.file_hash = md5_hex(text);
    clip.type = u"text_txt"_s;
    clip.timestamp = timestamp;
    clip.local_file_ok = 1;
    clip.favourite = favourite ? timestamp : 0;
    clip.save();
    if (favourite) {
        clip.category = Category::favourite;
        clip.save();
    }
    QVERIFY(TestFiles::write(PathHelper::getBaseFilePath(md5_hex(text)), text.toUtf8()));
}

bool goes(const QString &text, const QString &category = Category::history)
{
    return QTest::qWaitFor([&] { return !storedClip(text, category).isExist(); }, 5000);
}

} // namespace

class TestSyncMqtt final : public QObject
{
    Q_OBJECT

    TestDirs m_dirs;
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
        QVERIFY(m_server.start());
        qputenv("QUILLET_MQTT_HOST", "127.0.0.1");
        qputenv("QUILLET_MQTT_PORT", QByteArray::number(m_server.mqttPort()));
    }

    void init()
    {
        m_other = freshAccount(m_server, u"notice%1@example.org"_s.arg(++m_users));
        QVERIFY(m_other);
        testSync().notices().connect();
        QVERIFY(QTest::qWaitFor([] { return testSync().notices().isSubscribed(); }, 5000));
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
        SyncClient self(m_server.origin(), currentDeviceToken());
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

    void clearElsewhereKeepsFavouritesAndNewerClips()
    {
        holdClip(u"old clip"_s, 1700000020);
        holdClip(u"old favourite"_s, 1700000021, true);
        holdClip(u"newer clip"_s, QDateTime::currentSecsSinceEpoch() + 3600);
        QCOMPARE(m_other->get(u"/clear_history/"_s).code(), 0);
        QVERIFY(goes(u"old clip"_s));
        QVERIFY(storedClip(u"old favourite"_s).isExist());
        QVERIFY(storedClip(u"newer clip"_s).isExist());
    }

    // The notice of an upload elsewhere makes this device fetch the record it does not know,
    // then the file lane fetches the payload.
    void uploadElsewhereBringsThePayload()
    {
        const QString text = u"uploaded on the other device"_s;
        QCOMPARE(
            m_other->upload(m_other->pushed(SyncClient::textRecord(text, 1700000030)), text.toUtf8()).status,
            200);
        QVERIFY(QTest::qWaitFor([&] { return storedClip(text).local_file_ok.value_or(0) == 1; }, 10000));
        QCOMPARE(TestFiles::read(PathHelper::getBaseFilePath(md5_hex(text))), text.toUtf8());
    }

    void reconnectsAndSubscribesAgainAfterTheBrokerRestarts()
    {
        holdClip(u"after the outage"_s, 1700000050);
        QVERIFY(m_server.restartBroker());
        QVERIFY(QTest::qWaitFor([] { return !testSync().notices().isSubscribed(); }, 5000));
        QVERIFY(QTest::qWaitFor([] { return testSync().notices().isSubscribed(); }, 5000));
        deleteOn(*m_other, u"after the outage"_s);
        QVERIFY(goes(u"after the outage"_s));
    }

    // A favourite marked or withdrawn elsewhere arrives without a reconciliation; a decision
    // older than the one held here changes nothing.
    void favouritesElsewhereArriveLive()
    {
        const qint64 t = QDateTime::currentSecsSinceEpoch();
        holdClip(u"liked elsewhere"_s, 1700000060);
        holdClip(u"mine is later"_s, t + 100, true);
        const auto setElsewhere = [this](const QString &text, qint64 timestamp, qint64 mark) {
            QJsonObject record = m_other->pushed(SyncClient::textRecord(text, timestamp));
            record.insert(u"favourite"_s, mark);
            QCOMPARE(m_other->setFavourite(record).code(), 0);
        };
        setElsewhere(u"liked elsewhere"_s, 1700000060, t);
        QVERIFY(QTest::qWaitFor(
            [] { return storedClip(u"liked elsewhere"_s, Category::favourite).isExist(); }, 5000));
        QCOMPARE(storedClip(u"liked elsewhere"_s).favourite.value_or(0), t);
        setElsewhere(u"mine is later"_s, t + 100, -(t + 50));
        setElsewhere(u"liked elsewhere"_s, 1700000060, -(t + 1));
        QVERIFY(goes(u"liked elsewhere"_s, Category::favourite));
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
        const QByteArray port = qgetenv("QUILLET_MQTT_PORT");
        qputenv("QUILLET_MQTT_PORT", QByteArray::number(broker.serverPort()));
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
        qputenv("QUILLET_MQTT_PORT", port);
    }
};

QTEST_GUILESS_MAIN(TestSyncMqtt)
#include "tst_sync_mqtt.moc"
