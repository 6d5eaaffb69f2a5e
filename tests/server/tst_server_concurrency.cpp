// Many devices at once: two users' four devices each push (every fifth record a favourite, every
// tenth with a payload, some clips captured by all of them), pull between their pushes and
// delete one record at the end. With PostgreSQL, half of them talk to a second service process
// on the same database (payloads in it too) and broker. Every record reaches each other device
// of its user once (a deleted one perhaps not) and never a device of the other user; a new
// device gets exactly the user's records, each once; every file is served by either process;
// every notice arrives once at every device of the user.

#include "MqttListener.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include <QSet>
#include <QTest>

#include <thread>

using namespace Qt::StringLiterals;

namespace {

struct Device {
    std::unique_ptr<SyncClient> client;
    MqttListener notices;
    qint64 cursor = 0;
    QList<QString> pulled; // file hashes
    QSet<qint64> deleted;
    QList<QJsonObject> pushed;
    QList<QJsonObject> files; // pushed records with an uploaded payload
    bool failed = false;

    bool pull()
    {
        const auto pages = client->pullAll(&cursor);
        for (const HttpReply &page : pages.value_or(QList<HttpReply>())) {
            for (const QJsonValue &v : page.histories())
                pulled << v["file_hash"_L1].toString();
            for (const QJsonValue &action : page.value("action").toArray())
                deleted.insert(action["history_id"_L1].toInteger());
        }
        return pages.has_value();
    }
};

} // namespace

class TestServerConcurrency final : public QObject
{
    Q_OBJECT

private slots:
    void devicesOfTwoUsersAtOnce();
};

void TestServerConcurrency::devicesOfTwoUsersAtOnce()
{
    constexpr int kRecords = 30;
    const bool twoProcesses = qEnvironmentVariable("QUILLET_TEST_STORAGE") == u"postgresql"_s;
    ServerHarness server;
    // Small pages, so that paging is part of the run.
    QJsonObject config{{u"max_pull_records"_s, 20}};
    if (twoProcesses)
        config.insert(u"objects"_s, u"database"_s);
    QVERIFY(server.start({.config = config}));
    QVERIFY(!twoProcesses || server.startSecondService());
    std::vector<Device> devices(8);
    for (int d = 0; d < 8; ++d) {
        Device &device = devices[size_t(d)];
        const QString origin = twoProcesses && d >= 4 ? server.secondOrigin() : server.origin();
        device.client = std::make_unique<SyncClient>(origin, u"device%1"_s.arg(d));
        const QString email = u"user%1@example.org"_s.arg(d % 2);
        QCOMPARE((d < 2 ? device.client->registerUser(email, u"pw"_s) : device.client->login(email, u"pw"_s))
                     .code(),
                 0);
        QCOMPARE(device.notices.connect(server.mqttPort(), *device.client), 0);
        QCOMPARE(device.notices.subscribe(u"user_id_%1"_s.arg(device.client->userId())), 1);
        QVERIFY(device.pull());
    }
    std::vector<std::thread> threads;
    for (int d = 0; d < 8; ++d) {
        threads.emplace_back([&device = devices[size_t(d)], d] {
            for (int i = 0; i < kRecords && !device.failed; ++i) {
                const QByteArray payload = QByteArray::number(d) + " payload " + QByteArray::number(i);
                // Every seventh clip all devices of the user capture: it stays one record.
                const QString text =
                    i % 7 == 6 ? u"shared %1 of %2"_s.arg(i).arg(d % 2) : u"clip %1 of %2"_s.arg(i).arg(d);
                QJsonObject record = SyncClient::textRecord(text, 1700000000 + i);
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
                    device.failed = device.failed || !device.pull();
            }
            device.failed = device.failed || device.client->deleteRecord(device.pushed.first()).code() != 0;
        });
    }
    for (std::thread &thread : threads)
        thread.join();

    for (int d = 0; d < 8; ++d) {
        Device &device = devices[size_t(d)];
        QVERIFY(!device.failed);
        QVERIFY(device.pull());
        QSet<QString> users;
        for (int other = d % 2; other < 8; other += 2) {
            const Device &source = devices[size_t(other)];
            for (const QJsonObject &record : source.pushed)
                users << record["file_hash"_L1].toString();
            if (other == d)
                continue;
            for (const QJsonObject &record : source.pushed) {
                if (record["content"_L1].toString().startsWith("shared"_L1))
                    continue;
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
        QVERIFY(QSet<QString>(device.pulled.begin(), device.pulled.end()).subtract(users).isEmpty());
        // Every notice of every device of the user arrives, once.
        QTRY_COMPARE_WITH_TIMEOUT(device.notices.messages().size(), 4 * (kRecords / 5 + kRecords / 10 + 1),
                                  10000);
        if (d >= 2)
            continue;
        // A new device of the user gets each of the user's records once (the deleted ones not).
        Device fresh{std::make_unique<SyncClient>(server.origin(), u"fresh%1"_s.arg(d))};
        QCOMPARE(fresh.client->login(u"user%1@example.org"_s.arg(d), u"pw"_s).code(), 0);
        QVERIFY(fresh.pull());
        for (int other = d; other < 8; other += 2)
            users.remove(devices[size_t(other)].pushed.first()["file_hash"_L1].toString());
        QCOMPARE(QSet<QString>(fresh.pulled.begin(), fresh.pulled.end()), users);
        QCOMPARE(fresh.pulled.size(), users.size());
    }
}

QTEST_GUILESS_MAIN(TestServerConcurrency)
#include "tst_server_concurrency.moc"
