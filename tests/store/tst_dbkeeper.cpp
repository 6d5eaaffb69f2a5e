// Store queries: lists, sync selections, column updates, deletions, retention and clearing,
// also while the capture writes.
#include "CaptureWait.h"
#include "TestDirs.h"
#include "TestSync.h"
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

using namespace Qt::StringLiterals;

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
            addClip(u"h%1"_s.arg(i), 1000 + i);
        addClip(u"fav"_s, 5, Category::favourite, 1);

        const QList<HistoryModel> newest = DBKeeper::getAllHistoryAtCategory(Category::history, 100);
        QCOMPARE(newest.size(), 30);
        QCOMPARE(newest.first().hash(), u"h39"_s);
        QCOMPARE(newest.last().hash(), u"h10"_s);
        QVERIFY(DBKeeper::getAllHistoryAtCategory(Category::history, 0).isEmpty());
        QCOMPARE(DBKeeper::getAllHistoryAtCategory(Category::history, 3).size(), 3);
        QCOMPARE(hashesOf(DBKeeper::getAllFavourites()), QStringList{u"fav"_s});
    }

    void trimmingKeepsRowsTiedAtTheBoundary()
    {
        // 62 rows; the 60th and 61st newest share a timestamp: only the oldest goes.
        addClip(u"oldest"_s, 1);
        addClip(u"tieA"_s, 2);
        addClip(u"tieB"_s, 2);
        for (int i = 0; i < 59; ++i)
            addClip(u"h%1"_s.arg(i), 100 + i);
        QCOMPARE(rowCount(Category::history), 62);

        QCOMPARE(DBKeeper::cleanupDatabase(Category::history), QStringList{u"oldest"_s});
        QCOMPARE(rowCount(Category::history), 61);
    }

    void clearingSparesFavourites()
    {
        addClip(u"plain"_s, 10);
        addClip(u"old"_s, 1);
        addClip(u"loved"_s, 2, Category::history, 50);
        addClip(u"loved"_s, 2, Category::favourite, 50);
        addClip(u"unloved"_s, 3, Category::history, -60);

        QStringList cleared = DBKeeper::clearHistoryLessThan(5);
        cleared.sort();
        QCOMPARE(cleared, (QStringList{u"old"_s, u"unloved"_s}));

        QCOMPARE(DBKeeper::clearAllHistory(), std::optional(QStringList{u"plain"_s}));
        QCOMPARE(rowCount(Category::history), 1);
        QCOMPARE(rowCount(Category::favourite), 1);

        QCOMPARE(DBKeeper::removeAllData(), (QStringList{u"loved"_s, u"loved"_s}));
        QCOMPARE(rowCount(Category::history) + rowCount(Category::favourite), 0);
    }

    void syncSelectionsSkipWhatMustNotTravel()
    {
        HistoryModel secret = addClip(u"secret"_s, 50);
        secret.increase_change_count();
        secret.signSecret(true);
        HistoryModel huge = addClip(u"huge"_s, 40);
        huge.file_size = 5767169;
        huge.save();
        huge.increase_change_count();
        addClip(u"unchanged"_s, 30);
        QVERIFY(!DBKeeper::getUnProcessHistory());

        HistoryModel limit = addClip(u"limit"_s, 20);
        limit.file_size = 5767168;
        limit.save();
        limit.increase_change_count();
        QCOMPARE(DBKeeper::getUnProcessHistory()->hash(), u"limit"_s);
        QVERIFY(!DBKeeper::getUnProcessFavourite());
    }

    void fileSelectionFindsPayloadOnOneSideOnly()
    {
        HistoryModel both = addClip(u"both"_s, 30);
        both.file_id = 1;
        both.file_ready = 1;
        both.local_file_ok = 1;
        both.save();
        HistoryModel neither = addClip(u"neither"_s, 20);
        neither.file_id = 2;
        neither.save();
        HistoryModel noFile = addClip(u"nofile"_s, 40);
        noFile.local_file_ok = 1;
        noFile.save();
        QVERIFY(!DBKeeper::getFileProcessHistory());

        HistoryModel upload = addClip(u"upload"_s, 10);
        upload.file_id = 3;
        upload.local_file_ok = 1;
        upload.save();
        QCOMPARE(DBKeeper::getFileProcessHistory()->hash(), u"upload"_s);
    }

    void updatesReachEveryRowOfAHash()
    {
        addClip(u"h"_s, 1);
        addClip(u"h"_s, 1, Category::favourite, 9);
        DBKeeper::setLocalFileOkWithHash(QString());
        DBKeeper::setLocalFileOkWithHash(u"h"_s);
        QVERIFY(DBKeeper::updateTimestamp(77, u"h"_s));
        QVERIFY(DBKeeper::updateHistoryID(5, 6, u"h"_s));
        DBKeeper::setRemoteFileReady(1, u"h"_s);
        for (const HistoryModel &clip : DBKeeper::getAllHistory() + DBKeeper::getAllFavourites()) {
            QCOMPARE(clip.local_file_ok, 1);
            QCOMPARE(clip.timestamp, qint64(77));
            QCOMPARE(clip.history_id, 5);
            QCOMPARE(clip.file_id, 6);
            QCOMPARE(clip.file_ready, 1);
        }
        DBKeeper::setLocalHistoryOnly(u"h"_s);
        QCOMPARE(DBKeeper::getAllFavourites().first().history_id, 0);
        QCOMPARE(DBKeeper::getAllFavourites().first().file_ready, 0);

        const QJsonObject favourites = DBKeeper::getSyncFavourite();
        QVERIFY(favourites.isEmpty()); // history id was dropped
        QVERIFY(DBKeeper::updateHistoryID(8, 0, u"h"_s));
        QCOMPARE(DBKeeper::getSyncFavourite().value("8"_L1).toObject().value("favourite"_L1).toInt(), 9);
        QCOMPARE(DBKeeper::getClipObjectWithHistoryID(8, Category::favourite)->hash(), u"h"_s);
    }

    void deletionsByIdAndHash()
    {
        HistoryModel clip = addClip(u"d1"_s, 1);
        addClip(u"d1"_s, 1, Category::favourite, 3);
        QVERIFY(DBKeeper::updateHistoryID(31, 0, u"d1"_s));

        QVERIFY(!DBKeeper::deleteHistoryWithId(u"999"_s));
        QVERIFY(!DBKeeper::deleteHistoryWithId(u"1 or 1=1"_s));
        QCOMPARE(rowCount(Category::history), 1);
        // Clips never pushed (a secret one among them) hold id 0: no id of 0 or less reaches them.
        addClip(u"never pushed"_s, 2);
        HistoryModel secret = addClip(u"secret"_s, 3);
        secret.signSecret(true);
        for (const QVariant &id : {QVariant(0), QVariant(u"0"_s), QVariant(-1), QVariant(u"-7"_s)})
            QVERIFY2(!DBKeeper::deleteHistoryWithId(id), qPrintable(id.toString()));
        QCOMPARE(rowCount(Category::history), 3);
        QVERIFY(DBKeeper::deleteClipItem(u"never pushed"_s) && DBKeeper::deleteClipItem(u"secret"_s));
        QCOMPARE(DBKeeper::deleteHistoryWithId(u"31"_s), u"d1"_s);
        QCOMPARE(rowCount(Category::history) + rowCount(Category::favourite), 0);

        addClip(u"d2"_s, 1);
        addClip(u"d2"_s, 1, Category::favourite, 3);
        QVERIFY(DBKeeper::deleteClipItem(u"d2"_s, Category::favourite));
        QVERIFY(DBKeeper::historyExist(u"d2"_s));
        QVERIFY(DBKeeper::deleteClipItem(u"d2"_s));
        QVERIFY(!DBKeeper::historyExist(u"d2"_s));
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
                    HistoryModel clip = addClip(u"t%1-%2"_s.arg(id).arg(n), n);
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

    // The capture stores clips (each twice, as when the same text is copied again; the payload
    // written on its worker, the row on the main thread) while another thread clears the
    // history, as the clear command does, both through the real store on one database file.
    // Afterwards every row has its payload and every payload has a row.
    void clearingWhileCapturingKeepsRowsAndPayloadsTogether()
    {
        std::atomic<bool> capturing = true;
        std::atomic<int> clears = 0;
        std::unique_ptr<QThread> clearing(QThread::create([&] {
            while (capturing) {
                const QStringList hashes = ++clears % 4 == 0
                                               ? DBKeeper::removeAllData()
                                               : DBKeeper::clearAllHistory().value_or(QStringList());
                testFiles().deleteFilesWithHashArray(hashes);
            }
        }));
        clearing->start();
        MemoryPasteboard clipboard;
        clipboard.setReportsChanges(false);
        ClipController controller(clipboard, testFiles());
        for (int i = 0; i < 600; ++i) {
            clipboard.setString(u"clip %1"_s.arg(i / 2));
            captureNow(controller);
        }
        capturing = false;
        clearing->wait();

        QStringList payloads = QDir(PathHelper::getBaseFilePath()).entryList(QDir::Files);
        payloads.sort();
        QVERIFY(clears > 10);
        QCOMPARE(payloads, storedHashes());
    }
};

QTEST_GUILESS_MAIN(TestDBKeeper)
#include "tst_dbkeeper.moc"
