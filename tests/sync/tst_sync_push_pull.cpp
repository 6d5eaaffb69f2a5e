// The push, pull, favourite and file lanes against the real quillet-sync-server on 127.0.0.1,
// with a second device of the same user played by a plain protocol client: what goes and what
// never goes, what comes back, and how the lanes wait and try again when the service fails or
// refuses (a recording HTTP server gives the answers the real one gives only in situations
// hard to make: 507, 503, a refusal inside a successful answer).
#include "RecordingHttpServer.h"
#include "RequestOutcome.h"
#include "TestDirs.h"
#include "TestFiles.h"
#include "menu/ClipFixtures.h"
#include "store/DBKeeper.h"
#include "store/HistoryEdits.h"
#include "store/HistorySearch.h"
#include "store/PathHelper.h"
#include "store/SyncFailures.h"
#include "support/Clock.h"
#include "support/Database.h"
#include "support/PayloadLimit.h"
#include "support/ZipWriter.h"
#include "sync/ClipRequests.h"
#include "sync/MqttManager.h"
#include "sync/PushClipsManager.h"
#include "sync/ServiceRequests.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 20000;

bool pushDrained()
{
    return lanesIdle() && !DBKeeper::getUnProcessHistory();
}

bool pulled()
{
    return bool(sendAndWait(std::make_shared<PullClipsManager>()).result);
}

// The hashes of the records a pull from the start gives the device.
QSet<QString> hashesOn(SyncClient &device)
{
    QSet<QString> hashes;
    for (const QJsonValue &record : device.pull(0).histories())
        hashes << record.toObject().value(u"file_hash"_s).toString();
    return hashes;
}

// How often the clip's transfer in the lane failed, and whether for good; {0, false} without.
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

} // namespace

class TestSyncPushPull final : public QObject
{
    Q_OBJECT

    TestDirs m_dirs;
    ServerHarness m_server;
    RecordingHttpServer m_recording;
    std::unique_ptr<SyncClient> m_other;
    int m_users = 0;

    void useRecording(int status, const QByteArray &body)
    {
        m_recording.setReply(status, body);
        qputenv("QUILLET_API_URL", (m_recording.origin() + u"/api"_s).toUtf8());
    }

    // Pushes the clips waiting and waits until the lanes are done.
    static bool pushAll()
    {
        testSync().historyLane().process();
        return QTest::qWaitFor(pushDrained, kWaitMs);
    }

private slots:
    void initTestCase() { QVERIFY(m_server.start()); }

    void init()
    {
        m_other = freshAccount(m_server, u"push%1@example.org"_s.arg(++m_users));
        QVERIFY(m_other);
    }

    void cleanup()
    {
        QVERIFY(QTest::qWaitFor(lanesIdle, kWaitMs));
        // Signing out also forgets every wait and failure.
        testAccount().setLoginUserToken(std::nullopt);
        QCoreApplication::processEvents();
        Clock::setSourceForTesting({});
        QVERIFY(!testSync().historyLane().hasScheduledTry() && !testSync().fileLane().hasScheduledTry());
    }

    // Secret clips and clips over the size limit never leave; one at the limit does, and the
    // clips go one request at a time, newest first.
    void pushesNewestFirstAndNeverSecrets()
    {
        ClipFixtures::changedText(u"older"_s, 1700000000);
        ClipFixtures::changedText(u"newer"_s, 1700000001);
        ClipFixtures::changedText(u"my password 123"_s, 1700000002, true);
        ClipFixtures::changedText(u"at limit"_s, 1700000003, false, double(kMaxPayloadBytes));
        ClipFixtures::changedText(u"huge clip"_s, 1700000004, false, double(kMaxPayloadBytes + 1));
        QVERIFY(pushAll());
        QVERIFY(storedClip(u"newer"_s).history_id < storedClip(u"older"_s).history_id);
        QCOMPARE(hashesOn(*m_other),
                 (QSet<QString>{md5_hex(u"older"_s), md5_hex(u"newer"_s), md5_hex(u"at limit"_s)}));
        QVERIFY(!m_server.storedBytes().contains("my password 123"));
        // Asked directly, the clip sender refuses a secret clip too, completing once.
        int calls = 0;
        testSync().clips().Post(storedClip(u"my password 123"_s), [&](const auto &result, const auto &error) {
            QVERIFY(!result && !error);
            ++calls;
        });
        QTRY_COMPARE(calls, 1);
        QVERIFY(!hashesOn(*m_other).contains(md5_hex(u"my password 123"_s)));
    }

    // A pull merges what has a payload, the file lane fetches it, the cursor is stored; a clip
    // deleted elsewhere goes at the next pull; the trim after a pull keeps the history length.
    void pullMergesDeletesAndMovesTheCursor()
    {
        const QString text = u"from the other device"_s;
        const QJsonObject remote = m_other->pushed(SyncClient::textRecord(text, 1700000500));
        QCOMPARE(m_other->upload(remote, text.toUtf8()).status, 200);
        QCOMPARE(m_other->pushRecord(SyncClient::textRecord(u"no payload"_s, 1700000501)).code(), 0);
        for (int i = 0; i < 70; ++i)
            ClipFixtures::text(u"kept clip %1"_s.arg(i), 1600000000 + i);
        testSettings().setHistoryLength(500);
        QVERIFY(pulled());
        QTRY_COMPARE_WITH_TIMEOUT(TestFiles::read(PathHelper::getBaseFilePath(md5_hex(text))), text.toUtf8(),
                                  kWaitMs);
        QVERIFY(!storedClip(u"no payload"_s).isExist());
        QCOMPARE(HistorySearch::find(u"kept clip"_s).size(), 70);
        QVERIFY(ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::lastPullRequestTime))
                    .value_or(QString())
                    .toLongLong()
                > 0);

        QCOMPARE(m_other->deleteRecord(remote).code(), 0);
        testSettings().setHistoryLength(60);
        QVERIFY(pulled());
        QVERIFY(!storedClip(text).isExist());
        QCOMPARE(HistorySearch::find(QString()).size(), 60);
        QVERIFY(!storedClip(u"kept clip 9"_s).isExist());
    }

    // Favourite marks meet by time: a mark made here is sent, one made elsewhere arrives at the
    // reconciliation, and a later unmark elsewhere removes the mark here.
    void favouritesReconcileByTimeBothWays()
    {
        const qint64 t = 1700000700;
        ClipFixtures::changedText(u"liked"_s, t);
        ClipFixtures::changedText(u"liked elsewhere"_s, t + 1);
        QVERIFY(pushAll());
        HistoryEdits::toggleFavourite(storedClip(u"liked"_s), t + 100);
        testSync().favouriteLane().process();
        QVERIFY(QTest::qWaitFor([] { return lanesIdle() && !DBKeeper::getUnProcessFavourite(); }, kWaitMs));
        QCOMPARE(m_other->getFavourites().histories().size(), 1);

        const auto setElsewhere = [this, t](const QString &text, qint64 mark) {
            QJsonObject record = SyncClient::textRecord(text, t);
            record.insert(u"history_id"_s, storedClip(text).history_id.value_or(0));
            record.insert(u"favourite"_s, mark);
            QCOMPARE(m_other->setFavourite(record).code(), 0);
        };
        setElsewhere(u"liked elsewhere"_s, t + 200);
        setElsewhere(u"liked"_s, -(t + 300));
        QVERIFY(sendAndWait(std::make_shared<GetFavouriteRequestManager>()).result);
        QCOMPARE(storedClip(u"liked elsewhere"_s, Category::favourite).favourite.value_or(0), t + 200);
        QVERIFY(!storedClip(u"liked"_s, Category::favourite).isExist());
        QCOMPARE(storedClip(u"liked"_s).favourite.value_or(-1), 0);
    }

    // The wait after the service failed doubles with each of the lane's own tries from 2 s up to
    // 5 min, and it starts over once something went through.
    void laneWaitsLongerAfterEachFailureOfTheService()
    {
        QList<SyncLane::Outcome> script;
        int passes = 0;
        SyncLane lane(testSync(), SyncFailures::Lane::History, [&](SyncLane &self) {
            ++passes;
            self.finish(script.isEmpty() ? SyncLane::Outcome::NothingLeft : script.takeFirst());
        });
        QList<int> waits;
        for (int i = 0; i < 10; ++i) {
            waits << lane.nextRetryMs();
            script = {SyncLane::Outcome::ServiceDown};
            lane.retryDue();
        }
        QCOMPARE(waits, (QList<int>{2000, 4000, 8000, 16000, 32000, 64000, 128000, 256000, 300000, 300000}));
        // Something went through: the next failure waits 2 s, and its pass comes by itself.
        script = {SyncLane::Outcome::Sent, SyncLane::Outcome::ServiceDown};
        lane.process();
        QTRY_COMPARE_WITH_TIMEOUT(passes, 12, kWaitMs);
        QCOMPARE(lane.nextRetryMs(), 4000);
        QTRY_COMPARE_WITH_TIMEOUT(passes, 13, 10000);
    }

    // Service stopped: the clips wait with their change marks, no clip is blamed, the lane's
    // wait grows; once the service says over the broker that it is back, they all go at once,
    // each once.
    void clipsCopiedWhileTheServiceIsDownGoWhenItIsBack()
    {
        qputenv("QUILLET_MQTT_HOST", "127.0.0.1");
        qputenv("QUILLET_MQTT_PORT", QByteArray::number(m_server.mqttPort()));
        testSync().notices().connect();
        QTRY_VERIFY_WITH_TIMEOUT(testSync().notices().isSubscribed(), kWaitMs);
        m_server.killService();
        for (int i = 0; i < 3; ++i)
            ClipFixtures::changedText(u"copied while down %1"_s.arg(i), 1700002000 + i);
        for (int i = 0; i < 4; ++i) {
            testSync().historyLane().retryDue();
            QTRY_VERIFY_WITH_TIMEOUT(!testSync().historyLane().isRunning(), kWaitMs);
        }
        QCOMPARE(testSync().historyLane().nextRetryMs(), 32000);
        QCOMPARE(testSync().status().snapshot().state, SyncStatus::State::Unreachable);
        QVERIFY(SyncFailures::failedForGood().isEmpty());
        QVERIFY(m_server.restartService());
        // Well inside the lane's own 32 s wait: only the "back" notice can have sent them.
        QTRY_VERIFY_WITH_TIMEOUT(pushDrained() && !DBKeeper::getFileProcessHistory(), 20000);
        QCOMPARE(m_other->pull(0).histories().size(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(testSync().status().snapshot().state == SyncStatus::State::InSync, kWaitMs);
    }

    // A refusal of the clip makes it wait for its own try, too large fails it for good, a busy
    // or full service makes the whole lane wait; the change mark stays in every case.
    void refusalsOfAPush_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("tries");
        QTest::addColumn<bool>("failedForGood");
        QTest::newRow("bad request") << 400 << qint64(1) << false;
        QTest::newRow("too large") << 413 << qint64(1) << true;
        QTest::newRow("service busy") << 503 << qint64(0) << false;
        QTest::newRow("quota full") << 507 << qint64(0) << false;
    }
    void refusalsOfAPush()
    {
        QFETCH(int, status);
        QFETCH(qint64, tries);
        QFETCH(bool, failedForGood);
        QSignalSpy quota(&testSync().status(), &SyncStatus::quotaFull);
        ClipFixtures::changedText(u"an older clip"_s, 1700003000);
        const HistoryModel clip = ClipFixtures::changedText(u"a refused clip"_s, 1700003001);
        // Known to the service already: the change goes as a PUT.
        QVERIFY(DBKeeper::updateHistoryID(41, 0, clip.hash()));
        useRecording(status, "{\"code\":" + QByteArray::number(status) + "}");
        const qsizetype sent = m_recording.requestLines().size();
        testSync().historyLane().process();
        QTRY_VERIFY_WITH_TIMEOUT(m_recording.requestLines().size() > sent && lanesIdle(), kWaitMs);
        QVERIFY(storedClip(u"a refused clip"_s).change_timestamp.value_or(0) > 0);
        QCOMPARE(failureOf(SyncFailures::Lane::History, clip.hash()), std::make_pair(tries, failedForGood));
        QCOMPARE(testSync().historyLane().isWaitingForService(), tries == 0);
        // A refusal of the clip alone: the lane went on with the older clip.
        if (tries > 0)
            QTRY_VERIFY_WITH_TIMEOUT(m_recording.requestLines().size() >= sent + 2, kWaitMs);
        QCOMPARE(quota.count(), status == 507 ? 1 : 0);
    }

    // -10 makes the clip local only (its change handled); -4 removes a favourite the service
    // lacks; another code keeps the change mark.
    void refusalCodesTheClientActsOn()
    {
        const HistoryModel clip = ClipFixtures::changedText(u"gone from the service"_s, 1700003100);
        QVERIFY(DBKeeper::updateHistoryID(42, 7, clip.hash()));
        useRecording(200, R"({"code":-10})");
        QVERIFY(pushAll());
        QCOMPARE(storedClip(u"gone from the service"_s).history_id.value_or(-1), 0);

        ClipFixtures::changedText(u"a favourite"_s, 1700003101);
        HistoryEdits::toggleFavourite(storedClip(u"a favourite"_s), 1700003102);
        QVERIFY(DBKeeper::updateHistoryID(43, 8, md5_hex(u"a favourite"_s)));
        for (const QByteArray &code : {QByteArray("9"), QByteArray("-4")}) {
            SyncFailures::clearAll();
            useRecording(200, "{\"code\":" + code + "}");
            const qsizetype sent = m_recording.requestLines().size();
            testSync().favouriteLane().process();
            QTRY_VERIFY_WITH_TIMEOUT(lanesIdle() && m_recording.requestLines().size() > sent, kWaitMs);
            QCOMPARE(storedClip(u"a favourite"_s, Category::favourite).isExist(), code == "9");
        }
    }

    // A payload that can never be installed (the bytes are not the clip's) waits for its own
    // tries while an older payload comes; after five it has failed for good until the user asks.
    void badPayloadNoLongerBlocksOlderOnes()
    {
        const QString good = u"an older payload"_s;
        QCOMPARE(
            m_other->upload(m_other->pushed(SyncClient::textRecord(good, 1700004000)), good.toUtf8()).status,
            200);
        // A zipped picture whose archive holds other bytes than the record names.
        QTemporaryDir scratch;
        const QString archive = scratch.filePath(u"a.zip"_s);
        const QString bad = md5_hex(QByteArray("the picture the record names"));
        QVERIFY(ZipWriter::writeSingleEntry(archive, bad, "other bytes"));
        QJsonObject record = SyncClient::textRecord(u"thumb"_s, 1700004001);
        record.insert(u"file_hash"_s, bad);
        record.insert(u"type"_s, u"image_data+zip"_s);
        QCOMPARE(m_other->upload(m_other->pushed(record), TestFiles::read(archive)).status, 200);
        QVERIFY(pulled());
        QTRY_COMPARE_WITH_TIMEOUT(TestFiles::read(PathHelper::getBaseFilePath(md5_hex(good))), good.toUtf8(),
                                  kWaitMs);
        double offset = 0;
        for (qint64 tries = 1; tries <= SyncFailures::kMaxTries; ++tries) {
            QTRY_COMPARE_WITH_TIMEOUT(failureOf(SyncFailures::Lane::File, bad).first, tries, kWaitMs);
            QTRY_VERIFY_WITH_TIMEOUT(lanesIdle(), kWaitMs);
            offset += 600;
            Clock::setSourceForTesting(
                [offset] { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 + offset; });
            testSync().fileLane().process();
        }
        QVERIFY(SyncFailures::failedForGood().contains(bad));
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(bad)));
        testSync().retryClip(bad);
        QTRY_COMPARE_WITH_TIMEOUT(failureOf(SyncFailures::Lane::File, bad), std::make_pair(qint64(1), false),
                                  kWaitMs);
    }

    // The reply to a POST goes to the row as it is when the reply comes: a clip captured again
    // meanwhile goes again, as a PUT of the same record; a favourite marked meanwhile keeps its
    // mark, a clip deleted meanwhile stays deleted.
    void postReplyKeepsWhatChangedMeanwhile()
    {
        const auto duringThePost = [](const QString &text, const std::function<void()> &change) {
            ClipFixtures::changedText(text, 1700006000);
            testSync().historyLane().process();
            QVERIFY(testSync().historyLane().isRunning());
            QTest::qWait(2);
            change();
            QTRY_VERIFY_WITH_TIMEOUT(pushDrained(), kWaitMs);
        };
        duringThePost(u"edited"_s, [] { storedClip(u"edited"_s).increase_change_count(); });
        QCOMPARE(storedClip(u"edited"_s).change_timestamp.value_or(-1), 0.0);
        QCOMPARE(hashesOn(*m_other), QSet<QString>{md5_hex(u"edited"_s)});
        duringThePost(u"marked"_s,
                      [] { HistoryEdits::toggleFavourite(storedClip(u"marked"_s), 1700006001); });
        QCOMPARE(storedClip(u"marked"_s).favourite.value_or(0), 1700006001);
        QVERIFY(storedClip(u"marked"_s, Category::favourite).change_timestamp.value_or(0) > 0);
        duringThePost(u"deleted"_s, [] { HistoryEdits::deleteClip(md5_hex(u"deleted"_s), testFiles()); });
        QVERIFY(!storedClip(u"deleted"_s).isExist());
    }
};

QTEST_GUILESS_MAIN(TestSyncPushPull)
#include "tst_sync_push_pull.moc"
