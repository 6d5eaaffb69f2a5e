// Change notices through the real quillet-sync-server and its real mosquitto broker: what
// another device does on the service reaches this device's MqttManager and changes its store.
#include "MqttListener.h"
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "SyncClient.h"
#include "TestDirs.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryModel.h"
#include "store/PathHelper.h"
#include "support/Md5.h"
#include "sync/AccountRequests.h"
#include "sync/FileService.h"
#include "sync/HistoryService.h"
#include "sync/MqttManager.h"
#include "sync/SyncIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace {

const QString kPassword = QStringLiteral("secret password");

HistoryModel row(const QString &text, const QString &category = Category::history)
{
    HistoryModel clip;
    clip.file_hash = md5_hex(text);
    clip.category = category;
    clip.fetch();
    return clip;
}

// A clip this device holds with its payload file, as a capture leaves it (already synced).
void holdClip(const QString &text, qint64 timestamp, bool favourite = false)
{
    HistoryModel clip;
    clip.content = text;
    clip.file_hash = md5_hex(text);
    clip.type = QStringLiteral("text_txt");
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
    const QString path = PathHelper::getBaseFilePath(md5_hex(text));
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
        const HttpReply pushed = device.pushRecord(SyncClient::textRecord(text, 1700000000));
        QCOMPARE(pushed.code(), 0);
        const qint64 id = pushed.json.value(QStringLiteral("history"))
                              .toObject()
                              .value(QStringLiteral("history_id"))
                              .toInteger();
        QCOMPARE(device.del(QStringLiteral("/push/"), QStringLiteral("&history_id=%1").arg(id)).code(), 0);
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
        m_email = QStringLiteral("notice%1@example.org").arg(++m_users);
        auto registration = std::make_shared<RegisterRequestManager>();
        registration->setUsername(m_email);
        registration->setPwdHash(md5_hex(kPassword));
        QCOMPARE(sendAndWait(registration).code(), 0);
        QVERIFY(ConfigureManager::sharedInstance().isLogined());
        m_other = std::make_unique<SyncClient>(m_server.origin(), QStringLiteral("other-device"));
        QCOMPARE(m_other->login(m_email, kPassword).code(), 0);

        MqttManager::sharedInstance().connect();
        QVERIFY(QTest::qWaitFor([] { return MqttManager::sharedInstance().isSubscribed(); }, 5000));
    }

    void cleanup()
    {
        QVERIFY(QTest::qWaitFor([] { return !HistoryService::sharedInstance().isRunning(); }, 20000));
        QVERIFY(QTest::qWaitFor([] { return !FileService::sharedInstance().isRunning(); }, 20000));
        // Signing out closes the connection.
        ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
        QVERIFY(QTest::qWaitFor([] { return !MqttManager::sharedInstance().isConnected(); }, 5000));
    }

    void deletionElsewhereRemovesTheHistoryRowButNotTheFavourite()
    {
        holdClip(QStringLiteral("plain clip"), 1700000001);
        holdClip(QStringLiteral("liked clip"), 1700000002, true);

        otherDeletes(*m_other, QStringLiteral("plain clip"));
        otherDeletes(*m_other, QStringLiteral("liked clip"));

        // No pull: the notices alone do it.
        QVERIFY(QTest::qWaitFor([] { return !row(QStringLiteral("liked clip")).isExist(); }, 5000));
        QVERIFY(!row(QStringLiteral("plain clip")).isExist());
        QVERIFY(!QFileInfo::exists(PathHelper::getBaseFilePath(md5_hex(QStringLiteral("plain clip")))));
        // The favourite row, and so its payload, stays.
        QVERIFY(row(QStringLiteral("liked clip"), Category::favourite).isExist());
        QCOMPARE(fileBytes(PathHelper::getBaseFilePath(md5_hex(QStringLiteral("liked clip")))),
                 QByteArray("liked clip"));
    }

    void ownNoticesChangeNothing()
    {
        holdClip(QStringLiteral("deleted by me"), 1700000010);
        holdClip(QStringLiteral("deleted elsewhere"), 1700000011);
        // The same user on a connection that carries this device's token: the service
        // announces its deletion as caused by this device.
        SyncClient self(m_server.origin(), currentDeviceToken());
        QCOMPARE(self.login(m_email, kPassword).code(), 0);
        otherDeletes(self, QStringLiteral("deleted by me"));
        otherDeletes(*m_other, QStringLiteral("deleted elsewhere"));

        // Notices of one topic arrive in order: once the second is applied, the first was seen.
        QVERIFY(QTest::qWaitFor([] { return !row(QStringLiteral("deleted elsewhere")).isExist(); }, 5000));
        QVERIFY(row(QStringLiteral("deleted by me")).isExist());
        QCOMPARE(fileBytes(PathHelper::getBaseFilePath(md5_hex(QStringLiteral("deleted by me")))),
                 QByteArray("deleted by me"));
    }

    void clearElsewhereKeepsFavouritesAndNewerClips()
    {
        holdClip(QStringLiteral("old clip"), 1700000020);
        holdClip(QStringLiteral("old favourite"), 1700000021, true);
        // Captured here after the clear happened on the service.
        holdClip(QStringLiteral("newer clip"), QDateTime::currentSecsSinceEpoch() + 3600);

        QCOMPARE(m_other->get(QStringLiteral("/clear_history/")).code(), 0);

        QVERIFY(QTest::qWaitFor([] { return !row(QStringLiteral("old clip")).isExist(); }, 5000));
        QVERIFY(row(QStringLiteral("old favourite")).isExist());
        QVERIFY(row(QStringLiteral("newer clip")).isExist());
        QVERIFY(!QFileInfo::exists(PathHelper::getBaseFilePath(md5_hex(QStringLiteral("old clip")))));
    }

    void uploadElsewhereFetchesTheUnknownClipAndItsPayload()
    {
        const QString text = QStringLiteral("uploaded on the other device");
        const HttpReply pushed = m_other->pushRecord(SyncClient::textRecord(text, 1700000030));
        QCOMPARE(pushed.code(), 0);
        const QJsonObject remote = pushed.json.value(QStringLiteral("history")).toObject();
        QVERIFY(!row(text).isExist());

        QCOMPARE(
            m_other->upload(md5_hex(text), remote.value(QStringLiteral("file_id")).toInteger(), text.toUtf8())
                .status,
            200);

        // The notice makes this device fetch the record, then the file lane fetches its payload.
        QVERIFY(QTest::qWaitFor([&] { return row(text).local_file_ok.value_or(0) == 1; }, 10000));
        const HistoryModel fetched = row(text);
        QCOMPARE(fetched.history_id.value_or(0), int(remote.value(QStringLiteral("history_id")).toInteger()));
        QCOMPARE(fetched.file_ready.value_or(0), 1);
        QCOMPARE(fileBytes(PathHelper::getBaseFilePath(md5_hex(text))), text.toUtf8());
    }

    void uploadElsewhereCompletesAKnownClip()
    {
        // Pulled here before its payload was uploaded: known, not ready, no file id yet.
        const QString text = QStringLiteral("pulled before its upload");
        const HttpReply pushed = m_other->pushRecord(SyncClient::textRecord(text, 1700000060));
        QCOMPARE(pushed.code(), 0);
        const QJsonObject remote = pushed.json.value(QStringLiteral("history")).toObject();
        HistoryModel known;
        known.content = text;
        known.file_hash = md5_hex(text);
        known.type = QStringLiteral("text_txt");
        known.timestamp = 1700000060;
        known.history_id = int(remote.value(QStringLiteral("history_id")).toInteger());
        known.file_id = 0;
        known.file_ready = 0;
        known.local_file_ok = 0;
        known.save();

        const qint64 fileId = remote.value(QStringLiteral("file_id")).toInteger();
        QCOMPARE(m_other->upload(md5_hex(text), fileId, text.toUtf8()).status, 200);

        QVERIFY(QTest::qWaitFor([&] { return row(text).local_file_ok.value_or(0) == 1; }, 10000));
        const HistoryModel completed = row(text);
        QCOMPARE(completed.history_id, known.history_id);
        QCOMPARE(completed.file_id.value_or(0), int(fileId));
        QCOMPARE(completed.file_ready.value_or(0), 1);
        QCOMPARE(fileBytes(PathHelper::getBaseFilePath(md5_hex(text))), text.toUtf8());
    }

    void reconnectsAndSubscribesAgainAfterTheBrokerRestarts()
    {
        holdClip(QStringLiteral("after the outage"), 1700000050);
        QVERIFY(m_server.restartBroker());
        // The loop notices the loss, reconnects by itself within about a second and subscribes
        // again on the new connection.
        QDeadlineTimer deadline(5000);
        QVERIFY(QTest::qWaitFor([] { return !MqttManager::sharedInstance().isSubscribed(); }, 5000));
        QVERIFY(QTest::qWaitFor([] { return MqttManager::sharedInstance().isSubscribed(); }, 5000));
        QVERIFY(!deadline.hasExpired());

        otherDeletes(*m_other, QStringLiteral("after the outage"));
        QVERIFY(QTest::qWaitFor([] { return !row(QStringLiteral("after the outage")).isExist(); }, 5000));
    }

    void anotherUserCannotReadTheseNotices()
    {
        holdClip(QStringLiteral("private clip"), 1700000040);
        SyncClient intruder(m_server.origin(), QStringLiteral("intruder-device"));
        QCOMPARE(
            intruder.registerUser(QStringLiteral("intruder%1@example.org").arg(m_users), kPassword).code(),
            0);
        const QString victimTopic =
            QStringLiteral("user_id_") + ConfigureManager::sharedInstance().loginUserId();
        const QString intruderTopic = QStringLiteral("user_id_") + QString::number(intruder.userId());

        // Neither this user's broker name with a guessed password nor the shared fallback pair
        // is let in.
        MqttListener guessed;
        QVERIFY(guessed.connect(m_server.mqttPort(), m_other->mqttUser(), QStringLiteral("guess")) != 0);
        MqttListener shared;
        QVERIFY(shared.connect(m_server.mqttPort(), QStringLiteral("pubclient"), QStringLiteral("3c9e5a17"))
                != 0);

        // Another user's own account may ask for this user's topic but is handed nothing of it.
        MqttListener listener;
        QCOMPARE(listener.connect(m_server.mqttPort(), intruder.mqttUser(), intruder.mqttPassword()), 0);
        listener.subscribe(victimTopic);
        QCOMPARE(listener.subscribe(intruderTopic), 1);

        otherDeletes(*m_other, QStringLiteral("private clip"));
        QVERIFY(QTest::qWaitFor([] { return !row(QStringLiteral("private clip")).isExist(); }, 5000));
        // The intruder's own notice comes after this user's: once it is in, the other would be too.
        otherDeletes(intruder, QStringLiteral("intruder clip"));
        QVERIFY(listener.waitFor([](const MqttListener::Message &m) {
            return m.json.value(QStringLiteral("data"))
                       .toObject()
                       .value(QStringLiteral("file_hash"))
                       .toString()
                   == md5_hex(QStringLiteral("intruder clip"));
        }));
        for (const MqttListener::Message &message : listener.messages())
            QCOMPARE(message.topic, intruderTopic);
    }
};

QTEST_GUILESS_MAIN(TestSyncMqtt)
#include "tst_sync_mqtt.moc"
