// Two users of one service: whatever ids, hashes or forms the second one sends, it can read,
// change, delete, download or upload nothing of the first, on any endpoint or on the broker.

#include "MqttListener.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

class TestServerIsolation final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recordsCannotBeReadOrChanged();
    void favouritesAreSeparate();
    void filesCannotBeFetchedOrReplaced();
    void clearTouchesOnlyOwnRecords();
    void brokerKeepsTopicsApart();

private:
    // The first user's records must still be exactly as they were.
    void verifyVictimUnchanged();

    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_victim;
    std::unique_ptr<SyncClient> m_victimOther;
    std::unique_ptr<SyncClient> m_intruder;
    QJsonObject m_text;
    QJsonObject m_favourite;
    QJsonObject m_file;
    QByteArray m_payload;
};

void TestServerIsolation::initTestCase()
{
    QVERIFY(m_server.start());
    m_victim = std::make_unique<SyncClient>(m_server.origin(), u"victimDevice"_s);
    m_victimOther = std::make_unique<SyncClient>(m_server.origin(), u"victimOther"_s);
    m_intruder = std::make_unique<SyncClient>(m_server.origin(), u"intruderDevice"_s);
    QCOMPARE(m_victim->registerUser(u"victim@example.org"_s, u"pw1"_s).code(), 0);
    QCOMPARE(m_victimOther->login(u"victim@example.org"_s, u"pw1"_s).code(), 0);
    QCOMPARE(m_intruder->registerUser(u"intruder@example.org"_s, u"pw2"_s).code(), 0);
    QVERIFY(m_victim->userId() != m_intruder->userId());

    m_text = m_victim->pushed(SyncClient::textRecord(u"victim text"_s, 1700000000));
    QJsonObject favourite = SyncClient::textRecord(u"victim favourite"_s, 1700000001);
    favourite.insert(u"favourite"_s, 1750000000);
    m_favourite = m_victim->pushed(favourite);
    m_payload = QByteArray(4096, 'v');
    QJsonObject file = SyncClient::textRecord(u"victim file"_s, 1700000002);
    file.insert(u"file_hash"_s, SyncClient::md5Hex(m_payload));
    m_file = m_victim->pushed(file);
    QCOMPARE(m_victim->upload(m_file, m_payload).code(), 0);
    m_file.insert(u"file_ready"_s, 1);
    m_file.insert(u"file_size"_s, m_payload.size());
}

void TestServerIsolation::verifyVictimUnchanged()
{
    for (const QJsonObject &record : {m_text, m_favourite, m_file}) {
        const HttpReply got = m_victim->getRecord(record);
        QCOMPARE(got.code(), 0);
        QCOMPARE(got.history(), record);
    }
    const HttpReply bytes = m_victim->download(m_file);
    QCOMPARE(bytes.status, 200);
    QCOMPARE(bytes.body, m_payload);
}

void TestServerIsolation::recordsCannotBeReadOrChanged()
{
    // Read by id and hash.
    QCOMPARE(m_intruder->getRecord(m_text).status, 404);
    // Pull: nothing of the victim, whatever the cursor.
    const HttpReply pulled = m_intruder->pull(0);
    QCOMPARE(pulled.code(), 0);
    QVERIFY(pulled.histories().isEmpty());
    QVERIFY(pulled.json.value(u"action"_s).toArray().isEmpty());

    QJsonObject changed = m_text;
    changed.insert(u"timestamp"_s, 1900000000);
    changed.insert(u"favourite"_s, 1900000000);
    changed.remove(u"content"_s);
    // Unknown to this user: -10 on a 200 reply, so that the device makes its clip local only.
    const HttpReply foreign = m_intruder->put(u"/push/"_s, {{u"history"_s, changed}});
    QCOMPARE(foreign.status, 200);
    QCOMPARE(foreign.code(), -10);

    // Posting the same hash makes the intruder's own record, not a change of the victim's.
    QJsonObject same = m_text;
    same.insert(u"content"_s, u"overwritten"_s);
    same.insert(u"timestamp"_s, 1900000000);
    const QJsonObject own = m_intruder->pushed(same);
    QVERIFY(own.value(u"history_id"_s).toInteger() != m_text.value(u"history_id"_s).toInteger());
    QCOMPARE(own.value(u"file_ready"_s).toInt(), 0);

    // Delete with the victim's ids: nothing happens to them.
    for (const QJsonObject &record : {m_text, m_favourite, m_file})
        QCOMPARE(m_intruder->deleteRecord(record).code(), 0);
    verifyVictimUnchanged();
    // The victim's other device sees no change from the intruder.
    const HttpReply victimPull = m_victimOther->pull(0);
    QCOMPARE(victimPull.histories().size(), 3);
    QVERIFY(victimPull.json.value(u"action"_s).toArray().isEmpty());
}

void TestServerIsolation::favouritesAreSeparate()
{
    QJsonObject withdraw = m_favourite;
    withdraw.insert(u"favourite"_s, -1900000000);
    QCOMPARE(m_intruder->setFavourite(withdraw).code(), -4);

    const QJsonObject held{{QString::number(m_favourite.value(u"history_id"_s).toInteger()),
                            QJsonObject{{u"favourite"_s, 1900000000}}}};
    const HttpReply reconciled = m_intruder->getFavourites(held);
    QCOMPARE(reconciled.code(), 0);
    // For this user the id does not exist; none of the victim's favourites are handed out.
    QCOMPARE(reconciled.json.value(u"delfavourites"_s).toArray().size(), 1);
    QVERIFY(reconciled.histories().isEmpty());
    QVERIFY(reconciled.json.value(u"unfavourites"_s).toArray().isEmpty());
    verifyVictimUnchanged();
}

void TestServerIsolation::filesCannotBeFetchedOrReplaced()
{
    QCOMPARE(m_intruder->get(u"/get_upload_token/"_s, SyncClient::fileQuery(m_file)).status, 404);
    QCOMPARE(m_intruder->download(m_file).status, 404);

    // The intruder's own grant, pointed at the victim's folder or rewritten to name the victim,
    // is refused.
    const QJsonObject mine = m_intruder->pushed(SyncClient::textRecord(u"intruder file"_s, 1700000000));
    QString host;
    HttpReply grant;
    const UploadForm form = m_intruder->uploadForm(mine.value("file_hash"_L1).toString(),
                                                   mine.value("file_id"_L1).toInteger(), &host, &grant);
    QCOMPARE(grant.code(), 0);
    const QByteArray victimKey = "users/" + QByteArray::number(m_victim->userId()) + '/'
                                 + m_file.value("file_hash"_L1).toString().toUtf8();
    QCOMPARE(m_intruder->postForm(host, withField(form, u"key"_s, victimKey), "replaced").status, 403);
    QJsonObject callback =
        QJsonDocument::fromJson(QByteArray::fromBase64(field(form, u"callback"_s))).object();
    callback.insert(u"user_id"_s, m_victim->userId());
    callback.insert(u"file_hash"_s, m_file.value(u"file_hash"_s));
    callback.insert(u"file_id"_s, m_file.value(u"file_id"_s));
    const QByteArray forged = QJsonDocument(callback).toJson(QJsonDocument::Compact).toBase64();
    QCOMPARE(m_intruder
                 ->postForm(host, withField(withField(form, u"key"_s, victimKey), u"callback"_s, forged),
                            "replaced")
                 .status,
             403);
    verifyVictimUnchanged();
}

void TestServerIsolation::clearTouchesOnlyOwnRecords()
{
    const HttpReply cleared = m_intruder->get(u"/clear_history/"_s);
    QCOMPARE(cleared.code(), 0);
    QCOMPARE(cleared.json.value(u"count"_s).toInt(), 2);
    verifyVictimUnchanged();
    QVERIFY(!m_victimOther->pull(0).json.contains(u"clear_all_ts"_s));
}

void TestServerIsolation::brokerKeepsTopicsApart()
{
    const QString victimTopic = u"user_id_"_s + QString::number(m_victim->userId());
    const QString intruderTopic = u"user_id_"_s + QString::number(m_intruder->userId());

    // Nobody signs in to the broker without the service's credentials, or as another user.
    MqttListener anonymous;
    QVERIFY(anonymous.connect(m_server.mqttPort(), QString(), QString()) != 0);
    MqttListener impostor;
    QVERIFY(impostor.connect(m_server.mqttPort(), m_victim->mqttUser(), m_intruder->mqttPassword()) != 0);
    MqttListener shared; // the fixed pair older clients shipped with
    QVERIFY(shared.connect(m_server.mqttPort(), u"pubclient"_s, u"3c9e5a17"_s) != 0);

    MqttListener victim;
    QCOMPARE(victim.connect(m_server.mqttPort(), *m_victim), 0);
    QCOMPARE(victim.subscribe(victimTopic), 1);
    // A device's client id is bound to its account: neither another user nor another device of
    // the same user connects under it, so nobody pushes the device off.
    for (const SyncClient *other : {m_intruder.get(), m_victimOther.get()}) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            QVERIFY(MqttListener(m_victim->deviceToken())
                        .connect(m_server.mqttPort(), other->mqttUser(), other->mqttPassword())
                    != 0);
        }
    }
    MqttListener intruder;
    QCOMPARE(intruder.connect(m_server.mqttPort(), *m_intruder), 0);
    // mosquitto grants these subscriptions but delivers nothing the access list forbids.
    intruder.subscribe(victimTopic);
    intruder.subscribe(u"#"_s);
    QCOMPARE(intruder.subscribe(intruderTopic), 1);

    // A device may not publish, not even on its own user's topic.
    QVERIFY(intruder.publish(
        victimTopic, R"({"protocol":"history_clear","data":{"device_token":"x","timestamp":9999999999}})"));
    QVERIFY(intruder.publish(intruderTopic, R"({"protocol":"forged"})"));

    // A notice for each user; the broker hands them out in order, so once each has arrived,
    // anything forged or foreign would have arrived before it.
    QCOMPARE(m_victim->deleteRecord(m_victim->pushed(SyncClient::textRecord(u"victim note"_s, 1))).code(), 0);
    QCOMPARE(
        m_intruder->deleteRecord(m_intruder->pushed(SyncClient::textRecord(u"intruder note"_s, 1))).code(),
        0);

    const auto isDelete = [](const MqttListener::Message &m) {
        return m.json.value(u"protocol"_s).toString() == "history_delete"_L1;
    };
    QVERIFY(victim.waitFor(isDelete));
    QVERIFY(intruder.waitFor(isDelete));
    QVERIFY(!victim.waitForDisconnect(0));
    for (const auto &[listener, topic] :
         {std::pair{&victim, victimTopic}, std::pair{&intruder, intruderTopic}}) {
        for (const auto &m : listener->messages()) {
            // Whether the service is up is every device's to read, and says nothing else.
            if (m.topic == u"quillet_service"_s) {
                QCOMPARE(m.json.keys(), QStringList{u"status"_s});
                continue;
            }
            QCOMPARE(m.topic, topic);
            QVERIFY(isDelete(m));
        }
    }
}

QTEST_GUILESS_MAIN(TestServerIsolation)
#include "tst_server_isolation.moc"
