// Two users of one service: whatever ids, hashes or forms the second one sends, it can read,
// change, delete, download or upload nothing of the first, on any endpoint or on the broker.

#include "MqttListener.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {

QString idQuery(const QJsonObject &record)
{
    return QStringLiteral("&history_id=")
           + QString::number(record.value(QStringLiteral("history_id")).toInteger())
           + QStringLiteral("&file_hash=") + record.value(QStringLiteral("file_hash")).toString();
}

QString fileQuery(const QJsonObject &record)
{
    return QStringLiteral("&file_hash=") + record.value(QStringLiteral("file_hash")).toString()
           + QStringLiteral("&file_id=")
           + QString::number(record.value(QStringLiteral("file_id")).toInteger());
}

} // namespace

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
    m_victim = std::make_unique<SyncClient>(m_server.origin(), QStringLiteral("victimDevice"));
    m_victimOther = std::make_unique<SyncClient>(m_server.origin(), QStringLiteral("victimOther"));
    m_intruder = std::make_unique<SyncClient>(m_server.origin(), QStringLiteral("intruderDevice"));
    QCOMPARE(m_victim->registerUser(QStringLiteral("victim@example.org"), QStringLiteral("pw1")).code(), 0);
    QCOMPARE(m_victimOther->login(QStringLiteral("victim@example.org"), QStringLiteral("pw1")).code(), 0);
    QCOMPARE(m_intruder->registerUser(QStringLiteral("intruder@example.org"), QStringLiteral("pw2")).code(),
             0);
    QVERIFY(m_victim->userId() != m_intruder->userId());

    m_text = m_victim->pushRecord(SyncClient::textRecord(QStringLiteral("victim text"), 1700000000))
                 .json.value(QStringLiteral("history"))
                 .toObject();
    QJsonObject favourite = SyncClient::textRecord(QStringLiteral("victim favourite"), 1700000001);
    favourite.insert(QStringLiteral("favourite"), 1750000000);
    m_favourite = m_victim->pushRecord(favourite).json.value(QStringLiteral("history")).toObject();
    m_payload = QByteArray(4096, 'v');
    QJsonObject file = SyncClient::textRecord(QStringLiteral("victim file"), 1700000002);
    file.insert(QStringLiteral("file_hash"), SyncClient::md5Hex(m_payload));
    m_file = m_victim->pushRecord(file).json.value(QStringLiteral("history")).toObject();
    QCOMPARE(m_victim
                 ->upload(m_file.value(QStringLiteral("file_hash")).toString(),
                          m_file.value(QStringLiteral("file_id")).toInteger(), m_payload)
                 .code(),
             0);
    m_file.insert(QStringLiteral("file_ready"), 1);
    m_file.insert(QStringLiteral("file_size"), m_payload.size());
}

void TestServerIsolation::verifyVictimUnchanged()
{
    for (const QJsonObject &record : {m_text, m_favourite, m_file}) {
        const HttpReply got = m_victim->get(QStringLiteral("/push/"), idQuery(record));
        QCOMPARE(got.code(), 0);
        QCOMPARE(got.json.value(QStringLiteral("history")).toObject(), record);
    }
    const HttpReply bytes = m_victim->download(m_file.value(QStringLiteral("file_hash")).toString(),
                                               m_file.value(QStringLiteral("file_id")).toInteger());
    QCOMPARE(bytes.status, 200);
    QCOMPARE(bytes.body, m_payload);
}

void TestServerIsolation::recordsCannotBeReadOrChanged()
{
    // Read by id and hash.
    QCOMPARE(m_intruder->get(QStringLiteral("/push/"), idQuery(m_text)).status, 404);
    // Pull: nothing of the victim, whatever the cursor.
    const HttpReply pulled = m_intruder->pull(0);
    QCOMPARE(pulled.code(), 0);
    QVERIFY(pulled.json.value(QStringLiteral("histories")).toArray().isEmpty());
    QVERIFY(pulled.json.value(QStringLiteral("action")).toArray().isEmpty());

    // Update with the victim's id: unknown to this user.
    QJsonObject changed = m_text;
    changed.insert(QStringLiteral("timestamp"), 1900000000);
    changed.insert(QStringLiteral("favourite"), 1900000000);
    changed.remove(QStringLiteral("content"));
    QCOMPARE(m_intruder->put(QStringLiteral("/push/"), {{QStringLiteral("history"), changed}}).code(), -10);

    // Posting the same hash makes the intruder's own record, not a change of the victim's.
    QJsonObject same = m_text;
    same.insert(QStringLiteral("content"), QStringLiteral("overwritten"));
    same.insert(QStringLiteral("timestamp"), 1900000000);
    const QJsonObject own = m_intruder->pushRecord(same).json.value(QStringLiteral("history")).toObject();
    QVERIFY(own.value(QStringLiteral("history_id")).toInteger()
            != m_text.value(QStringLiteral("history_id")).toInteger());
    QCOMPARE(own.value(QStringLiteral("file_ready")).toInt(), 0);

    // Delete with the victim's ids: nothing happens to them.
    for (const QJsonObject &record : {m_text, m_favourite, m_file})
        QCOMPARE(m_intruder->del(QStringLiteral("/push/"), idQuery(record)).code(), 0);
    verifyVictimUnchanged();
    // The victim's other device sees no change from the intruder.
    const HttpReply victimPull = m_victimOther->pull(0);
    QCOMPARE(victimPull.json.value(QStringLiteral("histories")).toArray().size(), 3);
    QVERIFY(victimPull.json.value(QStringLiteral("action")).toArray().isEmpty());
}

void TestServerIsolation::favouritesAreSeparate()
{
    QJsonObject withdraw = m_favourite;
    withdraw.insert(QStringLiteral("favourite"), -1900000000);
    QCOMPARE(m_intruder
                 ->post(QStringLiteral("/set_favourite/"), QJsonObject{{QStringLiteral("history"), withdraw}})
                 .code(),
             -4);

    const QJsonObject held{{QString::number(m_favourite.value(QStringLiteral("history_id")).toInteger()),
                            QJsonObject{{QStringLiteral("favourite"), 1900000000}}}};
    const HttpReply reconciled = m_intruder->post(QStringLiteral("/get_favourite/"),
                                                  QJsonObject{{QStringLiteral("favourites"), held}});
    QCOMPARE(reconciled.code(), 0);
    // For this user the id does not exist; none of the victim's favourites are handed out.
    QCOMPARE(reconciled.json.value(QStringLiteral("delfavourites")).toArray().size(), 1);
    QVERIFY(reconciled.json.value(QStringLiteral("histories")).toArray().isEmpty());
    QVERIFY(reconciled.json.value(QStringLiteral("unfavourites")).toArray().isEmpty());
    verifyVictimUnchanged();
}

void TestServerIsolation::filesCannotBeFetchedOrReplaced()
{
    QCOMPARE(m_intruder->get(QStringLiteral("/get_upload_token/"), fileQuery(m_file)).status, 404);
    QCOMPARE(m_intruder->get(QStringLiteral("/download_file/"), fileQuery(m_file)).status, 404);

    // The intruder's own grant, pointed at the victim's folder or rewritten to name the victim,
    // is refused.
    QJsonObject mine = SyncClient::textRecord(QStringLiteral("intruder file"), 1700000000);
    mine = m_intruder->pushRecord(mine).json.value(QStringLiteral("history")).toObject();
    const HttpReply grant = m_intruder->get(QStringLiteral("/get_upload_token/"), fileQuery(mine));
    QCOMPARE(grant.code(), 0);
    const auto field = [&grant](const char *key) {
        return grant.json.value(QLatin1String(key)).toString().toUtf8();
    };
    const QString host = grant.json.value(QStringLiteral("host")).toString();
    const QByteArray victimKey = "users/" + QByteArray::number(m_victim->userId()) + '/'
                                 + m_file.value(QStringLiteral("file_hash")).toString().toUtf8();
    const auto form = [&](const QByteArray &key, const QByteArray &callback) {
        return QList<std::pair<QString, QByteArray>>{{QStringLiteral("key"), key},
                                                     {QStringLiteral("policy"), field("policy")},
                                                     {QStringLiteral("success_action_status"), "200"},
                                                     {QStringLiteral("callback"), callback},
                                                     {QStringLiteral("OSSAccessKeyID"), field("accessid")},
                                                     {QStringLiteral("signature"), field("signature")}};
    };
    QCOMPARE(m_intruder->postForm(host, form(victimKey, field("callback")), "replaced").status, 403);
    QJsonObject callback = QJsonDocument::fromJson(QByteArray::fromBase64(field("callback"))).object();
    callback.insert(QStringLiteral("user_id"), m_victim->userId());
    callback.insert(QStringLiteral("file_hash"), m_file.value(QStringLiteral("file_hash")));
    callback.insert(QStringLiteral("file_id"), m_file.value(QStringLiteral("file_id")));
    const QByteArray forged = QJsonDocument(callback).toJson(QJsonDocument::Compact).toBase64();
    QCOMPARE(m_intruder->postForm(host, form(victimKey, forged), "replaced").status, 403);
    verifyVictimUnchanged();
}

void TestServerIsolation::clearTouchesOnlyOwnRecords()
{
    const HttpReply cleared = m_intruder->get(QStringLiteral("/clear_history/"));
    QCOMPARE(cleared.code(), 0);
    QCOMPARE(cleared.json.value(QStringLiteral("count")).toInt(), 2);
    verifyVictimUnchanged();
    QVERIFY(!m_victimOther->pull(0).json.contains(QStringLiteral("clear_all_ts")));
}

void TestServerIsolation::brokerKeepsTopicsApart()
{
    const QString victimTopic = QStringLiteral("user_id_") + QString::number(m_victim->userId());
    const QString intruderTopic = QStringLiteral("user_id_") + QString::number(m_intruder->userId());

    // Nobody signs in to the broker without the service's credentials, or as another user.
    MqttListener anonymous;
    QVERIFY(anonymous.connect(m_server.mqttPort(), QString(), QString()) != 0);
    MqttListener impostor;
    QVERIFY(impostor.connect(m_server.mqttPort(), m_victim->mqttUser(), m_intruder->mqttPassword()) != 0);

    MqttListener victim;
    QCOMPARE(victim.connect(m_server.mqttPort(), m_victim->mqttUser(), m_victim->mqttPassword()), 0);
    QCOMPARE(victim.subscribe(victimTopic), 1);
    MqttListener intruder;
    QCOMPARE(intruder.connect(m_server.mqttPort(), m_intruder->mqttUser(), m_intruder->mqttPassword()), 0);
    // mosquitto grants these subscriptions but delivers nothing the access list forbids.
    intruder.subscribe(victimTopic);
    intruder.subscribe(QStringLiteral("#"));
    QCOMPARE(intruder.subscribe(intruderTopic), 1);

    // A device may not publish, not even on its own user's topic.
    QVERIFY(intruder.publish(
        victimTopic, R"({"protocol":"history_clear","data":{"device_token":"x","timestamp":9999999999}})"));
    QVERIFY(intruder.publish(intruderTopic, R"({"protocol":"forged"})"));

    // A notice for each user; the broker hands them out in order, so once each has arrived,
    // anything forged or foreign would have arrived before it.
    const QJsonObject victimRecord =
        m_victim->pushRecord(SyncClient::textRecord(QStringLiteral("victim note"), 1))
            .json.value(QStringLiteral("history"))
            .toObject();
    QCOMPARE(m_victim->del(QStringLiteral("/push/"), idQuery(victimRecord)).code(), 0);
    const QJsonObject intruderRecord =
        m_intruder->pushRecord(SyncClient::textRecord(QStringLiteral("intruder note"), 1))
            .json.value(QStringLiteral("history"))
            .toObject();
    QCOMPARE(m_intruder->del(QStringLiteral("/push/"), idQuery(intruderRecord)).code(), 0);

    const auto isDelete = [](const MqttListener::Message &m) {
        return m.json.value(QStringLiteral("protocol")).toString() == QLatin1String("history_delete");
    };
    QVERIFY(victim.waitFor(isDelete));
    QVERIFY(intruder.waitFor(isDelete));
    for (const auto &m : victim.messages()) {
        QCOMPARE(m.topic, victimTopic);
        QCOMPARE(m.json.value(QStringLiteral("protocol")).toString(), QStringLiteral("history_delete"));
    }
    for (const auto &m : intruder.messages()) {
        QCOMPARE(m.topic, intruderTopic);
        QCOMPARE(m.json.value(QStringLiteral("protocol")).toString(), QStringLiteral("history_delete"));
    }
}

QTEST_GUILESS_MAIN(TestServerIsolation)
#include "tst_server_isolation.moc"
