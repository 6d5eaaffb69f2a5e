// Store queries: lists, sync selections, column updates, deletions, retention and clearing,
// also while the capture writes.
#include "TestDirs.h"
#include "capture/ClipController.h"
#include "platform/MemoryPasteboard.h"
#include "store/ClipFileManager.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "support/Database.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <atomic>

namespace {

HistoryModel addClip(const QString &hash, qint64 timestamp, const QString &category = Category::history,
                     qint64 favourite = 0)
{
    HistoryModel clip;
    clip.content = hash;
    clip.file_hash = hash;
    clip.timestamp = timestamp;
    clip.category = category;
    clip.favourite = favourite;
    clip.save();
    clip.fetch(); // complete, so that later saves of it update the row
    return clip;
}

QStringList hashesOf(const QList<HistoryModel> &clips)
{
    QStringList hashes;
    for (const HistoryModel &clip : clips)
        hashes << clip.hash();
    return hashes;
}

qint64 rowCount(const QString &category)
{
    qint64 count = 0;
    DBObject::inDatabase([&](Database &db) {
        SqlQuery rows = db.query("select count(*) from History where category = ?", {category});
        if (rows.next())
            count = rows.int64(0);
    });
    return count;
}

QStringList storedHashes()
{
    QStringList hashes;
    DBObject::inDatabase([&](Database &db) {
        SqlQuery rows = db.query("select distinct file_hash from History order by file_hash");
        while (rows.next())
            hashes << *rows.text(0);
    });
    return hashes;
}

} // namespace

class TestDBKeeper final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;

private slots:
    void init() { DBKeeper::removeAllData(); }

    void listsAreNewestFirstAndCapped()
    {
        for (int i = 0; i < 40; ++i)
            addClip(QStringLiteral("h%1").arg(i), 1000 + i);
        addClip(QStringLiteral("fav"), 5, Category::favourite, 1);

        const QList<HistoryModel> newest = DBKeeper::getAllHistoryAtCategory(Category::history, 100);
        QCOMPARE(newest.size(), 30);
        QCOMPARE(newest.first().hash(), QStringLiteral("h39"));
        QCOMPARE(newest.last().hash(), QStringLiteral("h10"));
        QVERIFY(DBKeeper::getAllHistoryAtCategory(Category::history, 0).isEmpty());
        QCOMPARE(DBKeeper::getAllHistoryAtCategory(Category::history, 3).size(), 3);
        QCOMPARE(hashesOf(DBKeeper::getAllFavourites()), QStringList{QStringLiteral("fav")});
    }

    void trimmingKeepsSixtyNewestPerCategory()
    {
        for (int i = 0; i < 60; ++i)
            addClip(QStringLiteral("h%1").arg(i), 100 + i);
        QVERIFY(DBKeeper::cleanupDatabase(Category::history).isEmpty());
        QCOMPARE(rowCount(Category::history), 60);

        addClip(QStringLiteral("newest"), 1000);
        QCOMPARE(DBKeeper::cleanupDatabase(Category::history), QStringList{QStringLiteral("h0")});
        QCOMPARE(rowCount(Category::history), 60);
    }

    void trimmingKeepsRowsTiedAtTheBoundary()
    {
        // 62 rows; the 60th and 61st newest share a timestamp: only the oldest goes.
        addClip(QStringLiteral("oldest"), 1);
        addClip(QStringLiteral("tieA"), 2);
        addClip(QStringLiteral("tieB"), 2);
        for (int i = 0; i < 59; ++i)
            addClip(QStringLiteral("h%1").arg(i), 100 + i);
        QCOMPARE(rowCount(Category::history), 62);

        QCOMPARE(DBKeeper::cleanupDatabase(Category::history), QStringList{QStringLiteral("oldest")});
        QCOMPARE(rowCount(Category::history), 61);
    }

    void trimmingFavouritesNeverTouchesHistory()
    {
        for (int i = 0; i < 61; ++i)
            addClip(QStringLiteral("f%1").arg(i), 100 + i, Category::favourite, 100 + i);
        addClip(QStringLiteral("ancient"), 1);
        QCOMPARE(DBKeeper::cleanupDatabase(Category::favourite), QStringList{QStringLiteral("f0")});
        QCOMPARE(rowCount(Category::history), 1);
    }

    void clearingSparesFavourites()
    {
        addClip(QStringLiteral("plain"), 10);
        addClip(QStringLiteral("old"), 1);
        addClip(QStringLiteral("loved"), 2, Category::history, 50);
        addClip(QStringLiteral("loved"), 2, Category::favourite, 50);
        addClip(QStringLiteral("unloved"), 3, Category::history, -60);

        QStringList cleared = DBKeeper::clearHistoryLessThan(5);
        cleared.sort();
        QCOMPARE(cleared, (QStringList{QStringLiteral("old"), QStringLiteral("unloved")}));

        QCOMPARE(DBKeeper::clearAllHistory(), QStringList{QStringLiteral("plain")});
        QCOMPARE(rowCount(Category::history), 1);
        QCOMPARE(rowCount(Category::favourite), 1);

        QCOMPARE(DBKeeper::removeAllData(), (QStringList{QStringLiteral("loved"), QStringLiteral("loved")}));
        QCOMPARE(rowCount(Category::history) + rowCount(Category::favourite), 0);
    }

    void syncSelectionsSkipWhatMustNotTravel()
    {
        HistoryModel secret = addClip(QStringLiteral("secret"), 50);
        secret.increase_change_count();
        secret.signSecert(true);
        HistoryModel huge = addClip(QStringLiteral("huge"), 40);
        huge.file_size = 5767169;
        huge.save();
        huge.increase_change_count();
        addClip(QStringLiteral("unchanged"), 30);
        QVERIFY(!DBKeeper::getUnProcessHistory());

        HistoryModel limit = addClip(QStringLiteral("limit"), 20);
        limit.file_size = 5767168;
        limit.save();
        limit.increase_change_count();
        QCOMPARE(DBKeeper::getUnProcessHistory()->hash(), QStringLiteral("limit"));
        QVERIFY(!DBKeeper::getUnProcessFavourite());
    }

    void fileSelectionFindsPayloadOnOneSideOnly()
    {
        HistoryModel both = addClip(QStringLiteral("both"), 30);
        both.file_id = 1;
        both.file_ready = 1;
        both.local_file_ok = 1;
        both.save();
        HistoryModel neither = addClip(QStringLiteral("neither"), 20);
        neither.file_id = 2;
        neither.save();
        HistoryModel noFile = addClip(QStringLiteral("nofile"), 40);
        noFile.local_file_ok = 1;
        noFile.save();
        QVERIFY(!DBKeeper::getFileProcessHistory());

        HistoryModel upload = addClip(QStringLiteral("upload"), 10);
        upload.file_id = 3;
        upload.local_file_ok = 1;
        upload.save();
        QCOMPARE(DBKeeper::getFileProcessHistory()->hash(), QStringLiteral("upload"));
    }

    void updatesReachEveryRowOfAHash()
    {
        addClip(QStringLiteral("h"), 1);
        addClip(QStringLiteral("h"), 1, Category::favourite, 9);
        DBKeeper::setLocalFileOkWithHash(QString());
        DBKeeper::setLocalFileOkWithHash(QStringLiteral("h"));
        QVERIFY(DBKeeper::updateTimestamp(77, QStringLiteral("h")));
        QVERIFY(DBKeeper::updateHistoryID(5, 6, QStringLiteral("h")));
        DBKeeper::setRemoteFileReady(1, QStringLiteral("h"));
        for (const HistoryModel &clip : DBKeeper::getAllHistory() + DBKeeper::getAllFavourites()) {
            QCOMPARE(clip.local_file_ok, 1);
            QCOMPARE(clip.timestamp, qint64(77));
            QCOMPARE(clip.history_id, 5);
            QCOMPARE(clip.file_id, 6);
            QCOMPARE(clip.file_ready, 1);
        }
        DBKeeper::setLocalHistoryOnly(QStringLiteral("h"));
        QCOMPARE(DBKeeper::getAllFavourites().first().history_id, 0);
        QCOMPARE(DBKeeper::getAllFavourites().first().file_ready, 0);

        const QJsonObject favourites = DBKeeper::getSyncFavourite();
        QVERIFY(favourites.isEmpty()); // history id was dropped
        QVERIFY(DBKeeper::updateHistoryID(8, 0, QStringLiteral("h")));
        QCOMPARE(DBKeeper::getSyncFavourite()
                     .value(QLatin1String("8"))
                     .toObject()
                     .value(QLatin1String("favourite"))
                     .toInt(),
                 9);
        QCOMPARE(DBKeeper::getClipObjectWithHistoryID(8, Category::favourite)->hash(), QStringLiteral("h"));
    }

    void deletionsByIdAndHash()
    {
        HistoryModel clip = addClip(QStringLiteral("d1"), 1);
        addClip(QStringLiteral("d1"), 1, Category::favourite, 3);
        QVERIFY(DBKeeper::updateHistoryID(31, 0, QStringLiteral("d1")));

        QVERIFY(!DBKeeper::deleteHistoryWithId(QStringLiteral("999")));
        QVERIFY(!DBKeeper::deleteHistoryWithId(QStringLiteral("1 or 1=1")));
        QCOMPARE(rowCount(Category::history), 1);
        QCOMPARE(DBKeeper::deleteHistoryWithId(QStringLiteral("31")), QStringLiteral("d1"));
        QCOMPARE(rowCount(Category::history) + rowCount(Category::favourite), 0);

        addClip(QStringLiteral("d2"), 1);
        addClip(QStringLiteral("d2"), 1, Category::favourite, 3);
        QVERIFY(DBKeeper::deleteClipItem(QStringLiteral("d2"), Category::favourite));
        QVERIFY(DBKeeper::historyExist(QStringLiteral("d2")));
        QVERIFY(DBKeeper::deleteClipItem(QStringLiteral("d2")));
        QVERIFY(!DBKeeper::historyExist(QStringLiteral("d2")));
        QVERIFY(!DBKeeper::deleteClipWithHistoryID(std::nullopt));
    }

    void concurrentWritersLoseNothing()
    {
        // Two threads write for a few seconds while the main thread reads; every row arrives.
        std::atomic<int> written[2] = {0, 0};
        QElapsedTimer clock;
        clock.start();
        auto writer = [&](int id) {
            return QThread::create([&, id] {
                int n = 0;
                while (clock.elapsed() < 2500) {
                    HistoryModel clip = addClip(QStringLiteral("t%1-%2").arg(id).arg(n), n);
                    clip.increase_change_count();
                    DBKeeper::updateTimestamp(n + 1, clip.hash());
                    written[id] = ++n;
                }
            });
        };
        std::unique_ptr<QThread> a(writer(0)), b(writer(1));
        a->start();
        b->start();
        while (!a->isFinished() || !b->isFinished())
            DBKeeper::getAllHistory();
        a->wait();
        b->wait();
        QVERIFY(written[0] > 0 && written[1] > 0);
        QCOMPARE(rowCount(Category::history), qint64(written[0] + written[1]));
    }

    // The capture stores clips on one thread (each twice, as when the same text is copied
    // again) while the main thread clears the history, both through the real store on one
    // database file. Afterwards every row has its payload and every payload has a row.
    void clearingWhileCapturingKeepsRowsAndPayloadsTogether()
    {
        std::atomic<bool> capturing = true;
        std::unique_ptr<QThread> capture(QThread::create([&] {
            MemoryPasteboard clipboard;
            ClipController controller(clipboard);
            for (int i = 0; i < 600; ++i) {
                clipboard.setString(QStringLiteral("clip %1").arg(i / 2));
                controller.catchClipboard();
            }
            capturing = false;
        }));
        capture->start();
        int clears = 0;
        while (capturing) {
            const QStringList hashes =
                ++clears % 4 == 0 ? DBKeeper::removeAllData() : DBKeeper::clearAllHistory();
            ClipFileManager::sharedInstance().deleteFilesWithHashArray(hashes);
        }
        capture->wait();

        QStringList payloads = QDir(PathHelper::getBaseFilePath()).entryList(QDir::Files);
        payloads.sort();
        QVERIFY(clears > 10);
        QCOMPARE(payloads, storedHashes());
    }
};

QTEST_GUILESS_MAIN(TestDBKeeper)
#include "tst_dbkeeper.moc"
