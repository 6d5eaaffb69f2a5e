// Throughput and latency of the sync service on loopback: pushes and empty pulls with 1, 8 and
// 32 devices at once, then pulls for a user with 100k records and a cursor near the end, with
// the service's memory (RSS) before and after.

#include "ProcessMemory.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include "support/Database.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kPhaseMs = 3000;
constexpr int kBigHistory = 100000;

struct Figures {
    double perSecond = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    int failures = 0;
};

Figures summarise(std::vector<double> latencies, double seconds, int failures)
{
    Figures f;
    f.failures = failures;
    if (latencies.empty())
        return f;
    std::sort(latencies.begin(), latencies.end());
    f.perSecond = double(latencies.size()) / seconds;
    f.p50Ms = latencies[latencies.size() / 2];
    f.p99Ms = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    return f;
}

// Runs `step` on `clients` threads for kPhaseMs; each call is one timed request.
template<typename Step> Figures run(std::vector<std::unique_ptr<SyncClient>> &clients, Step step)
{
    std::vector<std::vector<double>> perThread(clients.size());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    QElapsedTimer wall;
    wall.start();
    for (size_t i = 0; i < clients.size(); ++i) {
        threads.emplace_back([&, i] {
            QElapsedTimer timer;
            timer.start();
            for (int n = 0; timer.elapsed() < kPhaseMs; ++n) {
                QElapsedTimer one;
                one.start();
                if (!step(*clients[i], int(i), n))
                    ++failures;
                perThread[i].push_back(double(one.nsecsElapsed()) / 1e6);
            }
        });
    }
    for (auto &t : threads)
        t.join();
    std::vector<double> all;
    for (auto &v : perThread)
        all.insert(all.end(), v.begin(), v.end());
    return summarise(all, double(wall.elapsed()) / 1000.0, failures);
}

void print(const char *what, int clients, const Figures &f)
{
    std::printf("%-28s %2d clients: %8.0f req/s  p50 %7.2f ms  p99 %7.2f ms  failures %d\n", what, clients,
                f.perSecond, f.p50Ms, f.p99Ms, f.failures);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ServerHarness server;
    if (!server.start()) {
        std::fprintf(stderr, "the service did not start\n");
        return 1;
    }
    std::printf("service pid %lld, RSS at start %lld KiB\n", server.servicePid(),
                processMemoryKib(server.servicePid()));

    for (int count : {1, 8, 32}) {
        std::vector<std::unique_ptr<SyncClient>> clients;
        for (int i = 0; i < count; ++i) {
            clients.push_back(std::make_unique<SyncClient>(server.origin(),
                                                           QStringLiteral("bench-%1-%2").arg(count).arg(i)));
            clients.back()->registerUser(QStringLiteral("bench%1-%2@example.org").arg(count).arg(i),
                                         QStringLiteral("pw"));
        }
        const Figures push = run(clients, [count](SyncClient &c, int i, int n) {
            const QString text = QStringLiteral("bench %1 %2 %3").arg(count).arg(i).arg(n);
            return c.pushRecord(SyncClient::textRecord(text, 1700000000 + n)).code() == 0;
        });
        print("push", count, push);
        std::vector<qint64> cursors;
        for (auto &c : clients)
            cursors.push_back(c->pull(0).json.value(QStringLiteral("request_timestamp")).toInteger());
        const Figures pull = run(clients, [&cursors](SyncClient &c, int i, int) {
            const HttpReply r = c.pull(cursors[size_t(i)]);
            return r.code() == 0 && r.json.value(QStringLiteral("histories")).toArray().isEmpty();
        });
        print("pull, nothing new", count, pull);
    }

    // A user with a long history: the rows are written straight into the database, then read
    // through the service.
    SyncClient big(server.origin(), QStringLiteral("big-device"));
    big.registerUser(QStringLiteral("big@example.org"), QStringLiteral("pw"));
    const qint64 rssBefore = processMemoryKib(server.servicePid());
    {
        Database db(server.dataDir() + QStringLiteral("/sync.sqlite"));
        db.exec("BEGIN");
        for (int i = 0; i < kBigHistory; ++i) {
            const QString text = QStringLiteral("history clip %1").arg(i);
            db.exec(
                "insert into records (user_id, file_hash, file_id, content, timestamp, device_name, type, seq, "
                "changed_by) values (?, ?, ?, ?, ?, 'other', 'text_txt', ?, 'other-device')",
                {big.userId(), SyncClient::md5Hex(text.toUtf8()), qint64(i + 1), text, qint64(1700000000 + i),
                 qint64(i + 1)});
        }
        db.exec("update users set seq = ? where id = ?", {qint64(kBigHistory), big.userId()});
        db.exec("COMMIT");
    }
    std::vector<std::unique_ptr<SyncClient>> one;
    one.push_back(std::make_unique<SyncClient>(server.origin(), QStringLiteral("big-device")));
    one.back()->setUserToken(big.userToken());
    const Figures nearEnd = run(one, [](SyncClient &c, int, int) {
        const HttpReply r = c.pull(kBigHistory - 10);
        return r.code() == 0 && r.json.value(QStringLiteral("histories")).toArray().size() == 10;
    });
    print("pull, 100k, last 10", 1, nearEnd);
    const Figures fullPages = run(one, [](SyncClient &c, int, int n) {
        const HttpReply r = c.pull(qint64(n % 100) * 1000);
        return r.code() == 0;
    });
    print("pull, 100k, 1000-record pages", 1, fullPages);
    std::printf("service RSS before the 100k history %lld KiB, after reading it %lld KiB\n", rssBefore,
                processMemoryKib(server.servicePid()));
    return 0;
}
