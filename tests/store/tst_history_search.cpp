// The history window's search and the history length on real database files: words in any
// script and case, file names, texts with SQL and FTS signs, an index that follows every change
// and is built for a database of an older version, and the trim that keeps as many clips as
// the settings say.
#include "TestDirs.h"
#include "TestSync.h"

#include "store/DBKeeper.h"
#include "store/DBObject.h"
#include "store/HistorySchema.h"
#include "store/HistorySearch.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "support/Database.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

void insert(Database &db, const QString &content, qint64 timestamp, const QString &category = u"history"_s,
            const QString &fileName = {})
{
    QVERIFY(db.exec(
        "insert into History (content, timeStamp, file_hash, type, file_name, category) values (?, ?, "
        "?, ?, ?, ?)",
        {content, timestamp, u"hash%1%2"_s.arg(timestamp).arg(category),
         fileName.isEmpty() ? u"text_txt"_s : u"file_pdf"_s,
         fileName.isEmpty() ? SqlValue() : SqlValue(fileName), category}));
}

QStringList found(const QString &text)
{
    QStringList contents;
    for (const HistoryModel &clip : HistorySearch::find(text))
        contents << clip.content.value_or(QString());
    return contents;
}

qint64 rows(const char *category)
{
    qint64 count = -1;
    DBObject::inDatabase([&](Database &db) {
        SqlQuery query =
            db.query("select count(*) from History where category = ?", {QString::fromLatin1(category)});
        if (query.next())
            count = query.int64(0);
    });
    return count;
}

} // namespace

class TestHistorySearch final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_scratch;

private slots:
    void init()
    {
        DBObject::inDatabase([](Database &db) { QVERIFY(db.exec("delete from History")); });
    }

    // Any part of a text or a file name, in any case and script, newest first; favourites'
    // own rows are not listed twice.
    void findsClipsByAnyPartOfTheirTextOrFileName()
    {
        DBObject::inDatabase([](Database &db) {
            for (int i = 0; i < 300; ++i)
                insert(db, u"filler clip %1"_s.arg(i), 1000 + i);
            insert(db, u"Meeting notes for Tuesday"_s, 5000);
            insert(db, u"会议记录：星期二下午三点"_s, 5001);
            insert(db, u"/home/me/Quarterly Report.pdf"_s, 5002, u"history"_s, u"Quarterly Report.pdf"_s);
            insert(db, u"Discount of 100% off_today"_s, 5003);
            insert(db, u"say \"hello\" NOT OR AND *"_s, 5004);
            insert(db, u"Meeting notes for Tuesday"_s, 5005, u"favourite"_s);
            insert(db, u"later meeting"_s, 5006);
        });
        QCOMPARE(found(u"MEETING"_s), (QStringList{u"later meeting"_s, u"Meeting notes for Tuesday"_s}));
        QCOMPARE(found(u"  notes for tues "_s), QStringList{u"Meeting notes for Tuesday"_s});
        QCOMPARE(found(u"会议记录"_s), QStringList{u"会议记录：星期二下午三点"_s});
        QCOMPARE(found(u"星期"_s), QStringList{u"会议记录：星期二下午三点"_s}); // shorter than the index
        QCOMPARE(found(u"report.PDF"_s), QStringList{u"/home/me/Quarterly Report.pdf"_s});
        // Signs of LIKE and of the FTS query language are taken literally.
        QCOMPARE(found(u"100%"_s), QStringList{u"Discount of 100% off_today"_s});
        QCOMPARE(found(u"f_t"_s), QStringList{u"Discount of 100% off_today"_s});
        QCOMPARE(found(u"%"_s), QStringList{u"Discount of 100% off_today"_s});
        QCOMPARE(found(u"\"hello\" NOT"_s), QStringList{u"say \"hello\" NOT OR AND *"_s});
        QCOMPARE(found(u"OR AND *"_s), QStringList{u"say \"hello\" NOT OR AND *"_s});
        QVERIFY(found(u"nowhere to be found"_s).isEmpty());
        // An empty search lists the newest clips; the limit holds.
        QCOMPARE(found(QString()).value(0), u"later meeting"_s);
        QCOMPARE(HistorySearch::find(QString(), 50).size(), 50);
        QCOMPARE(HistorySearch::find(u"filler"_s, 20).size(), 20);
    }

    // The index follows inserts, edits and deletions, and is built for a database written by
    // a version without it, also after its rows were renumbered by a compaction.
    void indexFollowsChangesAndOlderDatabases()
    {
        DBObject::inDatabase([](Database &db) {
            insert(db, u"alpha first"_s, 1);
            insert(db, u"beta second"_s, 2);
            QVERIFY(db.exec("update History set content = 'gamma edited' where content = 'beta second'"));
            QVERIFY(db.exec("delete from History where content = 'alpha first'"));
        });
        QVERIFY(found(u"alpha"_s).isEmpty());
        QVERIFY(found(u"beta"_s).isEmpty());
        QCOMPARE(found(u"gamma"_s), QStringList{u"gamma edited"_s});

        // An older version's file: no index, rows with gaps in their numbers.
        const QString path = m_scratch.filePath(u"old.sqlite"_s);
        {
            Database db(path);
            QVERIFY(db.exec(
                "CREATE TABLE History (content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, "
                "deviceName TEXT, file_hash TEXT NOT NULL, type TEXT, history_id INTEGER NOT NULL "
                "DEFAULT 0, file_id INTEGER NOT NULL DEFAULT 0 , file_ready INTEGER NOT NULL DEFAULT "
                "0, file_name TEXT, change_timestamp INTEGER NOT NULL DEFAULT 0, local_file_ok "
                "INTEGER NOT NULL DEFAULT 0, file_size REAL NOT NULL DEFAULT 0, secert INTEGER NOT "
                "NULL DEFAULT 0, category TEXT NOT NULL DEFAULT 'history', favourite INTEGER NOT NULL "
                "DEFAULT 0)"));
            for (int i = 0; i < 40; ++i)
                insert(db, u"old clip %1 工作日记"_s.arg(i), i);
            QVERIFY(db.exec("delete from History where timeStamp < 20"));
        }
        for (int start = 0; start < 2; ++start) {
            Database db(path);
            QVERIFY(HistorySchema::setUp(db));
            QVERIFY(db.hasTable(u"History_search"_s));
            SqlQuery hits =
                db.query("select History.content from History_search join History on History.rowid "
                         "= History_search.rowid where History_search match '\"clip 33 工作\"'");
            QVERIFY(hits.next());
            QCOMPARE(*hits.text(0), u"old clip 33 工作日记"_s);
            QVERIFY(!hits.next());
            SqlQuery count =
                db.query("select count(*) from History_search where History_search match '工作日记'");
            QVERIFY(count.next());
            QCOMPARE(count.int64(0), 20 - start);
            // The index's own check compares it with the table.
            QVERIFY(
                db.exec("INSERT INTO History_search(History_search, rank) VALUES ('integrity-check', 1)"));
            // Rows deleted between starts leave the index consistent for the next one.
            QVERIFY(db.exec("delete from History where timeStamp = 25"));
        }
    }

    // The history keeps as many clips as the settings say (60 unless changed, 10 to 10,000);
    // the favourites keep their own 60.
    void historyLengthBoundsTheTrim()
    {
        Settings &settings = testSettings();
        QCOMPARE(Settings::historyLength(), 60);
        settings.setHistoryLength(3);
        QCOMPARE(Settings::historyLength(), 10);
        settings.setHistoryLength(50000);
        QCOMPARE(Settings::historyLength(), 10000);

        DBObject::inDatabase([](Database &db) {
            for (int i = 0; i < 250; ++i)
                insert(db, u"clip %1"_s.arg(i), i);
            for (int i = 0; i < 70; ++i)
                insert(db, u"favourite %1"_s.arg(i), i, u"favourite"_s);
        });
        settings.setHistoryLength(200);
        QCOMPARE(Settings::historyLength(), 200);
        QCOMPARE(DBKeeper::cleanupDatabase(u"history"_s).size(), 50);
        QCOMPARE(rows("history"), 200);
        QCOMPARE(found(u"clip 49"_s), QStringList{});
        QCOMPARE(found(u"clip 50"_s), QStringList{u"clip 50"_s});
        QCOMPARE(DBKeeper::cleanupDatabase(u"favourite"_s).size(), 10);
        QCOMPARE(rows("favourite"), 60);

        settings.setHistoryLength(SettingsDefaults::historyLength);
        DBKeeper::cleanupDatabase(u"history"_s);
        QCOMPARE(rows("history"), 60);
    }
};

QTEST_GUILESS_MAIN(TestHistorySearch)
#include "tst_history_search.moc"
