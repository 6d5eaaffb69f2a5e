// Two service processes on one PostgreSQL database (payload objects in it too) and one broker:
// one user's four devices, two on each process, push, favourite, upload and delete at the same
// time. Every record reaches each other device by pull exactly once, every file can be fetched
// through the other process, and every notice arrives once at every device.

#include "MqttListener.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include <QHash>
#include <QJsonArray>
#include <QSet>
#include <QTest>

#include <thread>

using namespace Qt::StringLiterals;

namespace {

constexpr int kDevices = 4;
constexpr int kRecordsPerDevice = 30;
const QString kEmail = u"shared@example.org"_s;

struct Device {
    std::unique_ptr<SyncClient> client;
    std::unique_ptr<MqttListener> notices;
    qint64 cursor = 0;
    QHash<QString, int> pulledTimes; // file hash -> how often a pull brought it
    QSet<qint64> deleted;
    QList<QJsonObject> pushed;
    QList<QJsonObject> files; // pushed records with an uploaded payload
    bool failed = false;
};

// Pulls until the cursor stops moving; counts what arrives.
bool pullAll(Device &device)
{
    for (int page = 0; page < 100; ++page) {
        const HttpReply reply = device.client->pull(device.cursor);
        if (reply.status != 200 || reply.code() != 0)
            return false;
        for (const QJsonValue &record : reply.histories())
            ++device.pulledTimes[record["file_hash"_L1].toString()];
        for (const QJsonValue &action : reply.value("action").toArray())
            device.deleted.insert(action["history_id"_L1].toInteger());
        if (reply.histories().isEmpty() && reply.cursor() == device.cursor)
            return true;
        device.cursor = reply.cursor();
    }
    return false;
}

} // namespace

class TestServerProcesses final : public QObject
{
    Q_OBJECT

private slots:
    void oneUsersDevicesOnTwoProcesses();

private:
    ServerHarness m_server;
};

void TestServerProcesses::oneUsersDevicesOnTwoProcesses()
{
    ServerHarness::Options options;
    options.postgres = true;
    options.config = {{u"objects"_s, u"database"_s}, {u"max_pull_records"_s, 20}};
    QVERIFY(m_server.start(options));
    QVERIFY(m_server.startSecondService());
    QVERIFY(m_server.origin() != m_server.secondOrigin());

    std::vector<Device> devices(kDevices);
    for (int d = 0; d < kDevices; ++d) {
        Device &device = devices[size_t(d)];
        const QString origin = d % 2 ? m_server.secondOrigin() : m_server.origin();
        device.client = std::make_unique<SyncClient>(origin, u"device%1"_s.arg(d));
        const HttpReply signedIn =
            d == 0 ? device.client->registerUser(kEmail, u"pw"_s) : device.client->login(kEmail, u"pw"_s);
        QCOMPARE(signedIn.code(), 0);
        device.notices = std::make_unique<MqttListener>();
        QCOMPARE(device.notices->connect(m_server.mqttPort(), *device.client), 0);
        QCOMPARE(device.notices->subscribe(u"user_id_%1"_s.arg(device.client->userId())), 1);
        QVERIFY(pullAll(device));
    }

    // All devices at once: records (every fifth a favourite, every tenth with a payload),
    // pulls between them, and one deletion each at the end.
    std::vector<std::thread> threads;
    for (int d = 0; d < kDevices; ++d) {
        threads.emplace_back([&device = devices[size_t(d)], d] {
            for (int i = 0; i < kRecordsPerDevice && !device.failed; ++i) {
                const QByteArray payload = "payload %1 of device %2"_ba.replace("%1", QByteArray::number(i))
                                               .replace("%2", QByteArray::number(d));
                QJsonObject record = SyncClient::textRecord(u"clip %1 of %2"_s.arg(i).arg(d), 1700000000 + i);
                if (i % 10 == 3)
                    record.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
                if (i % 5 == 1)
                    record.insert(u"favourite"_s, 1700000000 + i);
                const QJsonObject stored = device.client->pushed(record);
                device.failed = stored.isEmpty();
                device.pushed << stored;
                if (i % 10 == 3) {
                    device.failed = device.failed || device.client->upload(stored, payload).status != 200;
                    device.files << stored;
                }
                if (i % 4 == 0)
                    device.failed = device.failed || !pullAll(device);
            }
            device.failed = device.failed || device.client->deleteRecord(device.pushed.first()).code() != 0;
        });
    }
    for (std::thread &thread : threads)
        thread.join();

    for (int d = 0; d < kDevices; ++d) {
        Device &device = devices[size_t(d)];
        QVERIFY(!device.failed);
        QVERIFY(pullAll(device));
        for (int other = 0; other < kDevices; ++other) {
            if (other == d)
                continue;
            const Device &source = devices[size_t(other)];
            for (const QJsonObject &record : source.pushed) {
                const QString hash = record["file_hash"_L1].toString();
                // A record with a payload changes twice (pushed, then its file stored): it may
                // come with each change, any other exactly once (the deleted one perhaps not).
                const int times = device.pulledTimes.value(hash);
                if (record == source.pushed.first())
                    QVERIFY(times <= 1);
                else if (source.files.contains(record))
                    QVERIFY2(times == 1 || times == 2, qPrintable(hash));
                else
                    QVERIFY2(times == 1, qPrintable(u"%1 came %2 times"_s.arg(hash).arg(times)));
            }
            QVERIFY(device.deleted.contains(source.pushed.first()["history_id"_L1].toInteger()));
            // Files stored through one process are served by the other.
            for (const QJsonObject &file : source.files)
                QCOMPARE(device.client->download(file).status, 200);
        }
        // Every notice of every device arrives once, at every device.
        QHash<QString, int> notices;
        const auto expected = kDevices * (kRecordsPerDevice / 5 + kRecordsPerDevice / 10 + 1);
        QTRY_COMPARE_WITH_TIMEOUT(device.notices->messages().size(), expected, 10000);
        for (const MqttListener::Message &m : device.notices->messages()) {
            const QJsonObject data = m.json["data"_L1].toObject();
            const QString key = m.json["protocol"_L1].toString() + data["device_token"_L1].toString()
                                + data["file_hash"_L1].toString()
                                + data["history"_L1]["file_hash"_L1].toString();
            QCOMPARE(++notices[key], 1);
        }
    }
}

QTEST_GUILESS_MAIN(TestServerProcesses)
#include "tst_server_processes.moc"
