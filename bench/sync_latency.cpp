// From a copy on one computer to the payload file on the other: two quillet processes (own
// folders, X servers and device tokens) signed in to one account on the real quillet-sync-server
// and broker over loopback. This process copies a new text on A at random moments (xclip on A's
// display), starts the clock when the text is offered, and stops it when B's files/HASH holds
// the text. Measured at the default poll interval (0.6 s) and at 0.1 s. At 0.6 s, also a
// favourite marked from A's menu until B holds it as a favourite.
//
// Then an outage: the service is stopped, A copies five texts while it is down, and after
// --outage seconds (60 by default; 0 skips this part) the service starts again; the clock runs
// from the moment it listens again until the last of the five is complete on B (target < 5 s).
//
// Usage: sync_latency [--copies N] [--outage SECONDS] [--quillet PATH]   (default 20 copies per interval)
// Other work on the machine shows in the figures; compare figures of one run.
#include "ClipboardPrograms.h"
#include "QuilletDevice.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = size_t(std::clamp(p * double(values.size() - 1), 0.0, double(values.size() - 1)));
    return values[at];
}

QuilletDevice::Account accountOf(const SyncClient &client, const QString &email)
{
    return {client.userToken(), client.userId(), email, client.mqttUser(), client.mqttPassword()};
}

bool isFavourite(QuilletDevice &device, const QString &hash)
{
    const QList<QuilletDevice::Row> rows = device.rows();
    return std::any_of(rows.begin(), rows.end(), [&](const QuilletDevice::Row &row) {
        return row.hash == hash && row.category == QLatin1String("favourite") && row.favourite > 0;
    });
}

// A favourite from A to B: a new clip is copied on A and waited for on B, then marked from A's
// menu as its user would (hot key, arrows, Return); the clock runs from sending the Return until
// B holds the clip as a favourite. Milliseconds of each favourite that arrived within 15 s.
std::vector<double> favouriteLatencies(QuilletDevice &a, QuilletDevice &b, ClipboardPrograms &programs,
                                       int count)
{
    std::vector<double> latencies;
    for (int i = 0; i < count; ++i) {
        const QByteArray text = QByteArray("favourite probe ") + QByteArray::number(i) + ' '
                                + QByteArray::number(QRandomGenerator::global()->generate64());
        const QString hash = SyncClient::md5Hex(text);
        QProcess &xclip = programs.start(QStringLiteral("xclip"),
                                         {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                          QStringLiteral("clipboard"), QStringLiteral("-i")},
                                         a.displayEnvironment());
        if (!xclip.waitForStarted(10000))
            break;
        xclip.write(text);
        xclip.closeWriteChannel();
        if (!QTest::qWaitFor([&] { return b.row(hash).localFileOk; }, 15000))
            continue;
        // The newest clip's submenu: "收藏" comes before "分享" and "删除", its last items.
        if (!a.chooseFromMenu({QStringLiteral("Down"), QStringLiteral("Right"), QStringLiteral("Up"),
                               QStringLiteral("Up"), QStringLiteral("Up")}))
            continue;
        // The clock starts as the key that marks it is sent (the xdotool run is counted in).
        QElapsedTimer clock;
        clock.start();
        QProcess &press =
            programs.start(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")},
                           a.displayEnvironment());
        if (!press.waitForStarted(10000))
            continue;
        if (QTest::qWaitFor([&] { return isFavourite(b, hash); }, 15000))
            latencies.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return latencies;
}

// Copies text on the device's display as another program would.
bool copyOn(ClipboardPrograms &programs, QuilletDevice &device, const QByteArray &text)
{
    QProcess &xclip = programs.start(QStringLiteral("xclip"),
                                     {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                      QStringLiteral("clipboard"), QStringLiteral("-i")},
                                     device.displayEnvironment());
    if (!xclip.waitForStarted(10000))
        return false;
    xclip.write(text);
    xclip.closeWriteChannel();
    return true;
}

bool measureOutage(ServerHarness &server, const QuilletDevice::Service &service, const QString &program,
                   const SyncClient &clientA, const SyncClient &clientB, const QString &email,
                   int outageSeconds)
{
    QuilletDevice a(program, clientA.deviceToken());
    QuilletDevice b(program, clientB.deviceToken());
    if (!a.start(service, accountOf(clientA, email)) || !b.start(service, accountOf(clientB, email))
        || !a.waitForNotices() || !b.waitForNotices()) {
        std::fprintf(stderr, "the two computers did not start:\n%s\n%s\n", a.log().constData(),
                     b.log().constData());
        return false;
    }
    ClipboardPrograms programs;
    QElapsedTimer outage;
    outage.start();
    server.killService();
    constexpr int kCopies = 5;
    QStringList paths;
    QList<qint64> sizes;
    for (int i = 0; i < kCopies; ++i) {
        // Spread over the first part of the outage, each seen by A's capture before the next.
        QTest::qWait(std::max(300, outageSeconds * 1000 / (3 * kCopies)));
        const QByteArray text = QByteArray("copied during the outage ") + QByteArray::number(i) + ' '
                                + QByteArray::number(QRandomGenerator::global()->generate64());
        paths << b.dataPath() + QStringLiteral("/files/") + SyncClient::md5Hex(text);
        sizes << text.size();
        if (!copyOn(programs, a, text))
            return false;
    }
    const qint64 left = qint64(outageSeconds) * 1000 - outage.elapsed();
    if (left > 0)
        QTest::qWait(int(left));
    if (!server.restartService())
        return false;
    QElapsedTimer clock;
    clock.start();
    const auto allArrived = [&] {
        for (int i = 0; i < kCopies; ++i) {
            if (QFile(paths.at(i)).size() != sizes.at(i))
                return false;
        }
        return true;
    };
    const bool arrived = QTest::qWaitFor(allArrived, 10 * 60 * 1000);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (!arrived) {
        std::printf(
            "outage %d s: the %d clips copied meanwhile had not all reached B %.0f s after the service "
            "returned\n",
            outageSeconds, kCopies, seconds);
        return true;
    }
    std::printf("outage %d s: service back to the last of %d clips complete on B %.2f s (target < 5 s)\n",
                outageSeconds, kCopies, seconds);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    int copies = 20;
    QString program = QStringLiteral(QUILLET_PROGRAM);
    if (const qsizetype at = args.indexOf(QStringLiteral("--copies")); at > 0 && at + 1 < args.size())
        copies = std::max(1, args.at(at + 1).toInt());
    if (const qsizetype at = args.indexOf(QStringLiteral("--quillet")); at > 0 && at + 1 < args.size())
        program = args.at(at + 1);
    int outageSeconds = 60;
    if (const qsizetype at = args.indexOf(QStringLiteral("--outage")); at > 0 && at + 1 < args.size())
        outageSeconds = std::max(0, args.at(at + 1).toInt());

    ServerHarness server;
    if (!server.start())
        return 1;
    const QString email = QStringLiteral("latency@example.org");
    const QString password = QStringLiteral("bench password");
    SyncClient clientA(server.origin(), SyncClient::md5Hex("computer A"));
    SyncClient clientB(server.origin(), SyncClient::md5Hex("computer B"));
    if (clientA.registerUser(email, password).code() != 0 || clientB.login(email, password).code() != 0)
        return 1;
    const QuilletDevice::Service service{server.apiUrl(), server.mqttPort()};

    int serial = 0;
    for (const double poll : {0.6, 0.1}) {
        QuilletDevice a(program, clientA.deviceToken());
        QuilletDevice b(program, clientB.deviceToken());
        if (!a.start(service, accountOf(clientA, email), poll)
            || !b.start(service, accountOf(clientB, email), poll) || !a.waitForNotices()
            || !b.waitForNotices()) {
            std::fprintf(stderr, "the two computers did not start:\n%s\n%s\n", a.log().constData(),
                         b.log().constData());
            return 1;
        }
        ClipboardPrograms programs;
        std::vector<double> latencies;
        int missed = 0;
        for (int i = 0; i < copies; ++i) {
            QTest::qWait(int(QRandomGenerator::global()->bounded(300, 900)));
            const QByteArray text = QByteArray("latency probe ") + QByteArray::number(++serial) + ' '
                                    + QByteArray::number(QRandomGenerator::global()->generate64());
            const QString path = b.dataPath() + QStringLiteral("/files/") + SyncClient::md5Hex(text);
            QProcess &xclip = programs.start(QStringLiteral("xclip"),
                                             {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                              QStringLiteral("clipboard"), QStringLiteral("-i")},
                                             a.displayEnvironment());
            if (!xclip.waitForStarted(10000))
                return 1;
            xclip.write(text);
            xclip.closeWriteChannel();
            QElapsedTimer clock;
            clock.start();
            if (!QTest::qWaitFor([&] { return QFile(path).size() == text.size(); }, 15000)) {
                ++missed;
                continue;
            }
            latencies.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        std::printf(
            "poll %.1f s: %zu/%d arrived; copy on A to payload on B p50 %.0f ms, p90 %.0f ms, max %.0f ms "
            "(target p50 < %.0f ms)\n",
            poll, latencies.size(), copies, percentile(latencies, 0.5), percentile(latencies, 0.9),
            percentile(latencies, 1.0), poll * 1000 + 300);
        if (missed > 0)
            std::printf("  %d copies did not arrive within 15 s\n", missed);
        if (poll == 0.6) {
            const int favourites = std::max(3, copies / 4);
            const std::vector<double> marked = favouriteLatencies(a, b, programs, favourites);
            std::printf("favourite marked on A to favourite on B: %zu/%d arrived; p50 %.0f ms, max %.0f ms\n",
                        marked.size(), favourites, percentile(marked, 0.5), percentile(marked, 1.0));
        }
    }
    if (outageSeconds > 0 && !measureOutage(server, service, program, clientA, clientB, email, outageSeconds))
        return 1;
    return 0;
}
