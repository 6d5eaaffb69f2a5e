// A first sign-in on an account whose other computer already holds many clips (each with its
// payload on the service): how long the pull takes to merge every record (the history then
// keeps its newest 60) and until the kept rows have their payloads, how the process's memory
// grows meanwhile, and whether the main thread (the menu) keeps answering. The real quillet-sync-server and
// broker run on loopback; the records are pushed beforehand by a second device of the account.
//
// Usage: sync_first_signin [--records N]   (default 10000)
// Figures printed: seeding time, pull time, time to payloads, RSS before/after and peak, the longest
// main-thread stall (a 5 ms timer's longest late tick), the slowest menu rebuild during the pull.
#include "ProcessMemory.h"
#include "ServerHarness.h"
#include "SyncClient.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "menu/MenuController.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"
#include "support/Database.h"
#include "sync/AccountRequests.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

qint64 historyRows(const QString &dataPath, bool withPayloadOnly = false)
{
    Database db(QDir(dataPath).filePath(QStringLiteral("clipDB.sqlite")), Database::Access::ReadOnly);
    SqlQuery query = db.query(withPayloadOnly ? "SELECT count(*) FROM History WHERE local_file_ok = 1"
                                              : "SELECT count(*) FROM History");
    return query.next() ? query.int64(0) : 0;
}

} // namespace

int main(int argc, char **argv)
{
    TestDirs dirs;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int records = 10000;
    const QStringList args = QCoreApplication::arguments();
    if (const qsizetype at = args.indexOf(QStringLiteral("--records")); at > 0 && at + 1 < args.size())
        records = std::max(1, args.at(at + 1).toInt());

    ServerHarness server;
    if (!server.start())
        return 1;
    qputenv("QUILLET_API_URL", server.apiUrl().toUtf8());
    qputenv("QUILLET_MQTT_HOST", "127.0.0.1");
    qputenv("QUILLET_MQTT_PORT", QByteArray::number(server.mqttPort()));

    const QString email = QStringLiteral("many.clips@example.org");
    const QString password = QStringLiteral("bench password");
    SyncClient other(server.origin(), SyncClient::md5Hex("the other computer"));
    if (other.registerUser(email, password).code() != 0)
        return 1;
    QElapsedTimer seeding;
    seeding.start();
    for (int i = 0; i < records; ++i) {
        const QByteArray text =
            "clip " + QByteArray::number(i) + " copied on the other computer, with a few words";
        const HttpReply pushed =
            other.pushRecord(SyncClient::textRecord(QString::fromUtf8(text), 1700000000 + i));
        const qint64 fileId = pushed.json.value(QStringLiteral("history"))
                                  .toObject()
                                  .value(QStringLiteral("file_id"))
                                  .toInteger();
        if (pushed.code() != 0 || other.upload(SyncClient::md5Hex(text), fileId, text).status != 200) {
            std::fprintf(stderr, "the service refused record %d\n", i);
            return 1;
        }
    }
    std::printf("seeded %d records in %.1f s\n", records, seeding.elapsed() / 1000.0);

    MenuController menus(testSync());
    menus.buildMenu();
    const qint64 rssBefore = processMemoryKib(QCoreApplication::applicationPid(), "VmRSS:");

    // A 5 ms timer: how late its ticks come is how long the main thread was busy elsewhere.
    QElapsedTimer sinceTick;
    qint64 longestStallMs = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestStallMs = std::max(longestStallMs, sinceTick.restart() - 5); });
    // The menu rebuilt every 100 ms, as a user opening it during the pull would.
    qint64 slowestMenuMs = 0;
    QTimer menuUser;
    menuUser.setInterval(100);
    QObject::connect(&menuUser, &QTimer::timeout, [&] {
        QElapsedTimer build;
        build.start();
        menus.buildMenu();
        slowestMenuMs = std::max(slowestMenuMs, build.elapsed());
    });

    QElapsedTimer pull;
    pull.start();
    sinceTick.start();
    ticker.start();
    menuUser.start();
    auto login = std::make_shared<LoginRequestManager>();
    login->setUser(email);
    login->setPasswd(password);
    bool signedIn = false;
    login->request(testSync(), [&](const RequestResult &result, int, const std::optional<RequestError> &) {
        signedIn = result && RequestManager::replyCode(*result) == 0;
    });
    // The pull has answered once the cursor moved and the menu's pull flag is down again.
    const auto cursor = [] {
        return ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::lastPullRequestTime))
            .value_or(QString());
    };
    const bool pulled = QTest::qWaitFor(
        [&] {
            return signedIn && cursor() != QLatin1String("0") && !cursor().isEmpty()
                   && !menus.actions().isRefresh();
        },
        600000);
    const double pullSeconds = pull.elapsed() / 1000.0;
    // Then the rows the history keeps fetch their payloads.
    const bool fetched = pulled
                         && QTest::qWaitFor(
                             [&] {
                                 return !testSync().fileLane().isRunning()
                                        && historyRows(dirs.dataPath(), true) == historyRows(dirs.dataPath());
                             },
                             600000);
    const double syncSeconds = pull.elapsed() / 1000.0;
    ticker.stop();
    menuUser.stop();
    if (!fetched) {
        std::fprintf(stderr, "the first sync did not finish: %lld rows\n", historyRows(dirs.dataPath()));
        return 1;
    }
    std::printf(
        "first sign-in: %d records pulled and merged in %.2f s; the %lld rows kept have their payloads "
        "after %.2f s\n",
        records, pullSeconds, historyRows(dirs.dataPath()), syncSeconds);
    std::printf("RSS before %lld KiB, after %lld KiB, peak %lld KiB\n", rssBefore,
                processMemoryKib(QCoreApplication::applicationPid(), "VmRSS:"),
                processMemoryKib(QCoreApplication::applicationPid(), "VmHWM:"));
    std::printf("longest main-thread stall %lld ms, slowest menu rebuild %lld ms\n", longestStallMs,
                slowestMenuMs);
    return 0;
}
