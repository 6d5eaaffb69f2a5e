// What the service does for one user's devices beyond what the client suites see (they walk the
// protocol through the real client): records of its own never come back to a device, a clear
// removes the payloads, sign-ins end with their broker accounts, the broker and the service come
// back, the log holds no secrets.

#include "MqttListener.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString kEmail = u"walk@example.org"_s;
const QString kPassword = u"correct horse"_s;

QJsonObject with(QJsonObject record, const char *key, const QJsonValue &value)
{
    record.insert(QLatin1String(key), value);
    return record;
}

QString digestOf(const QString &token)
{
    return QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

qint64 id(const QJsonObject &record)
{
    return record.value("history_id"_L1).toInteger();
}

} // namespace

class TestServerProtocol final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void ownRecordsDoNotComeBack();
    void clearKeepsFavouritesOnly();
    void pluginStoreOffersOnlyWholeEntries();
    void logoutEndsTheSignInAndItsBrokerConnection();
    void administratorSetsPassword();
    void logHoldsNoSecrets();
    // These restart the service or the broker.
    void expiredSignInsEnd();
    void signInNeedsTheBroker();
    void devicesLearnWhenTheServiceIsBack();

private:
    qint64 tokenRows(const QString &token) const
    {
        const auto rows =
            m_server.storageQuery(u"select count(*) from tokens where digest = ?"_s, {digestOf(token)});
        return rows && rows->size() == 1 ? rows->first().toLongLong() : -1;
    }

    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_a;
    std::unique_ptr<SyncClient> m_b;
    QStringList m_secrets;
};

void TestServerProtocol::initTestCase()
{
    QVERIFY(m_server.start());
    m_a = std::make_unique<SyncClient>(m_server.origin(), u"deviceA0001"_s);
    m_b = std::make_unique<SyncClient>(m_server.origin(), u"deviceB0002"_s);
    QCOMPARE(m_a->registerUser(kEmail, kPassword).code(), 0);
    QCOMPARE(m_b->login(kEmail, kPassword).code(), 0);
    m_secrets << m_a->userToken() << m_b->userToken() << m_a->mqttPassword() << kEmail
              << SyncClient::md5Hex(kPassword.toUtf8());
}

void TestServerProtocol::ownRecordsDoNotComeBack()
{
    const QJsonObject pushed = m_a->pushed(SyncClient::textRecord(u"walk record"_s, 1700000000));
    m_secrets << pushed.value("content"_L1).toString();
    const qint64 startA = m_a->pull(0).cursor();
    QCOMPARE(m_a->pushRecord(SyncClient::textRecord(u"second record"_s, 1700000001)).code(), 0);
    QVERIFY(m_a->pull(startA).histories().isEmpty());
    // The same clip captured on B is the same record; an older capture time does not win.
    const QJsonObject merged = m_b->pushed(SyncClient::textRecord(u"walk record"_s, 1600000000));
    QCOMPARE(id(merged), id(pushed));
    QCOMPARE(merged.value("timestamp"_L1).toInteger(), 1700000000);
}

void TestServerProtocol::clearKeepsFavouritesOnly()
{
    const QByteArray payload(1024, 'u');
    QJsonObject file = SyncClient::textRecord(u"with a file"_s, 1700000200);
    file.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
    QCOMPARE(m_a->upload(m_a->pushed(file), payload).status, 200);
    const QJsonObject keep =
        m_a->pushed(with(SyncClient::textRecord(u"kept"_s, 1700000400), "favourite", 1760000000));
    QCOMPARE(m_a->get(u"/clear_history/"_s).code(), 0);
    SyncClient fresh(m_server.origin(), u"deviceFresh"_s);
    fresh.setUserToken(m_a->userToken());
    QCOMPARE(fresh.pull(0).histories(), QJsonArray{keep});
    QVERIFY(QDir(m_server.dataDir() + u"/objects/%1"_s.arg(m_a->userId())).isEmpty(QDir::Files));
}

void TestServerProtocol::pluginStoreOffersOnlyWholeEntries()
{
    const QString store = m_server.dataDir() + u"/plugins/"_s;
    for (const auto &[name, bytes] :
         {std::pair{"upper.cpk", "PK package bytes"},
          {"upper.json", R"({"name": "Upper", "bundle_id": "org.example.upper"})"},
          {"broken.cpk", "PK"},
          {"broken.json", R"({"name": "Broken", "bundle_id": )"},
          {"unnamed.cpk", "PK"},
          {"unnamed.json", R"({"name": "No id"})"},
          {"orphan.json", R"({"name": "Orphan", "bundle_id": "org.example.orphan"})"}}) {
        QFile file(store + QLatin1String(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) > 0);
    }
    const QJsonObject offered = m_a->get(u"/plugins/"_s, {}, false).json["plugin_dict"_L1].toObject();
    QCOMPARE(offered.keys(), QStringList{u"org.example.upper"_s});
    QCOMPARE(m_a->get(u"/plugin_files/upper.cpk"_s, {}, false).body, QByteArray("PK package bytes"));
    QCOMPARE(m_a->get(u"/plugin_files/..%2Fconfig.json"_s, {}, false).status, 404);
}

void TestServerProtocol::logoutEndsTheSignInAndItsBrokerConnection()
{
    SyncClient e(m_server.origin(), u"deviceE0005"_s);
    QCOMPARE(e.login(kEmail, kPassword).code(), 0);
    // A new sign-in of the device gets a new broker password; the earlier one is over.
    const QString earlier = e.mqttPassword();
    const QString earlierToken = e.userToken();
    QCOMPARE(e.login(kEmail, kPassword).code(), 0);
    QCOMPARE(tokenRows(earlierToken), 0);
    QVERIFY(MqttListener(e.deviceToken()).connect(m_server.mqttPort(), e.mqttUser(), earlier) != 0);
    MqttListener session;
    QCOMPARE(session.connect(m_server.mqttPort(), e), 0);
    // Signing out removes the device's broker account, which ends its connection, and its token.
    QCOMPARE(e.get(u"/logout/"_s).code(), 0);
    QVERIFY(session.waitForDisconnect());
    QVERIFY(MqttListener().connect(m_server.mqttPort(), e) != 0);
    QCOMPARE(e.pull(0).status, 401);
    QCOMPARE(m_b->pull(0).code(), 0);
}

void TestServerProtocol::administratorSetsPassword()
{
    MqttListener session;
    QCOMPARE(session.connect(m_server.mqttPort(), *m_a), 0);
    QProcess tool;
    tool.start(ServerHarness::program(), {u"--data-dir"_s, m_server.dataDir(), u"--mqtt-port"_s,
                                          QString::number(m_server.mqttPort()), u"--set-password"_s, kEmail});
    tool.write("a new password\n");
    tool.closeWriteChannel();
    QVERIFY(tool.waitForFinished(20000) && tool.exitCode() == 0);
    m_secrets << SyncClient::md5Hex("a new password");
    // Every sign-in and broker account of the user ends: a lost device cannot read on.
    QCOMPARE(m_a->pull(0).status, 401);
    QVERIFY(session.waitForDisconnect());
    QVERIFY(MqttListener().connect(m_server.mqttPort(), *m_b) != 0);
    QCOMPARE(SyncClient(m_server.origin(), u"deviceD"_s).login(kEmail, u"a new password"_s).code(), 0);
}

void TestServerProtocol::logHoldsNoSecrets()
{
    const QByteArray log = m_server.serviceLog();
    QVERIFY(log.contains("/api/pull/"));
    const auto hashes = m_server.storageQuery(u"select password_hash from users"_s);
    QVERIFY(hashes && !hashes->isEmpty());
    for (const QString &secret : m_secrets + *hashes)
        QVERIFY2(!log.contains(secret.toUtf8()), qPrintable(u"the log holds a secret: "_s + secret.left(8)));
}

void TestServerProtocol::expiredSignInsEnd()
{
    SyncClient c(m_server.origin(), u"deviceC0003"_s);
    QCOMPARE(c.login(kEmail, u"a new password"_s).code(), 0);
    MqttListener notices;
    QCOMPARE(notices.connect(m_server.mqttPort(), c), 0);
    QVERIFY(m_server.storageQuery(u"update tokens set expires = 1 where digest = ?"_s,
                                  {digestOf(c.userToken())}));
    QCOMPARE(c.pull(0).status, 401);
    // The service sweeps at its first request after a start, then every hour; the device's
    // broker account goes with the sign-in.
    QVERIFY(m_server.restartService());
    QCOMPARE(SyncClient(m_server.origin(), u"probe"_s).get(u"/check_version/"_s, {}, false).code(), 0);
    QTRY_COMPARE(tokenRows(c.userToken()), 0);
    QVERIFY(notices.waitForDisconnect());
}

// Broker accounts are made at sign-in: without the broker a sign-in or registration is refused
// (a device without notices would never know what it misses) and leaves nothing behind.
void TestServerProtocol::signInNeedsTheBroker()
{
    SyncClient device(m_server.origin(), u"brokerless"_s);
    SyncClient newcomer(m_server.origin(), u"newcomer"_s);
    m_server.killBroker();
    QCOMPARE(device.login(kEmail, u"a new password"_s).status, 503);
    QCOMPARE(newcomer.registerUser(u"newcomer@example.org"_s, u"pw"_s).status, 503);
    const auto left =
        m_server.storageQuery(u"select (select count(*) from tokens where device_token = 'brokerless') "
                              "+ (select count(*) from users where email = 'newcomer@example.org')"_s);
    QCOMPARE(left.value_or(QStringList()), QStringList{u"0"_s});
    // The service finds the broker again by itself.
    QVERIFY(m_server.restartBroker());
    QTRY_COMPARE_WITH_TIMEOUT(device.login(kEmail, u"a new password"_s).code(), 0, 15000);
    QCOMPARE(MqttListener().connect(m_server.mqttPort(), device), 0);
}

// Every device may read whether the service is up: "online" (kept by the broker for devices that
// subscribe later) once it is connected, "offline" from the broker when the service dies.
void TestServerProtocol::devicesLearnWhenTheServiceIsBack()
{
    SyncClient device(m_server.origin(), u"waiting-device"_s);
    QCOMPARE(device.login(kEmail, u"a new password"_s).code(), 0);
    const auto status = [](const char *value) {
        return [value](const MqttListener::Message &m) {
            return m.topic == u"quillet_service"_s
                   && m.json.value(u"status"_s).toString() == QLatin1String(value);
        };
    };
    MqttListener listener;
    QCOMPARE(listener.connect(m_server.mqttPort(), device), 0);
    QCOMPARE(listener.subscribe(u"quillet_service"_s), 1);
    QVERIFY(listener.waitFor(status("online")));
    m_server.killService();
    QVERIFY(listener.waitFor(status("offline"), 10000));
    QVERIFY(m_server.restartService());
    QTRY_COMPARE_WITH_TIMEOUT(std::ranges::count_if(listener.messages(), status("online")), 2, 10000);
    // Devices read it; they do not write it: a later subscriber gets the kept "online" only.
    QVERIFY(listener.publish(u"quillet_service"_s, R"({"status":"forged"})"));
    MqttListener later;
    QCOMPARE(later.connect(m_server.mqttPort(), device), 0);
    QCOMPARE(later.subscribe(u"quillet_service"_s), 1);
    QVERIFY(later.waitFor(status("online")));
    QCOMPARE(later.messages().size(), 1);
}

QTEST_GUILESS_MAIN(TestServerProtocol)
#include "tst_server_protocol.moc"
