// What the service keeps tidy by itself: a device's new sign-in ends its old one, expired
// sign-ins leave the database, and a flood of requests cannot flood the request log.

#include "MqttListener.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include "BuildInfo.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <csignal>

using namespace Qt::StringLiterals;

namespace {

QString digestOf(const QString &token)
{
    return QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

} // namespace

class TestServerHousekeeping final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void newSignInReplacesTheDevicesOldOne();
    void expiredSignInsAreDeleted();
    void requestLogIsLimited();
    void signInNeedsTheBroker();
    void theLogAndTheVersionSpeakForTheService();
    void devicesLearnWhenTheServiceIsBack();

private:
    qint64 tokenRows(const QString &token);

    ServerHarness m_server;
};

void TestServerHousekeeping::initTestCase()
{
    ServerHarness::Options options;
    options.config = {{u"request_log_per_second"_s, 5}};
    QVERIFY(m_server.start(options));
    SyncClient first(m_server.origin(), u"laptop"_s);
    QCOMPARE(first.registerUser(u"tidy@example.org"_s, u"pw"_s).code(), 0);
}

qint64 TestServerHousekeeping::tokenRows(const QString &token)
{
    const auto rows =
        m_server.storageQuery(u"select count(*) from tokens where digest = ?"_s, {digestOf(token)});
    return rows && rows->size() == 1 ? rows->first().toLongLong() : -1;
}

void TestServerHousekeeping::newSignInReplacesTheDevicesOldOne()
{
    SyncClient laptop(m_server.origin(), u"laptop"_s);
    SyncClient phone(m_server.origin(), u"phone"_s);
    QCOMPARE(laptop.login(u"tidy@example.org"_s, u"pw"_s).code(), 0);
    QCOMPARE(phone.login(u"tidy@example.org"_s, u"pw"_s).code(), 0);
    const QString old = laptop.userToken();
    QCOMPARE(laptop.login(u"tidy@example.org"_s, u"pw"_s).code(), 0);
    QVERIFY(laptop.userToken() != old);
    QCOMPARE(tokenRows(old), 0);
    QCOMPARE(laptop.pull(0).code(), 0);
    // The old token is over; the other device's sign-in is untouched.
    SyncClient stale(m_server.origin(), u"laptop"_s);
    stale.setUserToken(old);
    QCOMPARE(stale.pull(0).status, 401);
    QCOMPARE(phone.pull(0).code(), 0);
}

void TestServerHousekeeping::expiredSignInsAreDeleted()
{
    SyncClient tablet(m_server.origin(), u"tablet"_s);
    QCOMPARE(tablet.login(u"tidy@example.org"_s, u"pw"_s).code(), 0);
    QCOMPARE(tokenRows(tablet.userToken()), 1);
    MqttListener notices;
    QCOMPARE(notices.connect(m_server.mqttPort(), tablet), 0);
    QVERIFY(m_server.storageQuery(u"update tokens set expires = ? where digest = ?"_s,
                                  {QDateTime::currentSecsSinceEpoch() - 10, digestOf(tablet.userToken())}));
    // The service sweeps at its first request after a start, then every hour.
    QVERIFY(m_server.restartService());
    SyncClient probe(m_server.origin(), u"probe"_s);
    QCOMPARE(probe.get(u"/check_version/"_s, {}, false).code(), 0);
    QTRY_COMPARE(tokenRows(tablet.userToken()), 0);
    // Its broker account went with it.
    QVERIFY(notices.waitForDisconnect());
    QVERIFY(MqttListener().connect(m_server.mqttPort(), tablet) != 0);
}

void TestServerHousekeeping::requestLogIsLimited()
{
    SyncClient flooder(m_server.origin(), u"flooder"_s);
    const qint64 started = QDateTime::currentSecsSinceEpoch();
    for (int i = 0; i < 300; ++i)
        QCOMPARE(flooder.get(u"/check_version/"_s, u"&flood="_s + QString::number(i), false).code(), 0);
    const qint64 seconds = QDateTime::currentSecsSinceEpoch() - started + 1;
    // What was left out is reported once lines are let through again.
    QTRY_VERIFY_WITH_TIMEOUT(flooder.get(u"/check_version/"_s, {}, false).code() == 0
                                 && m_server.serviceLog().contains("request log lines left out"),
                             10000);
    const qsizetype lines = m_server.serviceLog().count("/api/check_version/ ");
    QVERIFY2(lines <= 5 * (seconds + 12), qPrintable(QString::number(lines)));
    QVERIFY(lines < 300);
}

// The broker's accounts are made at sign-in: without the broker, a sign-in is refused (a
// device without notices would never know what it misses) and leaves no sign-in behind.
void TestServerHousekeeping::signInNeedsTheBroker()
{
    SyncClient device(m_server.origin(), u"brokerless"_s);
    m_server.killBroker();
    const HttpReply refused = device.login(u"tidy@example.org"_s, u"pw"_s);
    QCOMPARE(refused.status, 503);
    QVERIFY(device.userToken().isEmpty());
    SyncClient newcomer(m_server.origin(), u"newcomer"_s);
    QCOMPARE(newcomer.registerUser(u"newcomer@example.org"_s, u"pw"_s).status, 503);
    const auto left =
        m_server.storageQuery(u"select (select count(*) from tokens where device_token = 'brokerless') "
                              "+ (select count(*) from users where email = 'newcomer@example.org')"_s);
    QVERIFY(left);
    QCOMPARE(*left, QStringList{u"0"_s});
    // The broker keeps the accounts made before it went; the service finds it again by itself.
    QVERIFY(m_server.restartBroker());
    QTRY_COMPARE_WITH_TIMEOUT(device.login(u"tidy@example.org"_s, u"pw"_s).code(), 0, 15000);
    QCOMPARE(MqttListener().connect(m_server.mqttPort(), device), 0);
    QCOMPARE(newcomer.registerUser(u"newcomer@example.org"_s, u"pw"_s).code(), 0);
}

// Without a version in config.json the service offers its own; every log line says when it
// was written; a plugin store entry that cannot be offered is logged with the reason, once.
void TestServerHousekeeping::theLogAndTheVersionSpeakForTheService()
{
    SyncClient probe(m_server.origin(), u"probe"_s);
    const HttpReply version = probe.get(u"/check_version/"_s, {}, false);
    QCOMPARE(version.code(), 0);
    QCOMPARE(version.json["data"_L1]["version"_L1].toString(), QLatin1String(BuildInfo::version));

    const QString store = m_server.dataDir() + u"/plugins/"_s;
    const auto write = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    QVERIFY(write(store + u"broken.cpk"_s, "PK"));
    QVERIFY(write(store + u"broken.json"_s, R"({"name": "Broken", "bundle_id": )"));
    QVERIFY(write(store + u"unnamed.cpk"_s, "PK"));
    QVERIFY(write(store + u"unnamed.json"_s, R"({"name": "No id"})"));
    QVERIFY(write(store + u"orphan.json"_s, R"({"name": "Orphan", "bundle_id": "org.example.orphan"})"));
    for (int i = 0; i < 2; ++i)
        QCOMPARE(probe.get(u"/plugins/"_s, {}, false).json["plugin_dict"_L1].toObject().size(), 0);
    QTRY_VERIFY(m_server.serviceLog().contains("orphan.json"));
    const QByteArray log = m_server.serviceLog();
    for (const char *entry : {"skipped broken.cpk", "skipped unnamed.cpk", "skipped orphan.json"})
        QCOMPARE(log.count(entry), 1);

    const QRegularExpression stamped(u"^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} "_s);
    int lines = 0;
    for (const QByteArray &line : log.split('\n')) {
        // The service's own lines (a library may write lines of its own).
        if (!line.contains("quillet.server: "))
            continue;
        ++lines;
        QVERIFY2(stamped.match(QString::fromUtf8(line)).hasMatch(), line.constData());
    }
    QVERIFY(lines > 0);
}

// Every device may read whether the service is up: "online" (kept by the broker for devices that
// subscribe later) once it is connected, "offline" from the broker when the service dies.
void TestServerHousekeeping::devicesLearnWhenTheServiceIsBack()
{
    SyncClient device(m_server.origin(), u"waiting-device"_s);
    QCOMPARE(device.login(u"tidy@example.org"_s, u"pw"_s).code(), 0);
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
    const auto onlineNotices = [&] {
        const QList<MqttListener::Message> messages = listener.messages();
        return int(std::count_if(messages.begin(), messages.end(), status("online")));
    };
    QTRY_COMPARE_WITH_TIMEOUT(onlineNotices(), 2, 10000);
    // Devices read it; they do not write it.
    QVERIFY(listener.publish(u"quillet_service"_s, R"({"status":"forged"})"));
    MqttListener later;
    QCOMPARE(later.connect(m_server.mqttPort(), device), 0);
    QCOMPARE(later.subscribe(u"quillet_service"_s), 1);
    QVERIFY(later.waitFor(status("online")));
    QCOMPARE(later.messages().size(), 1);
}

QTEST_GUILESS_MAIN(TestServerHousekeeping)
#include "tst_server_housekeeping.moc"
