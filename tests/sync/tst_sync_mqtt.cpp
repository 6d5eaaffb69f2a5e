// Change notices through the real quillet-sync-server and its real mosquitto broker: what
// another device does on the service reaches this device's MqttManager and changes its store.
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "SyncClient.h"
#include "TestDirs.h"
#include "TestFiles.h"
#include "TestSync.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryModel.h"
#include "store/PathHelper.h"
#include "store/Settings.h"
#include "support/Md5.h"
#include "sync/AccountRequests.h"
#include "sync/MqttManager.h"
#include "sync/SyncIdentity.h"

#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString kPassword = u"secret password"_s;

// A clip this device holds with its payload file, as a capture leaves it (already synced).
void holdClip(const QString &text, qint64 timestamp, bool favourite = false)
{
    HistoryModel clip;
    clip.content = text;
    clip.file_hash = md5_hex(text);
    clip.type = u"text_txt"_s;
    clip.timestamp = timestamp;
    clip.local_file_ok = 1;
    clip.file_size = double(text.toUtf8().size());
    if (favourite)
        clip.favourite = timestamp;
    clip.save();
    if (favourite) {
        clip.category = Category::favourite;
        clip.save();
    }
    QVERIFY(TestFiles::write(PathHelper::getBaseFilePath(md5_hex(text)), text.toUtf8()));
}

// The payload file this device holds for the clip.
QByteArray payload(const QString &text)
{
    return TestFiles::read(PathHelper::getBaseFilePath(md5_hex(text)));
}

} // namespace

class TestSyncMqtt final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ServerHarness m_server;
    QString m_email;
    std::unique_ptr<SyncClient> m_other;
    int m_users = 0;

    // The other device makes the clip known to the service and deletes it there.
    void otherDeletes(SyncClient &device, const QString &text)
    {
        QCOMPARE(device.deleteRecord(device.pushed(SyncClient::textRecord(text, 1700000000))).code(), 0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
        qputenv("QUILLET_MQTT_HOST", "127.0.0.1");
        qputenv("QUILLET_MQTT_PORT", QByteArray::number(m_server.mqttPort()));
    }

    // A fresh account for every case: this device signed in and subscribed, another device too.
    void init()
    {
        m_email = u"notice%1@example.org"_s.arg(++m_users);
        QCOMPARE(registerAccount(m_email, kPassword).code(), 0);
        QVERIFY(testAccount().isSignedIn());
        m_other = std::make_unique<SyncClient>(m_server.origin(), u"other-device"_s);
        QCOMPARE(m_other->login(m_email, kPassword).code(), 0);

        testSync().notices().connect();
        QVERIFY(QTest::qWaitFor([] { return testSync().notices().isSubscribed(); }, 5000));
    }

    void cleanup()
    {
        QVERIFY(QTest::qWaitFor([] { return !testSync().historyLane().isRunning(); }, 20000));
        QVERIFY(QTest::qWaitFor([] { return !testSync().fileLane().isRunning(); }, 20000));
        // Signing out closes the connection.
        testAccount().setLoginUserToken(std::nullopt);
        QVERIFY(QTest::qWaitFor([] { return !testSync().notices().isConnected(); }, 5000));
    }

    void deletionElsewhereRemovesTheHistoryRowButNotTheFavourite()
    {
        holdClip(u"plain clip"_s, 1700000001);
        holdClip(u"liked clip"_s, 1700000002, true);

        otherDeletes(*m_other, u"plain clip"_s);
        otherDeletes(*m_other, u"liked clip"_s);

        // No pull: the notices alone do it.
        QVERIFY(QTest::qWaitFor([] { return !storedClip(u"liked clip"_s).isExist(); }, 5000));
        QVERIFY(!storedClip(u"plain clip"_s).isExist());
        QVERIFY(!QFileInfo::exists(PathHelper::getBaseFilePath(md5_hex(u"plain clip"_s))));
        // The favourite row, and so its payload, stays.
        QVERIFY(storedClip(u"liked clip"_s, Category::favourite).isExist());
        QCOMPARE(payload(u"liked clip"_s), QByteArray("liked clip"));
    }

    void ownNoticesChangeNothing()
    {
        holdClip(u"deleted by me"_s, 1700000010);
        holdClip(u"deleted elsewhere"_s, 1700000011);
        // Requests with this device's token and sign-in: the service announces the deletion as
        // caused by this device. (A new sign-in would end this device's sign-in and its broker
        // account's connection.)
        SyncClient self(m_server.origin(), currentDeviceToken());
        self.setUserToken(testAccount().loginUserToken());
        otherDeletes(self, u"deleted by me"_s);
        otherDeletes(*m_other, u"deleted elsewhere"_s);

        // Notices of one topic arrive in order: once the second is applied, the first was seen.
        QVERIFY(QTest::qWaitFor([] { return !storedClip(u"deleted elsewhere"_s).isExist(); }, 5000));
        QVERIFY(storedClip(u"deleted by me"_s).isExist());
        QCOMPARE(payload(u"deleted by me"_s), QByteArray("deleted by me"));
    }

    void clearElsewhereKeepsFavouritesAndNewerClips()
    {
        holdClip(u"old clip"_s, 1700000020);
        holdClip(u"old favourite"_s, 1700000021, true);
        // Captured here after the clear happened on the service.
        holdClip(u"newer clip"_s, QDateTime::currentSecsSinceEpoch() + 3600);

        QCOMPARE(m_other->get(u"/clear_history/"_s).code(), 0);

        QVERIFY(QTest::qWaitFor([] { return !storedClip(u"old clip"_s).isExist(); }, 5000));
        QVERIFY(storedClip(u"old favourite"_s).isExist());
        QVERIFY(storedClip(u"newer clip"_s).isExist());
        QVERIFY(!QFileInfo::exists(PathHelper::getBaseFilePath(md5_hex(u"old clip"_s))));
    }

    // The notice of an upload elsewhere makes this device fetch a record it does not know, then
    // the file lane fetches the payload; a record pulled before its upload is completed.
    void uploadElsewhereBringsThePayload_data()
    {
        QTest::addColumn<bool>("known");
        QTest::newRow("unknown clip") << false;
        QTest::newRow("pulled before its upload") << true;
    }
    void uploadElsewhereBringsThePayload()
    {
        QFETCH(bool, known);
        const QString text = known ? u"pulled before its upload"_s : u"uploaded on the other device"_s;
        const QJsonObject remote = m_other->pushed(SyncClient::textRecord(text, 1700000030));
        QVERIFY(!remote.isEmpty());
        if (known) {
            // Known here, not ready, no file id yet.
            HistoryModel clip;
            clip.content = text;
            clip.file_hash = md5_hex(text);
            clip.type = u"text_txt"_s;
            clip.timestamp = 1700000030;
            clip.history_id = int(remote.value("history_id"_L1).toInteger());
            clip.file_id = 0;
            clip.file_ready = 0;
            clip.local_file_ok = 0;
            clip.save();
        }
        QCOMPARE(storedClip(text).isExist(), known);
        QCOMPARE(m_other->upload(remote, text.toUtf8()).status, 200);

        QVERIFY(QTest::qWaitFor([&] { return storedClip(text).local_file_ok.value_or(0) == 1; }, 10000));
        const HistoryModel stored = storedClip(text);
        QCOMPARE(stored.history_id.value_or(0), int(remote.value("history_id"_L1).toInteger()));
        QCOMPARE(stored.file_id.value_or(0), int(remote.value("file_id"_L1).toInteger()));
        QCOMPARE(stored.file_ready.value_or(0), 1);
        QCOMPARE(payload(text), text.toUtf8());
    }

    void reconnectsAndSubscribesAgainAfterTheBrokerRestarts()
    {
        holdClip(u"after the outage"_s, 1700000050);
        QVERIFY(m_server.restartBroker());
        // The loop notices the loss, reconnects by itself within about a second and subscribes
        // again on the new connection.
        QDeadlineTimer deadline(5000);
        QVERIFY(QTest::qWaitFor([] { return !testSync().notices().isSubscribed(); }, 5000));
        QVERIFY(QTest::qWaitFor([] { return testSync().notices().isSubscribed(); }, 5000));
        QVERIFY(!deadline.hasExpired());

        otherDeletes(*m_other, u"after the outage"_s);
        QVERIFY(QTest::qWaitFor([] { return !storedClip(u"after the outage"_s).isExist(); }, 5000));
    }

    // A favourite marked or withdrawn on another device arrives without a reconciliation: a
    // clip held here becomes a favourite and stops being one; a clip new here arrives as a
    // favourite; an older decision than the one held here changes nothing.
    void favouritesElsewhereArriveLive()
    {
        holdClip(u"liked elsewhere"_s, 1700000060);
        QJsonObject held = m_other->pushed(SyncClient::textRecord(u"liked elsewhere"_s, 1700000060));
        const qint64 t = QDateTime::currentSecsSinceEpoch();
        held.insert(u"favourite"_s, t);
        QCOMPARE(m_other->setFavourite(held).code(), 0);
        QVERIFY(QTest::qWaitFor(
            [] { return storedClip(u"liked elsewhere"_s, Category::favourite).isExist(); }, 5000));
        QCOMPARE(storedClip(u"liked elsewhere"_s, Category::favourite).favourite.value_or(0), t);
        QCOMPARE(storedClip(u"liked elsewhere"_s).favourite.value_or(0), t);
        QCOMPARE(storedClip(u"liked elsewhere"_s, Category::favourite).history_id.value_or(0),
                 held.value("history_id"_L1).toInteger());

        held.insert(u"favourite"_s, -(t + 1));
        QCOMPARE(m_other->setFavourite(held).code(), 0);
        QVERIFY(QTest::qWaitFor(
            [] { return !storedClip(u"liked elsewhere"_s, Category::favourite).isExist(); }, 5000));
        QCOMPARE(storedClip(u"liked elsewhere"_s).favourite.value_or(0), 0);

        // Marked here later than the other device's decision: this device's stays.
        holdClip(u"mine is later"_s, t + 100, true);
        QJsonObject mine = m_other->pushed(SyncClient::textRecord(u"mine is later"_s, t + 100));
        mine.insert(u"favourite"_s, -(t + 50));
        QCOMPARE(m_other->setFavourite(mine).code(), 0);
        QJsonObject fresh = SyncClient::textRecord(u"new here, a favourite"_s, 1700000061);
        fresh = m_other->pushed(fresh);
        fresh.insert(u"favourite"_s, t + 2);
        QCOMPARE(m_other->setFavourite(fresh).code(), 0);
        // Notices arrive in order: once the last is applied, the one before it was seen.
        QVERIFY(QTest::qWaitFor(
            [] { return storedClip(u"new here, a favourite"_s, Category::favourite).isExist(); }, 5000));
        QCOMPARE(storedClip(u"new here, a favourite"_s, Category::favourite).favourite.value_or(0), t + 2);
        QCOMPARE(storedClip(u"mine is later"_s, Category::favourite).favourite.value_or(0), t + 100);
    }

    // Signing out as the user chose ends the sign-in on the service too: the old token pulls
    // nothing any more. The local history goes, as it always did.
    void signingOutEndsTheSignInOnTheService()
    {
        holdClip(u"before signing out"_s, 1700000070);
        const QString token = testAccount().loginUserToken();
        bool done = false;
        signOutOfService(testSync(), [&done] { done = true; });
        QVERIFY(QTest::qWaitFor([&done] { return done; }, 10000));
        QVERIFY(!testAccount().isSignedIn());
        QCOMPARE(DBKeeper::getAllHistory().size(), 0);
        SyncClient old(m_server.origin(), currentDeviceToken());
        old.setUserToken(token);
        QCOMPARE(old.pull(0).status, 401);
        QCOMPARE(m_other->pull(0).code(), 0);
    }

    // While signed out, nothing connects to the broker (a wake used to retry a fixed account
    // every second): at the next sign-in, the sign-in's connection is the first the broker sees.
    void signedOutNoBrokerConnectionIsTried()
    {
        QTcpServer broker;
        QVERIFY(broker.listen(QHostAddress::LocalHost));
        QList<QTcpSocket *> arrived;
        QByteArray received;
        connect(&broker, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket *socket = broker.nextPendingConnection()) {
                arrived << socket;
                connect(socket, &QTcpSocket::readyRead, this,
                        [&received, socket] { received += socket->readAll(); });
            }
        });
        const QByteArray port = qgetenv("QUILLET_MQTT_PORT");
        qputenv("QUILLET_MQTT_PORT", QByteArray::number(broker.serverPort()));
        testAccount().setLoginUserToken(std::nullopt);
        QVERIFY(QTest::qWaitFor([] { return !testSync().notices().isConnected(); }, 5000));

        testSync().notices().connect(); // a wake from sleep while signed out
        QCOMPARE(registerAccount(u"later%1@example.org"_s.arg(m_users), kPassword).code(), 0);
        const QByteArray password = Settings::brokerPassword().value_or(QString()).toUtf8();
        QVERIFY(!password.isEmpty());
        testSync().notices().connect();
        // The sign-in's CONNECT carries the account's broker password. Connections are taken in
        // the order they came, so one tried before would be counted by then.
        QVERIFY(QTest::qWaitFor([&] { return received.contains(password); }, 5000));
        QCOMPARE(arrived.size(), 1);
        QVERIFY(!received.contains("pubclient"));
        testSync().notices().close();
        qputenv("QUILLET_MQTT_PORT", port);
    }

    // Another user cannot read these notices: tst_server_isolation (brokerKeepsTopicsApart).
};

QTEST_GUILESS_MAIN(TestSyncMqtt)
#include "tst_sync_mqtt.moc"
