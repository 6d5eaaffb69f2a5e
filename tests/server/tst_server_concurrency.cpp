// Many devices at once. On one service process: 20 devices of 4 users push and pull for a
// bounded time; every record is accounted for and no user sees another's. On two processes
// sharing one PostgreSQL database (payloads in it too) and one broker: one user's four devices
// push, favourite, upload and delete; every record reaches each other device once, every file is
// served by the other process, and every notice arrives once at every device.

#include "MqttListener.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QTest>

#include <thread>

using namespace Qt::StringLiterals;

namespace {

// Pulls on from `*cursor`: the file hashes of the records (and the ids of deletions); false on a
// failure.
bool pullHashes(SyncClient &client, qint64 *cursor, QList<QString> *hashes, QSet<qint64> *deleted = nullptr)
{
    const auto pages = client.pullAll(cursor);
    for (const HttpReply &page : pages.value_or(QList<HttpReply>())) {
        for (const QJsonValue &v : page.histories())
            hashes->append(v["file_hash"_L1].toString());
        for (const QJsonValue &action : page.value("action").toArray())
            if (deleted)
                deleted->insert(action["history_id"_L1].toInteger());
    }
    return pages.has_value();
}

} // namespace

class TestServerConcurrency final : public QObject
{
    Q_OBJECT

private slots:
    void manyDevicesPushAndPull();
    void oneUsersDevicesOnTwoProcesses();
};

void TestServerConcurrency::manyDevicesPushAndPull()
{
    struct Run {
        std::unique_ptr<SyncClient> client;
        int user = 0;
        QSet<QString> pushed;
        QList<QString> pulled;
        qint64 cursor = 0;
        int failures = 0;
    };
    ServerHarness server;
    // Small pages, so that paging is part of the run.
    QVERIFY(server.start({.config = {{u"max_pull_records"_s, 200}}}));
    std::vector<Run> devices(20);
    for (int i = 0; i < 20; ++i) {
        devices[size_t(i)].user = i % 4;
        devices[size_t(i)].client = std::make_unique<SyncClient>(server.origin(), u"load-%1"_s.arg(i));
        const QString email = u"load%1@example.org"_s.arg(i % 4);
        SyncClient &client = *devices[size_t(i)].client;
        QCOMPARE((i < 4 ? client.registerUser(email, u"pw"_s) : client.login(email, u"pw"_s)).code(), 0);
    }
    std::vector<std::thread> threads;
    for (size_t i = 0; i < devices.size(); ++i) {
        threads.emplace_back([&run = devices[i], i] {
            QElapsedTimer timer;
            timer.start();
            for (int n = 0; n < 400 && timer.elapsed() < 2000; ++n) {
                // Every fifth clip is one all devices of the user capture: it must stay one record.
                const QString text =
                    n % 5 == 0 ? u"shared %1 %2"_s.arg(run.user).arg(n) : u"clip %1 %2"_s.arg(i).arg(n);
                if (run.client->pushRecord(SyncClient::textRecord(text, 1700000000 + n)).code() != 0)
                    ++run.failures;
                run.pushed.insert(SyncClient::md5Hex(text.toUtf8()));
                if (n % 3 == 0 && !pullHashes(*run.client, &run.cursor, &run.pulled))
                    ++run.failures;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();

    QHash<int, QSet<QString>> expected;
    for (const Run &run : devices) {
        QCOMPARE(run.failures, 0);
        expected[run.user] += run.pushed;
    }
    for (int u = 0; u < 4; ++u) {
        // A new device of the user receives exactly the user's records, each once.
        SyncClient fresh(server.origin(), u"fresh-%1"_s.arg(u));
        QCOMPARE(fresh.login(u"load%1@example.org"_s.arg(u), u"pw"_s).code(), 0);
        qint64 cursor = 0;
        QList<QString> hashes;
        QVERIFY(pullHashes(fresh, &cursor, &hashes));
        QCOMPARE(QSet<QString>(hashes.begin(), hashes.end()), expected[u]);
        QCOMPARE(hashes.size(), expected[u].size());
    }
    // Each device's cursor never skipped a record that committed concurrently.
    for (Run &run : devices) {
        QVERIFY(pullHashes(*run.client, &run.cursor, &run.pulled));
        QCOMPARE(QSet<QString>(run.pulled.begin(), run.pulled.end()) + run.pushed, expected[run.user]);
    }
}

void TestServerConcurrency::oneUsersDevicesOnTwoProcesses()
{
    if (qEnvironmentVariable("QUILLET_TEST_STORAGE") != u"postgresql"_s)
        QSKIP("two service processes share a PostgreSQL database: the _pg run");
    struct Device {
        std::unique_ptr<SyncClient> client;
        MqttListener notices;
        qint64 cursor = 0;
        QList<QString> pulled;
        QSet<qint64> deleted;
        QList<QJsonObject> pushed;
        QList<QJsonObject> files; // pushed records with an uploaded payload
        bool failed = false;
    };
    constexpr int kRecords = 30;
    ServerHarness server;
    QVERIFY(server.start({.config = {{u"objects"_s, u"database"_s}, {u"max_pull_records"_s, 20}}}));
    QVERIFY(server.startSecondService());
    std::vector<Device> devices(4);
    for (int d = 0; d < 4; ++d) {
        Device &device = devices[size_t(d)];
        device.client = std::make_unique<SyncClient>(d % 2 ? server.secondOrigin() : server.origin(),
                                                     u"device%1"_s.arg(d));
        SyncClient &client = *device.client;
        QCOMPARE((d == 0 ? client.registerUser(u"shared@example.org"_s, u"pw"_s)
                         : client.login(u"shared@example.org"_s, u"pw"_s))
                     .code(),
                 0);
        QCOMPARE(device.notices.connect(server.mqttPort(), client), 0);
        QCOMPARE(device.notices.subscribe(u"user_id_%1"_s.arg(client.userId())), 1);
        QVERIFY(pullHashes(client, &device.cursor, &device.pulled));
    }
    // All at once: records (every fifth a favourite, every tenth with a payload), pulls between
    // them, and one deletion each at the end.
    std::vector<std::thread> threads;
    for (int d = 0; d < 4; ++d) {
        threads.emplace_back([&device = devices[size_t(d)], d] {
            for (int i = 0; i < kRecords && !device.failed; ++i) {
                const QByteArray payload = QByteArray::number(d) + " payload " + QByteArray::number(i);
                QJsonObject record = SyncClient::textRecord(u"clip %1 of %2"_s.arg(i).arg(d), 1700000000 + i);
                if (i % 10 == 3)
                    record.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
                if (i % 5 == 1)
                    record.insert(u"favourite"_s, 1700000000 + i);
                device.pushed << device.client->pushed(record);
                device.failed = device.pushed.last().isEmpty();
                if (i % 10 == 3) {
                    device.failed =
                        device.failed || device.client->upload(device.pushed.last(), payload).status != 200;
                    device.files << device.pushed.last();
                }
                if (i % 4 == 0)
                    device.failed =
                        device.failed
                        || !pullHashes(*device.client, &device.cursor, &device.pulled, &device.deleted);
            }
            device.failed = device.failed || device.client->deleteRecord(device.pushed.first()).code() != 0;
        });
    }
    for (std::thread &thread : threads)
        thread.join();

    for (int d = 0; d < 4; ++d) {
        Device &device = devices[size_t(d)];
        QVERIFY(!device.failed);
        QVERIFY(pullHashes(*device.client, &device.cursor, &device.pulled, &device.deleted));
        for (int other = 0; other < 4; ++other) {
            const Device &source = devices[size_t(other)];
            if (other == d)
                continue;
            for (const QJsonObject &record : source.pushed) {
                // A record with a payload changes twice (pushed, then its file stored): it may
                // come with each change, any other exactly once (the deleted one perhaps not).
                const qsizetype times = device.pulled.count(record["file_hash"_L1].toString());
                const qsizetype most = source.files.contains(record) ? 2 : 1;
                QVERIFY2(times <= most && (times >= 1 || record == source.pushed.first()),
                         qPrintable(record["file_hash"_L1].toString()));
            }
            QVERIFY(device.deleted.contains(source.pushed.first()["history_id"_L1].toInteger()));
            for (const QJsonObject &file : source.files)
                QCOMPARE(device.client->download(file).status, 200);
        }
        // Every notice of every device arrives at every device, once.
        QTRY_COMPARE_WITH_TIMEOUT(device.notices.messages().size(), 4 * (kRecords / 5 + kRecords / 10 + 1),
                                  10000);
    }
}

QTEST_GUILESS_MAIN(TestServerConcurrency)
#include "tst_server_concurrency.moc"
