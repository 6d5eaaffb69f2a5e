// The push and pull lanes against the real quillet-sync-server on 127.0.0.1. A second device of
// the same user is played by a plain protocol client with its own device token.
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "SyncClient.h"
#include "TestDirs.h"
#include "TestFiles.h"
#include "TestSync.h"
#include "menu/ClipFixtures.h"
#include "store/ClipFileManager.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryModel.h"
#include "store/HistorySearch.h"
#include "store/PathHelper.h"
#include "store/SettingsKeys.h"
#include "support/Md5.h"
#include "support/PayloadLimit.h"
#include "support/ZipWriter.h"
#include "sync/AccountRequests.h"
#include "sync/ClipRequests.h"
#include "sync/ProgressManager.h"
#include "sync/PushClipsManager.h"
#include "sync/ServiceRequests.h"
#include "sync/SetFavouriteRequestManager.h"

#include <QFile>
#include <QJsonArray>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString kPassword = u"secret password"_s;

HistoryModel storedFavourite(const QString &text)
{
    return storedClip(text, Category::favourite);
}

// Marks the clip as the menu does: a favourite row waiting for its push, the history row too.
void markFavourite(const QString &text, qint64 when)
{
    HistoryModel record = storedClip(text);
    record.category = Category::favourite;
    record.favourite = when;
    record.save();
    record.increase_change_count();
    record.category = Category::history;
    record.save();
}

bool favouritesDrained()
{
    return !testSync().favouriteLane().isRunning() && !DBKeeper::getUnProcessFavourite();
}

bool filesDrained()
{
    return !testSync().fileLane().isRunning() && !DBKeeper::getFileProcessHistory();
}

bool pushDrained()
{
    return !testSync().historyLane().isRunning() && !DBKeeper::getUnProcessHistory();
}

struct PostOutcome {
    int calls = 0;
    std::optional<QJsonObject> result;
    std::optional<RequestError> error;
};

// Posts the record; the outcome fills in when the completion runs.
std::shared_ptr<PostOutcome> post(const HistoryModel &record)
{
    auto outcome = std::make_shared<PostOutcome>();
    testSync().clips().Post(record, [outcome](const auto &result, const auto &error) {
        ++outcome->calls;
        outcome->result = result;
        outcome->error = error;
    });
    return outcome;
}

PostOutcome postAndWait(const HistoryModel &record)
{
    const std::shared_ptr<PostOutcome> outcome = post(record);
    (void)QTest::qWaitFor([&] { return outcome->calls > 0; }, 20000);
    return *outcome;
}

QStringList pulledHashes(const HttpReply &reply)
{
    QStringList hashes;
    for (const QJsonValue &record : reply.histories())
        hashes << record.toObject().value(u"file_hash"_s).toString();
    return hashes;
}

} // namespace

class TestSyncPushPull final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_other;
    int m_users = 0;
    qint64 m_otherCursor = 0;

    // What the other device receives since its last pull.
    HttpReply otherPull()
    {
        const HttpReply reply = m_other->pull(m_otherCursor);
        m_otherCursor = reply.value("request_timestamp").toInteger(m_otherCursor);
        return reply;
    }

private slots:
    void initTestCase() { QVERIFY(m_server.start()); }

    // A fresh account for every case, this device signed in, the other device too.
    void init()
    {
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
        const QString email = u"push%1@example.org"_s.arg(++m_users);
        QCOMPARE(registerAccount(email, kPassword).code(), 0);
        QVERIFY(testAccount().isSignedIn());
        m_other = std::make_unique<SyncClient>(m_server.origin(), u"other-device"_s);
        QCOMPARE(m_other->login(email, kPassword).code(), 0);
        m_otherCursor = 0;
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::lastPullRequestTime));
    }

    void cleanup()
    {
        QVERIFY(QTest::qWaitFor(
            [] {
                return !testSync().historyLane().isRunning() && !testSync().favouriteLane().isRunning()
                       && !testSync().fileLane().isRunning();
            },
            20000));
        testAccount().setLoginUserToken(std::nullopt);
        QCoreApplication::processEvents();
    }

    // Signing out (which empties the history here) and in again brings the whole history back,
    // this device's clips and the other device's: the sign-out left no pull cursor behind.
    void signOutThenSignInBringsTheHistoryBack()
    {
        ClipFixtures::changedText(u"sent from here"_s, 1700000800);
        const QJsonObject there = m_other->pushed(SyncClient::textRecord(u"sent from there"_s, 1700000801));
        QCOMPARE(m_other->upload(there, "sent from there").status, 200);
        // Pushed with its payload: a clip is offered to other devices once its payload is there.
        testSync().historyLane().process();
        QVERIFY(QTest::qWaitFor(pushDrained, 20000));
        QVERIFY(QTest::qWaitFor(filesDrained, 20000));
        const auto pullAndWait = [this] {
            bool pulled = false;
            testSync().pullHistory(this, [&pulled] { pulled = true; });
            return QTest::qWaitFor([&pulled] { return pulled; }, 20000);
        };
        QVERIFY(pullAndWait());
        QVERIFY(storedClip(u"sent from there"_s).isExist());
        QVERIFY(
            ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::lastPullRequestTime)).value_or(u"0"_s)
            != u"0"_s);

        const QString email = testAccount().loginUserEmail();
        testAccount().setLoginUserToken(std::nullopt);
        QCOMPARE(DBKeeper::getAllHistory().size(), 0);
        QCOMPARE(signIn(email, kPassword).code(), 0);
        QVERIFY(pullAndWait());
        QVERIFY(storedClip(u"sent from here"_s).isExist());
        QVERIFY(storedClip(u"sent from there"_s).isExist());
    }

    // Secret clips and clips over the size limit never leave; one at the limit does.
    void pushesNewestFirstAndNeverSecrets()
    {
        const qint64 t = 1700000000;
        ClipFixtures::changedText(u"oldest"_s, t);
        ClipFixtures::changedText(u"middle"_s, t + 1);
        ClipFixtures::changedText(u"newest"_s, t + 2);
        ClipFixtures::changedText(u"my password 123"_s, t + 3, true);
        ClipFixtures::changedText(u"at limit"_s, t + 4, false, double(kMaxPayloadBytes));
        ClipFixtures::changedText(u"huge clip"_s, t + 5, false, double(kMaxPayloadBytes + 1));

        testSync().historyLane().process();
        QVERIFY(QTest::qWaitFor(pushDrained, 20000));

        // One request at a time, newest first: the service numbered them in that order.
        const int newest = storedClip(u"newest"_s).history_id.value_or(0);
        const int middle = storedClip(u"middle"_s).history_id.value_or(0);
        const int oldest = storedClip(u"oldest"_s).history_id.value_or(0);
        QVERIFY(newest > 0);
        QVERIFY(newest < middle && middle < oldest);
        QCOMPARE(storedClip(u"newest"_s).change_timestamp.value_or(-1), 0.0);

        const QStringList seen = pulledHashes(otherPull());
        QCOMPARE(seen.size(), 4);
        QVERIFY(seen.contains(md5_hex(u"newest"_s)) && seen.contains(md5_hex(u"at limit"_s)));

        // Neither the secret clip nor the oversized one was sent: nothing of them is stored.
        const QByteArray storage = m_server.storedBytes();
        QVERIFY(!storage.isEmpty());
        QVERIFY(!storage.contains(md5_hex(u"my password 123"_s).toLatin1()));
        QVERIFY(!storage.contains("my password 123"));
        QVERIFY(!storage.contains(md5_hex(u"huge clip"_s).toLatin1()));
        QVERIFY(storedClip(u"my password 123"_s).change_timestamp.value_or(0) > 0);

        // Asked directly, the clip sender refuses them as well, completing once without a result.
        for (const QString &refused : {u"my password 123"_s, u"huge clip"_s}) {
            const PostOutcome outcome = postAndWait(storedClip(refused));
            QCOMPARE(outcome.calls, 1);
            QVERIFY(!outcome.result && !outcome.error);
            QVERIFY(!m_server.storedBytes().contains(md5_hex(refused).toLatin1()));
        }
    }

    void secondPostOfSameClipCompletesAtOnce()
    {
        const HistoryModel clip = ClipFixtures::changedText(u"twice"_s, 1700000200);
        const std::shared_ptr<PostOutcome> first = post(clip);
        QVERIFY(testSync().clips().isPosting(clip.hash()));
        const PostOutcome second = postAndWait(clip);
        QVERIFY(!second.result && !second.error);
        QVERIFY(QTest::qWaitFor([&] { return first->calls == 1; }, 20000));
        QVERIFY(first->result);
    }

    void rowChangedDuringPushIsPushedAgain()
    {
        const HistoryModel clip = ClipFixtures::changedText(u"edited"_s, 1700000300);
        testSync().historyLane().process();
        QVERIFY(testSync().historyLane().isRunning());
        // Captured again while the POST is under way: a new change mark.
        QTest::qWait(2);
        HistoryModel again = storedClip(u"edited"_s);
        again.increase_change_count();
        QVERIFY(QTest::qWaitFor(pushDrained, 20000));
        const HistoryModel after = storedClip(u"edited"_s);
        QVERIFY(after.history_id.value_or(0) > 0);
        QCOMPARE(after.change_timestamp.value_or(-1), 0.0);
        // The second push was a PUT of the same record: the service still holds one clip.
        QCOMPARE(pulledHashes(otherPull()), QStringList{clip.hash()});
    }

    void failedPushIsRetriedAtTheNextCapture()
    {
        m_server.killService();
        ClipFixtures::changedText(u"while down"_s, 1700000400);
        testSync().historyLane().process();
        QVERIFY(QTest::qWaitFor([] { return !testSync().historyLane().isRunning(); }, 40000));
        QVERIFY(storedClip(u"while down"_s).change_timestamp.value_or(0) > 0);
        QCOMPARE(storedClip(u"while down"_s).history_id.value_or(0), 0);

        QVERIFY(m_server.restartService());
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
        m_other = std::make_unique<SyncClient>(m_server.origin(), u"other-device"_s);
        QCOMPARE(m_other->login(u"push%1@example.org"_s.arg(m_users), kPassword).code(), 0);
        ClipFixtures::changedText(u"back up"_s, 1700000401);
        testSync().historyLane().process();
        QVERIFY(QTest::qWaitFor(pushDrained, 20000));
        QStringList seen = pulledHashes(otherPull());
        seen.sort();
        QStringList expected{md5_hex(u"while down"_s), md5_hex(u"back up"_s)};
        expected.sort();
        QCOMPARE(seen, expected);
    }

    void pullMergesDeletesAndMovesTheCursor()
    {
        // The other device pushes a clip and uploads its payload.
        const QString text = u"from the other device"_s;
        const QJsonObject remote = m_other->pushed(SyncClient::textRecord(text, 1700000500));
        const qint64 historyId = remote.value("history_id"_L1).toInteger();
        QVERIFY(historyId > 0);
        QCOMPARE(m_other->upload(remote, text.toUtf8()).status, 200);
        // And one without a payload, which has nothing to offer here yet.
        QCOMPARE(m_other->pushRecord(SyncClient::textRecord(u"no payload"_s, 1700000501)).code(), 0);

        QVERIFY(sendAndWait(std::make_shared<PullClipsManager>()).result);
        const HistoryModel merged = storedClip(text);
        QCOMPARE(merged.history_id.value_or(0), int(historyId));
        QCOMPARE(merged.file_ready.value_or(0), 1);
        // The pull ends with the push cycle, which hands over to the file lane: it fetches the
        // payload.
        QVERIFY(QTest::qWaitFor(filesDrained, 20000));
        QCOMPARE(storedClip(text).local_file_ok.value_or(0), 1);
        QCOMPARE(TestFiles::read(PathHelper::getBaseFilePath(md5_hex(text))), text.toUtf8());
        QCOMPARE(merged.change_timestamp.value_or(-1), 0.0);
        QVERIFY(!storedClip(u"no payload"_s).isExist());
        const QString cursor = ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::lastPullRequestTime))
                                   .value_or(QString());
        QVERIFY(cursor.toLongLong() > 0);
        QCOMPARE(std::make_shared<PullClipsManager>()->last_request_timestamp(), cursor);

        // A clip the other device deletes disappears here at the next pull.
        QCOMPARE(m_other->deleteRecord(remote).code(), 0);
        QVERIFY(sendAndWait(std::make_shared<PullClipsManager>()).result);
        QVERIFY(!storedClip(text).isExist());
    }

    // The trim after a pull keeps as many clips as the history length says, not a fixed 60.
    void longerHistorySurvivesAPull()
    {
        for (int i = 0; i < 120; ++i)
            ClipFixtures::text(u"kept clip %1"_s.arg(i), 1600000000 + i);
        const QString text = u"pulled into a long history"_s;
        const QJsonObject remote = m_other->pushed(SyncClient::textRecord(text, 1700000700));
        QCOMPARE(m_other->upload(remote, text.toUtf8()).status, 200);
        testSettings().setHistoryLength(500);

        QVERIFY(sendAndWait(std::make_shared<PullClipsManager>()).result);
        QVERIFY(storedClip(text).isExist());
        QVERIFY(storedClip(u"kept clip 0"_s).isExist());
        QCOMPARE(HistorySearch::find(u"kept clip"_s).size(), 120);

        // Shorter again: the next pull trims to the new length, the oldest first.
        testSettings().setHistoryLength(60);
        QVERIFY(sendAndWait(std::make_shared<PullClipsManager>()).result);
        QCOMPARE(HistorySearch::find(QString()).size(), 60);
        QVERIFY(storedClip(text).isExist());
        QVERIFY(!storedClip(u"kept clip 60"_s).isExist());
        QVERIFY(storedClip(u"kept clip 61"_s).isExist());
    }

    void deleteGoesThroughTheService()
    {
        ClipFixtures::changedText(u"to delete"_s, 1700000600);
        testSync().historyLane().process();
        QVERIFY(QTest::qWaitFor(pushDrained, 20000));
        QCOMPARE(pulledHashes(otherPull()).size(), 1);
        int calls = 0;
        testSync().clips().Del(storedClip(u"to delete"_s), [&](const auto &, const auto &error) {
            QVERIFY(!error);
            ++calls;
        });
        QVERIFY(QTest::qWaitFor([&] { return calls == 1; }, 20000));
        QVERIFY(!storedClip(u"to delete"_s).isExist());
        const HttpReply after = otherPull();
        QCOMPARE(after.json.value(u"action"_s).toArray().size(), 1);
    }

    void favouritesReconcileByTimeBothWays()
    {
        const qint64 t = 1700000700;
        ClipFixtures::changedText(u"liked"_s, t);
        ClipFixtures::changedText(u"liked elsewhere"_s, t + 1);
        testSync().historyLane().process();
        QVERIFY(QTest::qWaitFor(pushDrained, 20000));

        // Marked here: the favourite lane sends the mark.
        markFavourite(u"liked"_s, t + 100);
        testSync().favouriteLane().process();
        QVERIFY(QTest::qWaitFor(favouritesDrained, 20000));
        const QJsonArray favourites = m_other->getFavourites().histories();
        QCOMPARE(favourites.size(), 1);
        QCOMPARE(favourites.at(0).toObject().value(u"favourite"_s).toInteger(), t + 100);

        // Marked on the other device: it arrives here at the next reconciliation.
        QJsonObject other = SyncClient::textRecord(u"liked elsewhere"_s, t + 1);
        other.insert(u"history_id"_s, storedClip(u"liked elsewhere"_s).history_id.value_or(0));
        other.insert(u"favourite"_s, t + 200);
        QCOMPARE(m_other->setFavourite(other).code(), 0);
        QVERIFY(sendAndWait(std::make_shared<GetFavouriteRequestManager>()).result);
        QCOMPARE(storedFavourite(u"liked elsewhere"_s).favourite.value_or(0), t + 200);
        QCOMPARE(storedFavourite(u"liked"_s).favourite.value_or(0), t + 100);

        // Unmarked on the other device later than it was marked here: the mark goes here too.
        QJsonObject withdrawn = SyncClient::textRecord(u"liked"_s, t);
        withdrawn.insert(u"history_id"_s, storedClip(u"liked"_s).history_id.value_or(0));
        withdrawn.insert(u"favourite"_s, -(t + 300));
        QCOMPARE(m_other->setFavourite(withdrawn).code(), 0);
        QVERIFY(sendAndWait(std::make_shared<GetFavouriteRequestManager>()).result);
        QVERIFY(!storedFavourite(u"liked"_s).isExist());
        QCOMPARE(storedClip(u"liked"_s).favourite.value_or(-1), 0);
    }

    void unmarkingGoesThroughTheService()
    {
        const qint64 t = 1700000800;
        ClipFixtures::changedText(u"unliked"_s, t);
        testSync().historyLane().process();
        QVERIFY(QTest::qWaitFor(pushDrained, 20000));
        markFavourite(u"unliked"_s, t + 10);
        testSync().favouriteLane().process();
        QVERIFY(QTest::qWaitFor(favouritesDrained, 20000));

        // As the menu unmarks while signed in: the record goes out with minus the time.
        HistoryModel record = storedClip(u"unliked"_s);
        record.favourite = -(t + 20);
        int calls = 0;
        testSync().favouriteMarks().setFavourite(record, [&](const auto &result, const auto &error) {
            QVERIFY(result && !error);
            ++calls;
        });
        QVERIFY(storedFavourite(u"unliked"_s).isExist());
        QVERIFY(QTest::qWaitFor([&] { return calls == 1; }, 20000));
        QVERIFY(!storedFavourite(u"unliked"_s).isExist());
        QCOMPARE(storedClip(u"unliked"_s).favourite.value_or(-1), 0);

        // A clip the service does not have is removed here entirely.
        HistoryModel unknown = ClipFixtures::changedText(u"unknown there"_s, t + 30);
        unknown.history_id = 999999;
        unknown.favourite = t + 40;
        calls = 0;
        testSync().favouriteMarks().setFavourite(unknown, [&](const auto &, const auto &) { ++calls; });
        QVERIFY(QTest::qWaitFor([&] { return calls == 1; }, 20000));
        QVERIFY(!storedClip(u"unknown there"_s).isExist());
    }

    void payloadUploadedAfterThePush()
    {
        const QString text = u"a payload that travels "_s.repeated(50);
        HistoryModel clip = ClipFixtures::changedText(text, 1700000900);
        testSync().historyLane().process();
        QVERIFY(QTest::qWaitFor([] { return pushDrained() && filesDrained(); }, 20000));
        const HistoryModel after = storedClip(text);
        QCOMPARE(after.file_ready.value_or(0), 1);
        const HttpReply downloaded = m_other->download(clip.hash(), after.file_id.value_or(0));
        QCOMPARE(downloaded.status, 200);
        QCOMPARE(downloaded.body, text.toUtf8());
    }

    void payloadsDownloadedWithProgressAndNotices()
    {
        QObject observer;
        QList<float> fractions;
        testSync().progress().registerGlobalProgress(&observer,
                                                     [&](float fraction, bool) { fractions << fraction; });
        int allDone = 0;
        QObject::connect(&testStore(), &HistoryStore::changed, &observer, [&] { ++allDone; });

        // The other device offers a text and a zipped image.
        const QByteArray textPayload = QByteArray("downloaded text ").repeated(4000);
        const QString textHash = md5_hex(textPayload);
        const QJsonObject textRecord = SyncClient::textRecord(QString::fromUtf8(textPayload), 1700001000);
        QCOMPARE(m_other->upload(m_other->pushed(textRecord), textPayload).status, 200);

        const QByteArray image = QByteArray("II*\0 not really an image ").repeated(300);
        const QString imageHash = md5_hex(image);
        QTemporaryDir scratch;
        const QString archive = scratch.filePath(u"a.zip"_s);
        QVERIFY(ZipWriter::writeSingleEntry(archive, imageHash, image));
        QJsonObject imageRecord{{u"content"_s, u"thumb"_s},
                                {u"timestamp"_s, 1700001001},
                                {u"file_hash"_s, imageHash},
                                {u"type"_s, u"image_data+zip"_s},
                                {u"favourite"_s, 0}};
        QCOMPARE(m_other->upload(m_other->pushed(imageRecord), TestFiles::read(archive)).status, 200);

        QVERIFY(sendAndWait(std::make_shared<PullClipsManager>()).result);
        QVERIFY(QTest::qWaitFor([&] { return allDone == 1 && filesDrained(); }, 20000));
        QCOMPARE(TestFiles::read(PathHelper::getBaseFilePath(textHash)), textPayload);
        QCOMPARE(TestFiles::read(PathHelper::getBaseFilePath(imageHash)), image);
        QVERIFY(QFileInfo::exists(PathHelper::getZipsFilePath(imageHash)));
        QCOMPARE(storedClip(QString::fromUtf8(textPayload)).local_file_ok.value_or(0), 1);
        QVERIFY(!fractions.isEmpty());
        QCOMPARE(fractions.last(), 1.0f);
    }

    void payloadThatDoesNotMatchItsHashIsDiscarded()
    {
        const QString claimed = u"what the record says"_s;
        const QString hash = md5_hex(claimed);
        const HttpReply uploaded =
            m_other->upload(m_other->pushed(SyncClient::textRecord(claimed, 1700001100)), "other bytes");
        if (uploaded.status != 200)
            QSKIP("the service checks uploads itself");
        QVERIFY(sendAndWait(std::make_shared<PullClipsManager>()).result);
        testSync().fileLane().process();
        QVERIFY(QTest::qWaitFor([] { return !testSync().fileLane().isRunning(); }, 20000));
        QVERIFY(!QFileInfo::exists(PathHelper::getBaseFilePath(hash)));
        QCOMPARE(
            QDir(PathHelper::getBaseFilePath()).entryList(QDir::Files | QDir::Hidden).filter(u".download"_s),
            QStringList());
        const HistoryModel row = storedClip(claimed);
        QVERIFY(row.isExist());
        QCOMPARE(row.local_file_ok.value_or(1), 0);
        QCOMPARE(row.file_ready.value_or(0), 1);
    }
};

QTEST_GUILESS_MAIN(TestSyncPushPull)
#include "tst_sync_push_pull.moc"
