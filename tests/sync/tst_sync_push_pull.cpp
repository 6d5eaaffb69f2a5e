// The push and pull lanes against the real quillet-sync-server on 127.0.0.1. A second device of
// the same user is played by a plain protocol client with its own device token.
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "SyncClient.h"
#include "TestDirs.h"
#include "store/ClipFileManager.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryModel.h"
#include "store/PathHelper.h"
#include "store/SettingsKeys.h"
#include "support/Md5.h"
#include "support/NotificationCenter.h"
#include "support/Notifications.h"
#include "support/PayloadLimit.h"
#include "support/ZipWriter.h"
#include "sync/AccountRequests.h"
#include "sync/ClipRequests.h"
#include "sync/FavouriteService.h"
#include "sync/FileService.h"
#include "sync/HistoryService.h"
#include "sync/ProgressManager.h"
#include "sync/PushClipsManager.h"
#include "sync/ServiceRequests.h"
#include "sync/SetFavouriteRequestManager.h"

#include <QFile>
#include <QJsonArray>
#include <QtTest>

namespace {

const QString kPassword = QStringLiteral("secret password");

// A text clip with a change mark, as a capture leaves it.
HistoryModel capturedText(const QString &text, qint64 timestamp, bool secret = false, double size = 0)
{
    HistoryModel clip;
    clip.content = text;
    clip.file_hash = md5_hex(text);
    clip.type = QStringLiteral("text_txt");
    clip.timestamp = timestamp;
    clip.local_file_ok = 1;
    clip.file_size = size > 0 ? size : double(text.toUtf8().size());
    clip.save();
    if (secret)
        clip.signSecert(true);
    clip.increase_change_count();
    clip.fetch();
    return clip;
}

HistoryModel stored(const QString &text)
{
    HistoryModel clip;
    clip.file_hash = md5_hex(text);
    clip.category = Category::history;
    clip.fetch();
    return clip;
}

HistoryModel storedFavourite(const QString &text)
{
    HistoryModel clip;
    clip.file_hash = md5_hex(text);
    clip.category = Category::favourite;
    clip.fetch();
    return clip;
}

// Marks the clip as the menu does: a favourite row waiting for its push, the history row too.
void markFavourite(const QString &text, qint64 when)
{
    HistoryModel record = stored(text);
    record.category = Category::favourite;
    record.favourite = when;
    record.save();
    record.increase_change_count();
    record.category = Category::history;
    record.save();
}

bool favouritesDrained()
{
    return !FavouriteService::sharedInstance().isRunning() && !DBKeeper::getUnProcessFavourite();
}

bool filesDrained()
{
    return !FileService::sharedInstance().isRunning() && !DBKeeper::getFileProcessHistory();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool pushDrained()
{
    return !HistoryService::sharedInstance().isRunning() && !DBKeeper::getUnProcessHistory();
}

struct PostOutcome {
    int calls = 0;
    std::optional<QJsonObject> result;
    std::optional<RequestError> error;
};

PostOutcome postAndWait(const HistoryModel &record)
{
    auto outcome = std::make_shared<PostOutcome>();
    PushClipsManager::sharedInstance().Post(record, [outcome](const auto &result, const auto &error) {
        ++outcome->calls;
        outcome->result = result;
        outcome->error = error;
    });
    (void)QTest::qWaitFor([&] { return outcome->calls > 0; }, 20000);
    return *outcome;
}

QStringList pulledHashes(const HttpReply &reply)
{
    QStringList hashes;
    for (const QJsonValue &record : reply.json.value(QStringLiteral("histories")).toArray())
        hashes << record.toObject().value(QStringLiteral("file_hash")).toString();
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

    // Everything the service keeps on disk: its database and the log of its database.
    // What the other device receives since its last pull.
    HttpReply otherPull()
    {
        const HttpReply reply = m_other->pull(m_otherCursor);
        m_otherCursor = reply.json.value(QStringLiteral("request_timestamp")).toInteger(m_otherCursor);
        return reply;
    }

private slots:
    void initTestCase() { QVERIFY(m_server.start()); }

    // A fresh account for every case, this device signed in, the other device too.
    void init()
    {
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
        const QString email = QStringLiteral("push%1@example.org").arg(++m_users);
        auto registration = std::make_shared<RegisterRequestManager>();
        registration->setUsername(email);
        registration->setPwdHash(md5_hex(kPassword));
        QCOMPARE(sendAndWait(registration).code(), 0);
        QVERIFY(ConfigureManager::sharedInstance().isLogined());
        m_other = std::make_unique<SyncClient>(m_server.origin(), QStringLiteral("other-device"));
        QCOMPARE(m_other->login(email, kPassword).code(), 0);
        m_otherCursor = 0;
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::lastPullRequestTime));
    }

    void cleanup()
    {
        QVERIFY(QTest::qWaitFor([] { return !HistoryService::sharedInstance().isRunning(); }, 20000));
        QVERIFY(QTest::qWaitFor([] { return !FavouriteService::sharedInstance().isRunning(); }, 20000));
        QVERIFY(QTest::qWaitFor([] { return !FileService::sharedInstance().isRunning(); }, 20000));
        ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
        QCoreApplication::processEvents();
    }

    void pushesNewestFirstAndNeverSecrets()
    {
        const qint64 t = 1700000000;
        capturedText(QStringLiteral("oldest"), t);
        capturedText(QStringLiteral("middle"), t + 1);
        capturedText(QStringLiteral("newest"), t + 2);
        capturedText(QStringLiteral("my password 123"), t + 3, true);
        capturedText(QStringLiteral("huge clip"), t + 4, false, double(kMaxPayloadBytes + 1));

        HistoryService::sharedInstance().process();
        QVERIFY(QTest::qWaitFor(pushDrained, 20000));

        // One request at a time, newest first: the service numbered them in that order.
        const int newest = stored(QStringLiteral("newest")).history_id.value_or(0);
        const int middle = stored(QStringLiteral("middle")).history_id.value_or(0);
        const int oldest = stored(QStringLiteral("oldest")).history_id.value_or(0);
        QVERIFY(newest > 0);
        QVERIFY(newest < middle && middle < oldest);
        QCOMPARE(stored(QStringLiteral("newest")).change_timestamp.value_or(-1), 0.0);

        const QStringList seen = pulledHashes(otherPull());
        QCOMPARE(seen.size(), 3);
        QVERIFY(seen.contains(md5_hex(QStringLiteral("newest"))));

        // Neither the secret clip nor the oversized one was sent: nothing of them is stored.
        const QByteArray storage = m_server.storedBytes();
        QVERIFY(!storage.isEmpty());
        QVERIFY(!storage.contains(md5_hex(QStringLiteral("my password 123")).toLatin1()));
        QVERIFY(!storage.contains("my password 123"));
        QVERIFY(!storage.contains(md5_hex(QStringLiteral("huge clip")).toLatin1()));
        QVERIFY(stored(QStringLiteral("my password 123")).change_timestamp.value_or(0) > 0);

        // Asked directly, the push manager refuses a secret clip as well.
        const PostOutcome secret = postAndWait(stored(QStringLiteral("my password 123")));
        QCOMPARE(secret.calls, 1);
        QVERIFY(!secret.result && !secret.error);
        QVERIFY(!m_server.storedBytes().contains(md5_hex(QStringLiteral("my password 123")).toLatin1()));
    }

    void sizeLimit()
    {
        HistoryModel atLimit =
            capturedText(QStringLiteral("at limit"), 1700000100, false, double(kMaxPayloadBytes));
        HistoryModel overLimit =
            capturedText(QStringLiteral("over limit"), 1700000101, false, double(kMaxPayloadBytes + 1));
        const PostOutcome sent = postAndWait(atLimit);
        QVERIFY(!sent.error);
        QVERIFY(sent.result && sent.result->value(QStringLiteral("history_id")).toInt() > 0);
        QVERIFY(stored(QStringLiteral("at limit")).history_id.value_or(0) > 0);

        const PostOutcome refused = postAndWait(overLimit);
        QCOMPARE(refused.calls, 1);
        QVERIFY(!refused.result && !refused.error);
        QCOMPARE(pulledHashes(otherPull()), QStringList{md5_hex(QStringLiteral("at limit"))});
    }

    void secondPostOfSameClipCompletesAtOnce()
    {
        const HistoryModel clip = capturedText(QStringLiteral("twice"), 1700000200);
        auto first = std::make_shared<PostOutcome>();
        PushClipsManager::sharedInstance().Post(clip, [first](const auto &result, const auto &error) {
            ++first->calls;
            first->result = result;
            first->error = error;
        });
        QVERIFY(PushClipsManager::sharedInstance().isPosting(clip.hash()));
        const PostOutcome second = postAndWait(clip);
        QVERIFY(!second.result && !second.error);
        QVERIFY(QTest::qWaitFor([&] { return first->calls == 1; }, 20000));
        QVERIFY(first->result);
    }

    void rowChangedDuringPushIsPushedAgain()
    {
        const HistoryModel clip = capturedText(QStringLiteral("edited"), 1700000300);
        HistoryService::sharedInstance().process();
        QVERIFY(HistoryService::sharedInstance().isRunning());
        // Captured again while the POST is under way: a new change mark.
        QTest::qWait(2);
        HistoryModel again = stored(QStringLiteral("edited"));
        again.increase_change_count();
        QVERIFY(QTest::qWaitFor(pushDrained, 20000));
        const HistoryModel after = stored(QStringLiteral("edited"));
        QVERIFY(after.history_id.value_or(0) > 0);
        QCOMPARE(after.change_timestamp.value_or(-1), 0.0);
        // The second push was a PUT of the same record: the service still holds one clip.
        QCOMPARE(pulledHashes(otherPull()), QStringList{clip.hash()});
    }

    void failedPushIsRetriedAtTheNextCapture()
    {
        m_server.killService();
        capturedText(QStringLiteral("while down"), 1700000400);
        HistoryService::sharedInstance().process();
        QVERIFY(QTest::qWaitFor([] { return !HistoryService::sharedInstance().isRunning(); }, 40000));
        QVERIFY(stored(QStringLiteral("while down")).change_timestamp.value_or(0) > 0);
        QCOMPARE(stored(QStringLiteral("while down")).history_id.value_or(0), 0);

        QVERIFY(m_server.restartService());
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
        m_other = std::make_unique<SyncClient>(m_server.origin(), QStringLiteral("other-device"));
        QCOMPARE(m_other->login(QStringLiteral("push%1@example.org").arg(m_users), kPassword).code(), 0);
        capturedText(QStringLiteral("back up"), 1700000401);
        HistoryService::sharedInstance().process();
        QVERIFY(QTest::qWaitFor(pushDrained, 20000));
        QStringList seen = pulledHashes(otherPull());
        seen.sort();
        QStringList expected{md5_hex(QStringLiteral("while down")), md5_hex(QStringLiteral("back up"))};
        expected.sort();
        QCOMPARE(seen, expected);
    }

    void pullMergesDeletesAndMovesTheCursor()
    {
        // The other device pushes a clip and uploads its payload.
        const QString text = QStringLiteral("from the other device");
        const HttpReply pushed = m_other->pushRecord(SyncClient::textRecord(text, 1700000500));
        QCOMPARE(pushed.code(), 0);
        const QJsonObject remote = pushed.json.value(QStringLiteral("history")).toObject();
        const qint64 historyId = remote.value(QStringLiteral("history_id")).toInteger();
        QCOMPARE(
            m_other->upload(md5_hex(text), remote.value(QStringLiteral("file_id")).toInteger(), text.toUtf8())
                .status,
            200);
        // And one without a payload, which has nothing to offer here yet.
        QCOMPARE(m_other->pushRecord(SyncClient::textRecord(QStringLiteral("no payload"), 1700000501)).code(),
                 0);

        QVERIFY(sendAndWait(std::make_shared<PullClipsManager>()).result);
        const HistoryModel merged = stored(text);
        QCOMPARE(merged.history_id.value_or(0), int(historyId));
        QCOMPARE(merged.file_ready.value_or(0), 1);
        // The pull ends with the push cycle, which hands over to the file lane: it fetches the
        // payload.
        QVERIFY(QTest::qWaitFor(filesDrained, 20000));
        QCOMPARE(stored(text).local_file_ok.value_or(0), 1);
        QCOMPARE(fileBytes(PathHelper::getBaseFilePath(md5_hex(text))), text.toUtf8());
        QCOMPARE(merged.change_timestamp.value_or(-1), 0.0);
        QVERIFY(!stored(QStringLiteral("no payload")).isExist());
        const QString cursor = ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::lastPullRequestTime))
                                   .value_or(QString());
        QVERIFY(cursor.toLongLong() > 0);
        QCOMPARE(std::make_shared<PullClipsManager>()->last_request_timestamp(), cursor);

        // A clip the other device deletes disappears here at the next pull.
        QCOMPARE(
            m_other->del(QStringLiteral("/push/"), QStringLiteral("&history_id=%1").arg(historyId)).code(),
            0);
        QVERIFY(sendAndWait(std::make_shared<PullClipsManager>()).result);
        QVERIFY(!stored(text).isExist());
    }

    void deleteGoesThroughTheService()
    {
        capturedText(QStringLiteral("to delete"), 1700000600);
        HistoryService::sharedInstance().process();
        QVERIFY(QTest::qWaitFor(pushDrained, 20000));
        QCOMPARE(pulledHashes(otherPull()).size(), 1);
        int calls = 0;
        PushClipsManager::sharedInstance().Del(stored(QStringLiteral("to delete")),
                                               [&](const auto &, const auto &error) {
                                                   QVERIFY(!error);
                                                   ++calls;
                                               });
        QVERIFY(QTest::qWaitFor([&] { return calls == 1; }, 20000));
        QVERIFY(!stored(QStringLiteral("to delete")).isExist());
        const HttpReply after = otherPull();
        QCOMPARE(after.json.value(QStringLiteral("action")).toArray().size(), 1);
    }

    void favouritesReconcileByTimeBothWays()
    {
        const qint64 t = 1700000700;
        capturedText(QStringLiteral("liked"), t);
        capturedText(QStringLiteral("liked elsewhere"), t + 1);
        HistoryService::sharedInstance().process();
        QVERIFY(QTest::qWaitFor(pushDrained, 20000));

        // Marked here: the favourite lane sends the mark.
        markFavourite(QStringLiteral("liked"), t + 100);
        FavouriteService::sharedInstance().process();
        QVERIFY(QTest::qWaitFor(favouritesDrained, 20000));
        const HttpReply onService = m_other->post(QStringLiteral("/get_favourite/"),
                                                  QJsonObject{{QStringLiteral("favourites"), QJsonObject()}});
        const QJsonArray favourites = onService.json.value(QStringLiteral("histories")).toArray();
        QCOMPARE(favourites.size(), 1);
        QCOMPARE(favourites.at(0).toObject().value(QStringLiteral("favourite")).toInteger(), t + 100);

        // Marked on the other device: it arrives here at the next reconciliation.
        QJsonObject other = SyncClient::textRecord(QStringLiteral("liked elsewhere"), t + 1);
        other.insert(QStringLiteral("history_id"),
                     stored(QStringLiteral("liked elsewhere")).history_id.value_or(0));
        other.insert(QStringLiteral("favourite"), t + 200);
        QCOMPARE(
            m_other->post(QStringLiteral("/set_favourite/"), QJsonObject{{QStringLiteral("history"), other}})
                .code(),
            0);
        QVERIFY(sendAndWait(std::make_shared<GetFavouriteRequestManager>()).result);
        QCOMPARE(storedFavourite(QStringLiteral("liked elsewhere")).favourite.value_or(0), t + 200);
        QCOMPARE(storedFavourite(QStringLiteral("liked")).favourite.value_or(0), t + 100);

        // Unmarked on the other device later than it was marked here: the mark goes here too.
        QJsonObject withdrawn = SyncClient::textRecord(QStringLiteral("liked"), t);
        withdrawn.insert(QStringLiteral("history_id"),
                         stored(QStringLiteral("liked")).history_id.value_or(0));
        withdrawn.insert(QStringLiteral("favourite"), -(t + 300));
        QCOMPARE(
            m_other
                ->post(QStringLiteral("/set_favourite/"), QJsonObject{{QStringLiteral("history"), withdrawn}})
                .code(),
            0);
        QVERIFY(sendAndWait(std::make_shared<GetFavouriteRequestManager>()).result);
        QVERIFY(!storedFavourite(QStringLiteral("liked")).isExist());
        QCOMPARE(stored(QStringLiteral("liked")).favourite.value_or(-1), 0);
    }

    void unmarkingGoesThroughTheService()
    {
        const qint64 t = 1700000800;
        capturedText(QStringLiteral("unliked"), t);
        HistoryService::sharedInstance().process();
        QVERIFY(QTest::qWaitFor(pushDrained, 20000));
        markFavourite(QStringLiteral("unliked"), t + 10);
        FavouriteService::sharedInstance().process();
        QVERIFY(QTest::qWaitFor(favouritesDrained, 20000));

        // As the menu unmarks while signed in: the record goes out with minus the time.
        HistoryModel record = stored(QStringLiteral("unliked"));
        record.favourite = -(t + 20);
        int calls = 0;
        SetFavouriteRequestManager::sharedInstance().setFavourite(record,
                                                                  [&](const auto &result, const auto &error) {
                                                                      QVERIFY(result && !error);
                                                                      ++calls;
                                                                  });
        QVERIFY(storedFavourite(QStringLiteral("unliked")).isExist());
        QVERIFY(QTest::qWaitFor([&] { return calls == 1; }, 20000));
        QVERIFY(!storedFavourite(QStringLiteral("unliked")).isExist());
        QCOMPARE(stored(QStringLiteral("unliked")).favourite.value_or(-1), 0);

        // A clip the service does not have is removed here entirely.
        HistoryModel unknown = capturedText(QStringLiteral("unknown there"), t + 30);
        unknown.history_id = 999999;
        unknown.favourite = t + 40;
        calls = 0;
        SetFavouriteRequestManager::sharedInstance().setFavourite(
            unknown, [&](const auto &, const auto &) { ++calls; });
        QVERIFY(QTest::qWaitFor([&] { return calls == 1; }, 20000));
        QVERIFY(!stored(QStringLiteral("unknown there")).isExist());
    }

    void payloadUploadedAfterThePush()
    {
        const QString text = QStringLiteral("a payload that travels ").repeated(50);
        HistoryModel clip = capturedText(text, 1700000900);
        ClipFileManager::sharedInstance().saveData(text.toUtf8(), clip.hash());
        HistoryService::sharedInstance().process();
        QVERIFY(QTest::qWaitFor([] { return pushDrained() && filesDrained(); }, 20000));
        const HistoryModel after = stored(text);
        QCOMPARE(after.file_ready.value_or(0), 1);
        const HttpReply downloaded = m_other->download(clip.hash(), after.file_id.value_or(0));
        QCOMPARE(downloaded.status, 200);
        QCOMPARE(downloaded.body, text.toUtf8());
    }

    void payloadsDownloadedWithProgressAndNotices()
    {
        QObject observer;
        QList<float> fractions;
        ProgressManager::sharedInstance().registerGlobalProgress(
            &observer, [&](float fraction, bool) { fractions << fraction; });
        int done = 0;
        int allDone = 0;
        auto &center = NotificationCenter::sharedInstance();
        center.addObserver(QLatin1String(Notifications::FILE_DOWNLOAD_DONE), &observer,
                           [&](const QVariant &) { ++done; });
        center.addObserver(QLatin1String(Notifications::ALL_FILE_DOWNLOAD_DONE), &observer,
                           [&](const QVariant &) {
                               QCOMPARE(done, 2);
                               ++allDone;
                           });

        // The other device offers a text and a zipped image.
        const QByteArray textPayload = QByteArray("downloaded text ").repeated(4000);
        const QString textHash = md5_hex(textPayload);
        QJsonObject textRecord = SyncClient::textRecord(QString::fromUtf8(textPayload), 1700001000);
        const HttpReply textPushed = m_other->pushRecord(textRecord);
        QCOMPARE(
            m_other
                ->upload(textHash,
                         textPushed.json[QStringLiteral("history")][QStringLiteral("file_id")].toInteger(),
                         textPayload)
                .status,
            200);

        const QByteArray image = QByteArray("II*\0 not really an image ").repeated(300);
        const QString imageHash = md5_hex(image);
        QTemporaryDir scratch;
        const QString archive = scratch.filePath(QStringLiteral("a.zip"));
        QVERIFY(ZipWriter::writeSingleEntry(archive, imageHash, image));
        QJsonObject imageRecord{{QStringLiteral("content"), QStringLiteral("thumb")},
                                {QStringLiteral("timestamp"), 1700001001},
                                {QStringLiteral("file_hash"), imageHash},
                                {QStringLiteral("type"), QStringLiteral("image_data+zip")},
                                {QStringLiteral("favourite"), 0}};
        const HttpReply imagePushed = m_other->pushRecord(imageRecord);
        QCOMPARE(
            m_other
                ->upload(imageHash,
                         imagePushed.json[QStringLiteral("history")][QStringLiteral("file_id")].toInteger(),
                         fileBytes(archive))
                .status,
            200);

        QVERIFY(sendAndWait(std::make_shared<PullClipsManager>()).result);
        QVERIFY(QTest::qWaitFor([&] { return allDone == 1 && filesDrained(); }, 20000));
        QCOMPARE(fileBytes(PathHelper::getBaseFilePath(textHash)), textPayload);
        QCOMPARE(fileBytes(PathHelper::getBaseFilePath(imageHash)), image);
        QVERIFY(QFileInfo::exists(PathHelper::getZipsFilePath(imageHash)));
        QCOMPARE(stored(QString::fromUtf8(textPayload)).local_file_ok.value_or(0), 1);
        QVERIFY(!fractions.isEmpty());
        QCOMPARE(fractions.last(), 1.0f);
        QCOMPARE(done, 2);
    }

    void payloadThatDoesNotMatchItsHashIsDiscarded()
    {
        const QString claimed = QStringLiteral("what the record says");
        const QString hash = md5_hex(claimed);
        const HttpReply pushed = m_other->pushRecord(SyncClient::textRecord(claimed, 1700001100));
        const HttpReply uploaded = m_other->upload(
            hash, pushed.json[QStringLiteral("history")][QStringLiteral("file_id")].toInteger(),
            "other bytes");
        if (uploaded.status != 200)
            QSKIP("the service checks uploads itself");
        QVERIFY(sendAndWait(std::make_shared<PullClipsManager>()).result);
        FileService::sharedInstance().process();
        QVERIFY(QTest::qWaitFor([] { return !FileService::sharedInstance().isRunning(); }, 20000));
        QVERIFY(!QFileInfo::exists(PathHelper::getBaseFilePath(hash)));
        QCOMPARE(QDir(PathHelper::getBaseFilePath())
                     .entryList(QDir::Files | QDir::Hidden)
                     .filter(QStringLiteral(".download")),
                 QStringList());
        const HistoryModel row = stored(claimed);
        QVERIFY(row.isExist());
        QCOMPARE(row.local_file_ok.value_or(1), 0);
        QCOMPARE(row.file_ready.value_or(0), 1);
    }
};

QTEST_GUILESS_MAIN(TestSyncPushPull)
#include "tst_sync_push_pull.moc"
