// Many devices at once: 20 devices of 4 users push and pull for a bounded time; afterwards every
// record is accounted for, on the service and in what each device pulled, and no user sees
// another's.

#include "ServerHarness.h"
#include "SyncClient.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QSet>
#include <QTest>

#include <thread>

using namespace Qt::StringLiterals;

namespace {

constexpr int kUsers = 4;
constexpr int kDevicesPerUser = 5;
constexpr int kRunMs = 2000;
constexpr int kMaxPushesPerDevice = 400;

struct DeviceRun {
    std::unique_ptr<SyncClient> client;
    int user = 0;
    QSet<QString> pushed;
    QSet<QString> pulled;
    qint64 cursor = 0;
    int failures = 0;
};

// Pulls from `cursor` until nothing new arrives (the service pages large results).
bool pullAll(SyncClient &client, qint64 *cursor, QSet<QString> *hashes, QSet<qint64> *ids = nullptr)
{
    for (int page = 0; page < 100; ++page) {
        const HttpReply reply = client.pull(*cursor);
        if (reply.status != 200 || reply.code() != 0) {
            qWarning("pull failed: %d %s", reply.status, reply.body.constData());
            return false;
        }
        const QJsonArray records = reply.histories();
        for (const QJsonValue &v : records) {
            hashes->insert(v.toObject().value(u"file_hash"_s).toString());
            if (ids)
                ids->insert(v.toObject().value(u"history_id"_s).toInteger());
        }
        const qint64 next = reply.cursor();
        if (records.isEmpty() && next == *cursor)
            return true;
        *cursor = next;
    }
    return false;
}

} // namespace

class TestServerConcurrency final : public QObject
{
    Q_OBJECT

private slots:
    void manyDevicesPushAndPull();

private:
    ServerHarness m_server;
};

void TestServerConcurrency::manyDevicesPushAndPull()
{
    ServerHarness::Options options;
    // Small pages, so that paging is part of the run.
    options.config = {{u"max_pull_records"_s, 200}};
    QVERIFY(m_server.start(options));
    std::vector<DeviceRun> devices(kUsers * kDevicesPerUser);
    QStringList tokens;
    for (int u = 0; u < kUsers; ++u) {
        const QString email = u"load%1@example.org"_s.arg(u);
        for (int d = 0; d < kDevicesPerUser; ++d) {
            DeviceRun &run = devices[size_t(u * kDevicesPerUser + d)];
            run.user = u;
            run.client = std::make_unique<SyncClient>(m_server.origin(), u"load-%1-%2"_s.arg(u).arg(d));
            const HttpReply reply =
                d == 0 ? run.client->registerUser(email, u"pw"_s) : run.client->login(email, u"pw"_s);
            QCOMPARE(reply.code(), 0);
        }
    }

    std::vector<std::thread> threads;
    for (size_t i = 0; i < devices.size(); ++i) {
        threads.emplace_back([&run = devices[i], i] {
            QElapsedTimer timer;
            timer.start();
            for (int n = 0; n < kMaxPushesPerDevice && timer.elapsed() < kRunMs; ++n) {
                // Every fifth clip is one all devices of the user capture: it must stay one record.
                const QString text =
                    n % 5 == 0 ? u"shared %1 %2"_s.arg(run.user).arg(n) : u"clip %1 %2"_s.arg(i).arg(n);
                const HttpReply pushed = run.client->pushRecord(SyncClient::textRecord(text, 1700000000 + n));
                if (pushed.code() != 0) {
                    qWarning("push failed: %d %s", pushed.status, pushed.body.constData());
                    ++run.failures;
                    continue;
                }
                run.pushed.insert(SyncClient::md5Hex(text.toUtf8()));
                if (n % 3 == 0 && !pullAll(*run.client, &run.cursor, &run.pulled))
                    ++run.failures;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();

    QHash<int, QSet<QString>> expected;
    for (const DeviceRun &run : devices) {
        QCOMPARE(run.failures, 0);
        QVERIFY2(run.pushed.size() > 10, qPrintable(QString::number(run.pushed.size())));
        expected[run.user] += run.pushed;
    }
    QSet<qint64> allIds;
    int totalRecords = 0;
    for (int u = 0; u < kUsers; ++u) {
        // A new device of the user receives exactly the user's records.
        SyncClient fresh(m_server.origin(), u"fresh-%1"_s.arg(u));
        QCOMPARE(fresh.login(u"load%1@example.org"_s.arg(u), u"pw"_s).code(), 0);
        qint64 cursor = 0;
        QSet<QString> onService;
        QSet<qint64> ids;
        QVERIFY(pullAll(fresh, &cursor, &onService, &ids));
        QCOMPARE(onService, expected[u]);
        QCOMPARE(ids.size(), onService.size());
        totalRecords += int(ids.size());
        allIds += ids;
    }
    // History ids are never shared between users.
    QCOMPARE(allIds.size(), totalRecords);

    // Each device, pulling on from its cursor, has seen every record of its user: its cursor
    // never skipped a record that committed concurrently.
    for (DeviceRun &run : devices) {
        QVERIFY(pullAll(*run.client, &run.cursor, &run.pulled));
        QCOMPARE(run.pulled + run.pushed, expected[run.user]);
    }
    qInfo("%d records from %d devices", totalRecords, int(devices.size()));
}

QTEST_GUILESS_MAIN(TestServerConcurrency)
#include "tst_server_concurrency.moc"
