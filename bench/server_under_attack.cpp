// The sync service under attack, in one run: a legitimate device's push and empty pull
// latencies (p50, p99, worst) alone, beside 64 connections that trickle their request heads one
// byte a second (reconnecting when cut off), and beside 32 connections flooding bad input;
// then the service's memory while a device pulls an account of 1,000 records of 256 KiB, and
// while three devices pull it at once beside another user's empty pulls.
// Targets: p99 within 3 times the quiet figure, no request over 1 s, and the pull under 100 MB
// above the service's idle memory.

#include "ProcessMemory.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include "support/Database.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QUrl>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPhaseMs = 5000;

// A socket from `from` (a loopback address standing for another machine) to the service.
int connectFrom(const char *from, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0
        || ::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

struct Latencies {
    std::vector<double> push;
    std::vector<double> pull;
    int failures = 0;
};

// The legitimate device: pushes a new clip, then pulls with its cursor (nothing new), for a phase.
Latencies measure(SyncClient &device, const QString &phase)
{
    Latencies l;
    qint64 cursor = device.pull(0).cursor();
    while (device.pull(cursor).value("has_more").toBool())
        cursor = device.pull(cursor).cursor();
    QElapsedTimer phaseTimer;
    phaseTimer.start();
    for (int n = 0; phaseTimer.elapsed() < kPhaseMs; ++n) {
        QElapsedTimer one;
        one.start();
        const HttpReply pushed = device.pushRecord(
            SyncClient::textRecord(phase + QStringLiteral(" clip %1").arg(n), 1700000000 + n));
        l.push.push_back(double(one.nsecsElapsed()) / 1e6);
        one.restart();
        const HttpReply pulled = device.pull(cursor);
        l.pull.push_back(double(one.nsecsElapsed()) / 1e6);
        if (pushed.code() != 0 || pulled.code() != 0)
            ++l.failures;
        else
            cursor = pulled.cursor();
    }
    return l;
}

void print(const char *phase, const char *what, std::vector<double> v, int failures)
{
    std::sort(v.begin(), v.end());
    if (v.empty())
        return;
    std::printf("%-26s %-11s n %6zu  p50 %7.2f ms  p99 %7.2f ms  max %7.2f ms  failures %d\n", phase, what,
                v.size(), v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)], v.back(),
                failures);
}

void report(const char *phase, const Latencies &l)
{
    print(phase, "push", l.push, l.failures);
    print(phase, "empty pull", l.pull, l.failures);
}

// 64 connections from 8 addresses, each sending one byte of its request head a second; a
// connection the service cuts off is opened again.
void trickle(quint16 port, std::atomic<bool> &stop, std::atomic<int> &reconnects)
{
    std::vector<int> fds(64, -1);
    const QByteArray head =
        "GET /api/pull/?device_token=slow&user_token=0123456789abcdef HTTP/1.1\r\nHost: x\r\n";
    std::vector<int> offsets(64, 0);
    while (!stop) {
        for (size_t i = 0; i < fds.size(); ++i) {
            const QByteArray from = "127.0.20." + QByteArray::number(int(i % 8) + 1);
            if (fds[i] < 0) {
                fds[i] = connectFrom(from.constData(), port);
                offsets[i] = 0;
                ++reconnects;
            }
            if (fds[i] >= 0
                && ::send(fds[i], head.constData() + offsets[i] % head.size(), 1, MSG_NOSIGNAL) != 1) {
                ::close(fds[i]);
                fds[i] = -1;
            }
            ++offsets[i];
        }
        for (int waited = 0; waited < 10 && !stop; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
}

// One flooding connection: bad requests back to back (malformed JSON, wrong types, unknown
// tokens), each reply read before the next request.
void flood(quint16 port, const char *from, const QString &token, std::atomic<bool> &stop,
           std::atomic<int> &sent)
{
    const QByteArray bodies[] = {"{not json", "{\"history\": 5}", QByteArray(20000, '['),
                                 "{\"history\": {\"file_hash\": 12}}"};
    int fd = -1;
    char buffer[65536];
    for (int n = 0; !stop; ++n) {
        if (fd < 0 && (fd = connectFrom(from, port)) < 0)
            return;
        const QByteArray &body = bodies[n % 4];
        const QByteArray path = n % 5 == 4 ? "/api/push/?device_token=f&user_token=" + QByteArray(64, 'f')
                                           : "/api/push/?device_token=f&user_token=" + token.toLatin1();
        const QByteArray request = "POST " + path + " HTTP/1.1\r\nHost: x\r\nContent-Length: "
                                   + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        bool ok = ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == request.size();
        // Replies are small; one read that ends with the JSON body's closing brace is a whole reply.
        QByteArray reply;
        while (ok && !reply.endsWith('}')) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            ok = got > 0;
            if (ok)
                reply.append(buffer, got);
        }
        if (!ok) {
            ::close(fd);
            fd = -1;
        }
        ++sent;
    }
    if (fd >= 0)
        ::close(fd);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ServerHarness server;
    ServerHarness::Options options;
    // The harness lifts the limit on bad input per address for tests; here it is the default.
    options.config = {{QStringLiteral("bad_requests_per_address_per_second"), 50}};
    if (!server.start(options)) {
        std::fprintf(stderr, "the service did not start\n");
        return 1;
    }
    const quint16 port = quint16(QUrl(server.origin()).port());
    SyncClient device(server.origin(), QStringLiteral("legit"));
    SyncClient attacker(server.origin(), QStringLiteral("attacker"));
    device.registerUser(QStringLiteral("legit@example.org"), QStringLiteral("pw"));
    attacker.registerUser(QStringLiteral("attacker@example.org"), QStringLiteral("pw"));
    // The device's other computer, so that pulls have a cursor to keep.
    device.pushRecord(SyncClient::textRecord(QStringLiteral("warm-up"), 1700000000));

    report("alone", measure(device, QStringLiteral("alone")));

    {
        std::atomic<bool> stop{false};
        std::atomic<int> reconnects{0};
        std::thread trickler([&] { trickle(port, stop, reconnects); });
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const Latencies l = measure(device, QStringLiteral("slow"));
        stop = true;
        trickler.join();
        report("64 slow connections", l);
        std::printf("%-26s slow connections opened %d\n", "", reconnects.load());
    }
    {
        std::atomic<bool> stop{false};
        std::atomic<int> sent{0};
        std::vector<std::thread> flooders;
        const QString token = attacker.userToken();
        static const char *addresses[] = {"127.0.30.1", "127.0.30.2", "127.0.30.3", "127.0.30.4"};
        for (int i = 0; i < 32; ++i)
            flooders.emplace_back([&, i] { flood(port, addresses[i % 4], token, stop, sent); });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        QElapsedTimer elapsed;
        elapsed.start();
        const Latencies l = measure(device, QStringLiteral("flood"));
        const double seconds = double(elapsed.elapsed()) / 1000.0;
        stop = true;
        for (auto &t : flooders)
            t.join();
        report("32-connection bad flood", l);
        std::printf("%-26s bad requests answered %.0f/s\n", "", double(sent.load()) / seconds);
    }

    // Alone again: the history has grown by the clips pushed above, which slows pushes on its
    // own; this tells that apart from the attacks.
    report("alone again", measure(device, QStringLiteral("again")));

    // An account of 1,000 records of 256 KiB, written straight into the database.
    SyncClient big(server.origin(), QStringLiteral("big-device"));
    big.registerUser(QStringLiteral("big@example.org"), QStringLiteral("pw"));
    {
        Database db(server.dataDir() + QStringLiteral("/sync.sqlite"));
        db.exec("BEGIN");
        for (int i = 0; i < 1000; ++i) {
            const QString text =
                QString(256 * 1024 - 8, QChar(u'a' + i % 26)) + QString::number(i).rightJustified(8);
            db.exec(
                "insert into records (user_id, file_hash, file_id, content, timestamp, device_name, type, seq, "
                "changed_by) values (?, ?, ?, ?, ?, 'other', 'text_large', ?, 'other-device')",
                {big.userId(), SyncClient::md5Hex(text.toUtf8()), qint64(i + 1), text, qint64(1700000000 + i),
                 qint64(i + 1)});
        }
        db.exec("update users set seq = ? where id = ?", {qint64(1000), big.userId()});
        db.exec("COMMIT");
    }
    const qint64 pid = server.servicePid();
    const qint64 idle = processMemoryKib(pid);
    std::atomic<bool> pulling{true};
    std::atomic<qint64> peak{idle};
    std::thread sampler([&] {
        while (pulling) {
            peak = std::max(peak.load(), processMemoryKib(pid));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    // The whole account pulled from 0 by one device, then by three at once while another
    // user's device pulls nothing new.
    const auto pullAll = [&server, &big](int *records, int *pages) {
        SyncClient reader(server.origin(), QStringLiteral("big-reader"));
        reader.setUserToken(big.userToken());
        qint64 cursor = 0;
        for (bool more = true; more && *pages < 2000; ++*pages) {
            const HttpReply page = reader.pull(cursor);
            *records += int(page.histories().size());
            more = page.value("has_more").toBool();
            cursor = page.cursor();
        }
    };
    QElapsedTimer pullTime;
    pullTime.start();
    int records = 0;
    int pages = 0;
    pullAll(&records, &pages);
    const double oneSeconds = double(pullTime.elapsed()) / 1000.0;
    const qint64 peakOne = peak.load();
    std::printf(
        "pull of 1,000 x 256 KiB: %d records in %d pages, %.1f s; service RSS idle %lld KiB, peak %lld KiB "
        "(+%lld KiB)\n",
        records, pages, oneSeconds, idle, peakOne, peakOne - idle);

    std::atomic<int> running{3};
    std::vector<std::thread> readers;
    int counts[3][2] = {};
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&, i] {
            pullAll(&counts[i][0], &counts[i][1]);
            --running;
        });
    std::vector<double> quiet;
    qint64 cursor = device.pull(0).cursor();
    while (running > 0) {
        QElapsedTimer one;
        one.start();
        cursor = device.pull(cursor).cursor();
        quiet.push_back(double(one.nsecsElapsed()) / 1e6);
    }
    for (auto &t : readers)
        t.join();
    pulling = false;
    sampler.join();
    print("3 large pulls at once", "other pull", quiet, 0);
    std::printf(
        "3 large pulls at once: %d, %d, %d records; service RSS peak %lld KiB (+%lld KiB above idle)\n",
        counts[0][0], counts[1][0], counts[2][0], peak.load(), peak.load() - idle);
    return 0;
}
