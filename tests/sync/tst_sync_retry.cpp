// Sync that survives failures: the lanes wait and try again by themselves when the service
// cannot be reached, a clip the service refuses waits for its own next try while the others
// go on, and the answers the service gives (quota full, too large, already stored, busy) each
// lead where they should. Against the real quillet-sync-server on 127.0.0.1, and a recording
// HTTP server for answers the real one gives only in situations hard to make (507, 503, a
// refusal inside a successful answer).
#include "RecordingHttpServer.h"
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "SyncClient.h"
#include "TestDirs.h"
#include "TestFiles.h"
#include "TestSync.h"
#include "menu/ClipFixtures.h"
#include "store/ClipUserDefaults.h"
#include "store/DBKeeper.h"
#include "store/HistoryEdits.h"
#include "store/PathHelper.h"
#include "store/SettingsKeys.h"
#include "store/SyncFailures.h"
#include "support/Clock.h"
#include "support/Database.h"
#include "support/Md5.h"
#include "support/ZipWriter.h"
#include "sync/ClipRequests.h"
#include "sync/MqttManager.h"
#include "sync/SyncLane.h"

#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString kPassword = u"retry password"_s;
// Bounds the waits on the service and the lanes, generous for a busy machine.
constexpr int kWaitMs = 20000;

bool lanesIdle()
{
    return !testSync().historyLane().isRunning() && !testSync().favouriteLane().isRunning()
           && !testSync().fileLane().isRunning();
}

// How often the clip's transfer in the lane failed, and whether for good; {0, false} without a
// failure.
std::pair<qint64, bool> failureOf(SyncFailures::Lane lane, const QString &hash)
{
    std::pair<qint64, bool> failure{0, false};
    DBObject::inDatabase([&](Database &db) {
        SqlQuery rows = db.query("select tries, failed from SyncFailure where file_hash = ? and lane = ?",
                                 {hash, SyncFailures::laneName(lane)});
        if (rows.next())
            failure = {rows.int64(0), rows.int64(1) != 0};
    });
    return failure;
}

// A zipped image record whose archive holds bytes that are not the clip's: the service stores
// archives as they come, so this payload can never be installed.
QJsonObject imageRecord(const QByteArray &image, qint64 timestamp)
{
    return {{u"content"_s, u"thumb"_s},
            {u"timestamp"_s, timestamp},
            {u"file_hash"_s, md5_hex(image)},
            {u"type"_s, u"image_data+zip"_s},
            {u"favourite"_s, 0}};
}

QByteArray archiveOf(const QString &entryName, const QByteArray &bytes)
{
    QTemporaryDir scratch;
    const QString archive = scratch.filePath(u"a.zip"_s);
    return ZipWriter::writeSingleEntry(archive, entryName, bytes) ? TestFiles::read(archive) : QByteArray();
}

} // namespace

class TestSyncRetry final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ServerHarness m_server;
    RecordingHttpServer m_recording;
    std::unique_ptr<SyncClient> m_other;
    int m_users = 0;
    double m_clockOffset = 0;

    void useRecording(int status, const QByteArray &body)
    {
        m_recording.setReply(status, body);
        qputenv("QUILLET_API_URL", (m_recording.origin() + u"/api"_s).toUtf8());
    }

    // Moves this process's clock on, so that clips waiting for their next try fall due.
    void passTime(double seconds)
    {
        m_clockOffset += seconds;
        const double offset = m_clockOffset;
        Clock::setSourceForTesting(
            [offset] { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 + offset; });
    }

private slots:
    void initTestCase() { QVERIFY(m_server.start()); }

    // A fresh account for every case, this device signed in, the other device too.
    void init()
    {
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
        const QString email = u"retry%1@example.org"_s.arg(++m_users);
        QCOMPARE(registerAccount(email, kPassword).code(), 0);
        QVERIFY(testAccount().isSignedIn());
        m_other = std::make_unique<SyncClient>(m_server.origin(), u"other-device"_s);
        QCOMPARE(m_other->login(email, kPassword).code(), 0);
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::lastPullRequestTime));
    }

    void cleanup()
    {
        QVERIFY(QTest::qWaitFor(lanesIdle, 20000));
        // Signing out also forgets every wait and failure.
        testAccount().setLoginUserToken(std::nullopt);
        QCoreApplication::processEvents();
        Clock::setSourceForTesting({});
        m_clockOffset = 0;
        QVERIFY(!testSync().historyLane().hasScheduledTry() && !testSync().fileLane().hasScheduledTry());
    }

    // The wait after the service failed doubles with each of the lane's own tries from 2 s up to
    // 5 min, runs a pass by itself when it is over, and starts over once something went through
    // or the network came back.
    void laneWaitsLongerAfterEachFailureOfTheService()
    {
        QList<SyncLane::Outcome> script;
        int passes = 0;
        SyncLane lane(testSync(), SyncFailures::Lane::History, [&](SyncLane &self) {
            ++passes;
            self.finish(script.isEmpty() ? SyncLane::Outcome::NothingLeft : script.takeFirst());
        });
        QList<int> waits;
        // The wait is over: the lane's own try (called here rather than waited out).
        const auto ownTry = [&] {
            waits << lane.nextRetryMs();
            script = {SyncLane::Outcome::ServiceDown};
            lane.retryDue();
            QVERIFY(lane.hasScheduledTry() && lane.isWaitingForService());
        };
        for (int i = 0; i < 3; ++i)
            ownTry();
        // Passes that events start while the lane waits (copies while the service is down)
        // leave the wait as it is.
        script = {SyncLane::Outcome::ServiceDown, SyncLane::Outcome::ServiceDown};
        lane.process();
        lane.process();
        QCOMPARE(lane.nextRetryMs(), 16000);
        for (int i = 0; i < 7; ++i)
            ownTry();
        QCOMPARE(waits, (QList<int>{2000, 4000, 8000, 16000, 32000, 64000, 128000, 256000, 300000, 300000}));
        QCOMPARE(passes, 12);

        // Something went through: the next failure waits 2 s again, and the pass after the
        // wait comes by itself, without any event.
        script = {SyncLane::Outcome::Sent, SyncLane::Outcome::ServiceDown};
        lane.process();
        QTRY_COMPARE_WITH_TIMEOUT(passes, 14, kWaitMs);
        QVERIFY(lane.hasScheduledTry());
        QCOMPARE(lane.nextRetryMs(), 4000);
        QTRY_COMPARE_WITH_TIMEOUT(passes, 15, 10000);
        QVERIFY(!lane.hasScheduledTry());

        // The network came back: the lane runs at once, its wait started over.
        script = {SyncLane::Outcome::ServiceDown, SyncLane::Outcome::ServiceDown,
                  SyncLane::Outcome::ServiceDown};
        lane.retryDue();
        lane.retryDue();
        QCOMPARE(lane.nextRetryMs(), 8000);
        lane.retryNow();
        QCOMPARE(passes, 18);
        QCOMPARE(lane.nextRetryMs(), 4000);
        lane.reset();
        QVERIFY(!lane.hasScheduledTry() && !lane.isWaitingForService());
    }

    // Service stopped: the clips wait with their change marks and the lane tries again by
    // itself; once the service is back they all arrive, each once.
    void clipsCopiedWhileTheServiceIsDownArriveWhenItIsBack()
    {
        QSignalSpy status(&testSync().status(), &SyncStatus::changed);
        m_server.killService();
        for (int i = 0; i < 3; ++i)
            ClipFixtures::changedText(u"copied while down %1"_s.arg(i), 1700002000 + i);
        testSync().historyLane().process();
        QTRY_VERIFY_WITH_TIMEOUT(testSync().historyLane().isWaitingForService(), 20000);
        QVERIFY(testSync().historyLane().hasScheduledTry());
        QTRY_VERIFY_WITH_TIMEOUT(testSync().status().snapshot().state == SyncStatus::State::Unreachable,
                                 kWaitMs);
        QVERIFY(testSync().status().snapshot().since.isValid());
        QVERIFY(status.count() > 0);
        QVERIFY(storedClip(u"copied while down 0"_s).change_timestamp.value_or(0) > 0);
        // No clip is blamed for the service's absence.
        QVERIFY(SyncFailures::failedForGood().isEmpty());
        QCOMPARE(failureOf(SyncFailures::Lane::History, md5_hex(u"copied while down 2"_s)).first, 0);

        QVERIFY(m_server.restartService());
        // No capture, no menu action: the lane's own retry brings them.
        QTRY_VERIFY_WITH_TIMEOUT(
            !DBKeeper::getUnProcessHistory() && !DBKeeper::getFileProcessHistory() && lanesIdle(), 30000);
        const HttpReply pulled = m_other->pull(0);
        QStringList hashes;
        for (const QJsonValue &record : pulled.histories())
            hashes << record.toObject().value(u"file_hash"_s).toString();
        QCOMPARE(hashes.size(), 3);
        QCOMPARE(QSet<QString>(hashes.begin(), hashes.end()).size(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(testSync().status().snapshot().state == SyncStatus::State::InSync, kWaitMs);
    }

    // A lane that waits long for the service goes as soon as the service says over the broker
    // that it is back, without waiting its wait out.
    void laneGoesWhenTheServiceSaysItIsBack()
    {
        qputenv("QUILLET_MQTT_HOST", "127.0.0.1");
        qputenv("QUILLET_MQTT_PORT", QByteArray::number(m_server.mqttPort()));
        testSync().notices().connect();
        QTRY_VERIFY_WITH_TIMEOUT(testSync().notices().isSubscribed(), kWaitMs);
        m_server.killService();
        ClipFixtures::changedText(u"waits for the service"_s, 1700002100);
        // Four of the lane's own tries: the next one is 16 s away.
        for (int i = 0; i < 4; ++i) {
            testSync().historyLane().retryDue();
            QTRY_VERIFY_WITH_TIMEOUT(!testSync().historyLane().isRunning(), 20000);
        }
        QCOMPARE(testSync().historyLane().nextRetryMs(), 32000);
        QVERIFY(m_server.restartService());
        QTRY_VERIFY_WITH_TIMEOUT(storedClip(u"waits for the service"_s).history_id.value_or(0) > 0, 8000);
    }

    // What each refusal of a push leads to: the change mark stays unless the service took the
    // clip; a refusal of the clip makes it wait for its own try, too large fails it for good;
    // a busy or full service makes the whole lane wait.
    void refusalsOfAPush_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("tries");
        QTest::addColumn<bool>("failedForGood");
        QTest::addColumn<bool>("laneWaits");
        QTest::newRow("unknown code in a successful answer")
            << 200 << QByteArray(R"({"code":7})") << qint64(1) << false << false;
        QTest::newRow("bad request") << 400 << QByteArray(R"({"code":400})") << qint64(1) << false << false;
        QTest::newRow("body too large") << 413 << QByteArray(R"({"code":413})") << qint64(1) << true << false;
        QTest::newRow("headers too large")
            << 431 << QByteArray(R"({"code":431})") << qint64(1) << true << false;
        QTest::newRow("service busy") << 503 << QByteArray(R"({"code":503})") << qint64(0) << false << true;
        QTest::newRow("service failing")
            << 500 << QByteArray(R"({"code":500})") << qint64(0) << false << true;
        QTest::newRow("quota full") << 507 << QByteArray(R"({"code":507})") << qint64(0) << false << true;
    }

    void refusalsOfAPush()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(qint64, tries);
        QFETCH(bool, failedForGood);
        QFETCH(bool, laneWaits);
        QSignalSpy quota(&testSync().status(), &SyncStatus::quotaFull);
        const HistoryModel older = ClipFixtures::changedText(u"an older clip"_s, 1700003000);
        const HistoryModel clip = ClipFixtures::changedText(u"a refused clip"_s, 1700003001);
        // Known to the service already: the change goes as a PUT.
        QVERIFY(DBKeeper::updateHistoryID(41, 0, clip.hash()));
        useRecording(status, body);
        testSync().historyLane().process();
        QTRY_VERIFY_WITH_TIMEOUT(m_recording.requestLines().size() >= 1 && lanesIdle(), kWaitMs);

        QVERIFY(storedClip(u"a refused clip"_s).change_timestamp.value_or(0) > 0);
        QCOMPARE(failureOf(SyncFailures::Lane::History, clip.hash()), std::make_pair(tries, failedForGood));
        QCOMPARE(testSync().historyLane().isWaitingForService(), laneWaits);
        if (!laneWaits) {
            // The lane went on with the older clip meanwhile.
            QTRY_VERIFY_WITH_TIMEOUT(m_recording.requestLines().size() >= 2, kWaitMs);
            QVERIFY(m_recording.requestLines().at(1).startsWith("POST /api/push/"));
        }
        QCOMPARE(quota.count(), status == 507 ? 1 : 0);
        if (status == 507) {
            QVERIFY(testSync().status().snapshot().state == SyncStatus::State::QuotaFull);
            // Told once: the lane's next failure says nothing more.
            testSync().historyLane().process();
            QTRY_VERIFY_WITH_TIMEOUT(m_recording.requestLines().size() >= 2 && lanesIdle(), kWaitMs);
            QCOMPARE(quota.count(), 1);
        }
        Q_UNUSED(older);
    }

    // The refusals a client acts on: -10 makes the clip local only (its change handled),
    // -4 removes a favourite the service lacks; any other code keeps the change mark.
    void refusalCodesTheClientActsOn()
    {
        const HistoryModel clip = ClipFixtures::changedText(u"gone from the service"_s, 1700003100);
        QVERIFY(DBKeeper::updateHistoryID(42, 7, clip.hash()));
        useRecording(200, R"({"code":-10})");
        testSync().historyLane().process();
        QTRY_VERIFY_WITH_TIMEOUT(lanesIdle() && m_recording.requestLines().size() >= 1, kWaitMs);
        const HistoryModel local = storedClip(u"gone from the service"_s);
        QCOMPARE(local.history_id.value_or(-1), 0);
        QCOMPARE(local.change_timestamp.value_or(-1), 0.0);

        ClipFixtures::changedText(u"a favourite"_s, 1700003101);
        HistoryEdits::toggleFavourite(storedClip(u"a favourite"_s), 1700003102);
        QVERIFY(DBKeeper::updateHistoryID(43, 8, md5_hex(u"a favourite"_s)));
        useRecording(200, R"({"code":9})");
        testSync().favouriteLane().process();
        const auto askedToFavourite = [this] {
            const QList<QByteArray> lines = m_recording.requestLines();
            return std::any_of(lines.begin(), lines.end(), [](const QByteArray &line) {
                return line.startsWith("POST /api/set_favourite/");
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(lanesIdle() && askedToFavourite(), kWaitMs);
        QVERIFY(storedClip(u"a favourite"_s, Category::favourite).change_timestamp.value_or(0) > 0);

        SyncFailures::clearAll();
        useRecording(200, R"({"code":-4})");
        testSync().favouriteLane().process();
        QTRY_VERIFY_WITH_TIMEOUT(lanesIdle() && !storedClip(u"a favourite"_s, Category::favourite).isExist(),
                                 kWaitMs);
    }

    // A payload that can never be installed (the service serves bytes that are not the clip's)
    // waits for its own tries while the older payloads come; after five it has failed for good
    // until the user asks again.
    void badNewestPayloadNoLongerBlocksOlderOnes()
    {
        const QByteArray good1 = QByteArray("first good picture ").repeated(200);
        const QByteArray good2 = QByteArray("second good picture ").repeated(200);
        const QByteArray bad = QByteArray("the picture the record names ").repeated(200);
        QCOMPARE(
            m_other->upload(m_other->pushed(imageRecord(good1, 1700004000)), archiveOf(md5_hex(good1), good1))
                .status,
            200);
        QCOMPARE(
            m_other->upload(m_other->pushed(imageRecord(good2, 1700004001)), archiveOf(md5_hex(good2), good2))
                .status,
            200);
        QCOMPARE(m_other
                     ->upload(m_other->pushed(imageRecord(bad, 1700004002)),
                              archiveOf(md5_hex(bad), "other bytes"))
                     .status,
                 200);
        QVERIFY(sendAndWait(std::make_shared<PullClipsManager>()).result);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(PathHelper::getBaseFilePath(md5_hex(good1)))
                                     && QFile::exists(PathHelper::getBaseFilePath(md5_hex(good2))),
                                 20000);
        QCOMPARE(TestFiles::read(PathHelper::getBaseFilePath(md5_hex(good1))), good1);
        QCOMPARE(failureOf(SyncFailures::Lane::File, md5_hex(bad)), std::make_pair(qint64(1), false));
        QTRY_VERIFY_WITH_TIMEOUT(lanesIdle(), kWaitMs);
        // Its own next try is set.
        QVERIFY(testSync().fileLane().hasScheduledTry());

        for (qint64 tries = 2; tries <= SyncFailures::kMaxTries; ++tries) {
            passTime(600);
            testSync().fileLane().process();
            QTRY_COMPARE_WITH_TIMEOUT(failureOf(SyncFailures::Lane::File, md5_hex(bad)).first, tries,
                                      kWaitMs);
            QTRY_VERIFY_WITH_TIMEOUT(lanesIdle(), kWaitMs);
        }
        QCOMPARE(failureOf(SyncFailures::Lane::File, md5_hex(bad)).second, true);
        QVERIFY(SyncFailures::failedForGood().contains(md5_hex(bad)));
        QVERIFY(!DBKeeper::getFileProcessHistory());
        QCOMPARE(testSync().status().snapshot().failed, 1);
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(md5_hex(bad))));

        // "重试": the failure is forgotten and the clip goes again (and fails again, once).
        testSync().retryClip(md5_hex(bad));
        QTRY_COMPARE_WITH_TIMEOUT(failureOf(SyncFailures::Lane::File, md5_hex(bad)),
                                  std::make_pair(qint64(1), false), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(lanesIdle(), kWaitMs);
    }

    // The upload of a payload the service holds already (its answer to the first upload was
    // lost) counts as done: 409.
    void uploadOfAStoredPayloadIsDone()
    {
        const QString text = u"a payload stored twice"_s;
        const QJsonObject record = m_other->pushed(SyncClient::textRecord(text, 1700005000));
        QCOMPARE(m_other->upload(record, text.toUtf8()).status, 200);
        QVERIFY(sendAndWait(std::make_shared<PullClipsManager>()).result);
        QTRY_VERIFY_WITH_TIMEOUT(lanesIdle() && !DBKeeper::getFileProcessHistory(), kWaitMs);
        // As if this device had the payload and had not heard that the upload went through.
        DBKeeper::setRemoteFileReady(0, md5_hex(text));
        DBKeeper::setLocalFileOkWithHash(md5_hex(text));
        testSync().fileLane().process();
        QTRY_VERIFY_WITH_TIMEOUT(lanesIdle(), kWaitMs);
        QCOMPARE(storedClip(text).file_ready.value_or(0), 1);
        QCOMPARE(failureOf(SyncFailures::Lane::File, md5_hex(text)).first, 0);
        QVERIFY(!testSync().fileLane().isWaitingForService());
    }

    // The reply to a POST goes to the row as it is when the reply comes: a favourite marked
    // while the POST was under way keeps its mark, a clip deleted meanwhile stays deleted.
    void postReplyKeepsWhatChangedMeanwhile()
    {
        ClipFixtures::changedText(u"marked during the post"_s, 1700006000);
        testSync().historyLane().process();
        QVERIFY(testSync().historyLane().isRunning());
        HistoryEdits::toggleFavourite(storedClip(u"marked during the post"_s), 1700006001);
        QTRY_VERIFY_WITH_TIMEOUT(lanesIdle() && !DBKeeper::getUnProcessHistory(), kWaitMs);
        const HistoryModel history = storedClip(u"marked during the post"_s);
        QVERIFY(history.history_id.value_or(0) > 0);
        QCOMPARE(history.favourite.value_or(0), 1700006001);
        const HistoryModel favourite = storedClip(u"marked during the post"_s, Category::favourite);
        QVERIFY(favourite.change_timestamp.value_or(0) > 0);

        ClipFixtures::changedText(u"deleted during the post"_s, 1700006002);
        testSync().historyLane().process();
        QVERIFY(testSync().historyLane().isRunning());
        HistoryEdits::deleteClip(md5_hex(u"deleted during the post"_s), testFiles());
        QTRY_VERIFY_WITH_TIMEOUT(lanesIdle(), kWaitMs);
        QVERIFY(!storedClip(u"deleted during the post"_s).isExist());
    }
};

QTEST_GUILESS_MAIN(TestSyncRetry)
#include "tst_sync_retry.moc"
