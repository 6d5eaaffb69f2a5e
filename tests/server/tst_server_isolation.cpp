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
    void filesCannotBeFetchedOrReplaced();
    void brokerKeepsTopicsApart();
    // After every case: the first user's records and file are exactly as they were.
    void cleanup();

private:
    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_victim;
    std::unique_ptr<SyncClient> m_intruder;
    QList<QJsonObject> m_records; // a text, a favourite, a file
    QByteArray m_payload{4096, 'v'};
};

void TestServerIsolation::initTestCase()
{
    QVERIFY(m_server.start());
    m_victim = std::make_unique<SyncClient>(m_server.origin(), u"victimDevice"_s);
    m_intruder = std::make_unique<SyncClient>(m_server.origin(), u"intruderDevice"_s);
    QCOMPARE(m_victim->registerUser(u"victim@example.org"_s, u"pw1"_s).code(), 0);
    QCOMPARE(m_intruder->registerUser(u"intruder@example.org"_s, u"pw2"_s).code(), 0);
    QJsonObject favourite = SyncClient::textRecord(u"victim favourite"_s, 1700000001);
    favourite.insert(u"favourite"_s, 1750000000);
    QJsonObject file = SyncClient::textRecord(u"victim file"_s, 1700000002);
    file.insert(u"file_hash"_s, SyncClient::md5Hex(m_payload));
    for (const QJsonObject &record : {SyncClient::textRecord(u"victim text"_s, 1700000000), favourite, file})
        m_records << m_victim->pushed(record);
    QCOMPARE(m_victim->upload(m_records[2], m_payload).code(), 0);
    m_records[2].insert(u"file_ready"_s, 1);
    m_records[2].insert(u"file_size"_s, m_payload.size());
}

void TestServerIsolation::cleanup()
{
    for (const QJsonObject &record : std::as_const(m_records))
        QCOMPARE(m_victim->getRecord(record).history(), record);
    QCOMPARE(m_victim->download(m_records[2]).body, m_payload);
}

void TestServerIsolation::recordsCannotBeReadOrChanged()
{
    QCOMPARE(m_intruder->getRecord(m_records[0]).status, 404);
    QVERIFY(m_intruder->pull(0).histories().isEmpty());
    // Unknown to this user: -10, so that the device makes its clip local only.
    QJsonObject changed = m_records[0];
    changed.insert(u"timestamp"_s, 1900000000);
    changed.remove(u"content"_s);
    QCOMPARE(m_intruder->put(u"/push/"_s, {{u"history"_s, changed}}).code(), -10);
    // Posting the same hash makes the intruder's own record, not a change of the victim's.
    QJsonObject same = m_records[0];
    same.insert(u"content"_s, u"overwritten"_s);
    QVERIFY(m_intruder->pushed(same).value(u"history_id"_s) != m_records[0].value(u"history_id"_s));
    for (const QJsonObject &record : std::as_const(m_records))
        QCOMPARE(m_intruder->deleteRecord(record).code(), 0);
    QJsonObject withdraw = m_records[1];
    withdraw.insert(u"favourite"_s, -1900000000);
    QCOMPARE(m_intruder->setFavourite(withdraw).code(), -4);
    // For this user the victim's favourite does not exist: to be deleted, and none handed out.
    const HttpReply reconciled =
        m_intruder->getFavourites({{QString::number(m_records[1].value(u"history_id"_s).toInteger()),
                                    QJsonObject{{u"favourite"_s, 1900000000}}}});
    QCOMPARE(reconciled.json.value(u"delfavourites"_s).toArray().size(), 1);
    QVERIFY(reconciled.histories().isEmpty());
    QCOMPARE(m_intruder->get(u"/clear_history/"_s).code(), 0);
}

void TestServerIsolation::filesCannotBeFetchedOrReplaced()
{
    QCOMPARE(m_intruder->get(u"/get_upload_token/"_s, SyncClient::fileQuery(m_records[2])).status, 404);
    QCOMPARE(m_intruder->download(m_records[2]).status, 404);
    // The intruder's own grant, pointed at the victim's file and rewritten to name the victim.
    const QJsonObject mine = m_intruder->pushed(SyncClient::textRecord(u"intruder file"_s, 1700000000));
    QString host;
    const UploadForm form = m_intruder->uploadForm(mine.value("file_hash"_L1).toString(),
                                                   mine.value("file_id"_L1).toInteger(), &host);
    const QByteArray victimKey = "users/" + QByteArray::number(m_victim->userId()) + '/'
                                 + m_records[2].value("file_hash"_L1).toString().toUtf8();
    QCOMPARE(m_intruder->postForm(host, withField(form, u"key"_s, victimKey), "replaced").status, 403);
    QJsonObject callback =
        QJsonDocument::fromJson(QByteArray::fromBase64(field(form, u"callback"_s))).object();
    callback.insert(u"user_id"_s, m_victim->userId());
    callback.insert(u"file_hash"_s, m_records[2].value(u"file_hash"_s));
    callback.insert(u"file_id"_s, m_records[2].value(u"file_id"_s));
    const QByteArray forged = QJsonDocument(callback).toJson(QJsonDocument::Compact).toBase64();
    const UploadForm rewritten = withField(withField(form, u"key"_s, victimKey), u"callback"_s, forged);
    QCOMPARE(m_intruder->postForm(host, rewritten, "replaced").status, 403);
}

void TestServerIsolation::brokerKeepsTopicsApart()
{
    const QString victimTopic = u"user_id_"_s + QString::number(m_victim->userId());
    const int port = m_server.mqttPort();
    // Nobody signs in without the service's credentials, as another user, or under another
    // device's client id (which would push that device off).
    QVERIFY(MqttListener().connect(port, QString(), QString()) != 0);
    QVERIFY(MqttListener().connect(port, m_victim->mqttUser(), m_intruder->mqttPassword()) != 0);
    QVERIFY(MqttListener().connect(port, u"pubclient"_s, u"3c9e5a17"_s) != 0);
    QVERIFY(MqttListener(m_victim->deviceToken())
                .connect(port, m_intruder->mqttUser(), m_intruder->mqttPassword())
            != 0);

    MqttListener victim;
    QCOMPARE(victim.connect(port, *m_victim), 0);
    QCOMPARE(victim.subscribe(victimTopic), 1);
    MqttListener intruder;
    QCOMPARE(intruder.connect(port, *m_intruder), 0);
    // mosquitto grants these subscriptions but delivers nothing the access list forbids; a device
    // may not publish at all.
    intruder.subscribe(victimTopic);
    intruder.subscribe(u"#"_s);
    QCOMPARE(intruder.subscribe(u"user_id_"_s + QString::number(m_intruder->userId())), 1);
    QVERIFY(intruder.publish(victimTopic, R"({"protocol":"history_clear","data":{"timestamp":9999999999}})"));
    // A notice for each user; notices arrive in order, so anything forged or foreign came before.
    for (SyncClient *user : {m_victim.get(), m_intruder.get()})
        QCOMPARE(user->deleteRecord(user->pushed(SyncClient::textRecord(u"note"_s, 1))).code(), 0);
    const auto isDelete = [](const MqttListener::Message &m) {
        return m.json.value(u"protocol"_s).toString() == "history_delete"_L1;
    };
    QVERIFY(victim.waitFor(isDelete) && intruder.waitFor(isDelete));
    for (MqttListener *listener : {&victim, &intruder}) {
        for (const auto &m : listener->messages())
            QVERIFY(m.topic == u"quillet_service"_s
                    || (isDelete(m) && (listener == &victim) == (m.topic == victimTopic)));
    }
}

QTEST_GUILESS_MAIN(TestServerIsolation)
#include "tst_server_isolation.moc"
