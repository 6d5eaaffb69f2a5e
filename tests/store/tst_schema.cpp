// Schema set-up on real database files: fresh layout, upgrades of older layouts, clean-up.
#include "TestDirs.h"
#include "store/DBKeeper.h"
#include "support/Database.h"
#include "store/DBFetcher.h"
#include "store/HistorySchema.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

const QStringList kColumns = {
    QStringLiteral("content"), QStringLiteral("timeStamp"), QStringLiteral("deviceName"),
    QStringLiteral("file_hash"), QStringLiteral("type"), QStringLiteral("history_id"),
    QStringLiteral("file_id"), QStringLiteral("file_ready"), QStringLiteral("file_name"),
    QStringLiteral("change_timestamp"), QStringLiteral("local_file_ok"), QStringLiteral("file_size"),
    QStringLiteral("secert"), QStringLiteral("category"), QStringLiteral("favourite")};

constexpr char kEmptyHash[] = "d41d8cd98f00b204e9800998ecf8427e";

QStringList indexNames(Database &db)
{
    QStringList names;
    SqlQuery rows = db.query("select name from sqlite_master where type = 'index' and tbl_name = 'History' "
                             "and name not like 'sqlite_%' order by name");
    while (rows.next())
        names << *rows.text(0);
    return names;
}

qint64 count(Database &db, const char *sql)
{
    SqlQuery rows = db.query(sql);
    return rows.next() ? rows.int64(0) : -1;
}

// An older layout: the first `columns` columns of today's table, without indexes. Very old
// databases also allowed NULL content.
void createOldLayout(Database &db, int columns, bool nullableContent = false)
{
    static const QStringList definitions = {
        QStringLiteral("content TEXT NOT NULL"), QStringLiteral("timeStamp REAL NOT NULL DEFAULT 0"),
        QStringLiteral("deviceName TEXT"), QStringLiteral("file_hash TEXT NOT NULL"), QStringLiteral("type TEXT"),
        QStringLiteral("history_id INTEGER NOT NULL DEFAULT 0"), QStringLiteral("file_id INTEGER NOT NULL DEFAULT 0"),
        QStringLiteral("file_ready INTEGER NOT NULL DEFAULT 0"), QStringLiteral("file_name TEXT"),
        QStringLiteral("change_timestamp INTEGER NOT NULL DEFAULT 0"),
        QStringLiteral("local_file_ok INTEGER NOT NULL DEFAULT 0"), QStringLiteral("file_size REAL NOT NULL DEFAULT 0"),
        QStringLiteral("secert INTEGER NOT NULL DEFAULT 0"), QStringLiteral("category TEXT NOT NULL DEFAULT 'history'"),
        QStringLiteral("favourite INTEGER NOT NULL DEFAULT 0")};
    QStringList chosen = definitions.mid(0, columns);
    if (nullableContent)
        chosen[0] = QStringLiteral("content TEXT");
    QVERIFY(db.exec(QStringLiteral("CREATE TABLE History (%1)").arg(chosen.join(QStringLiteral(", ")))));
}

} // namespace

class TestSchema final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_scratch;

    QString scratchFile(const char *name) const { return m_scratch.filePath(QLatin1String(name)); }

private slots:
    void freshDataFolderGetsFullTableAndIndexes()
    {
        QVERIFY(DBKeeper::getAllHistory().isEmpty()); // first use runs the set-up
        QVERIFY(QFile::exists(m_dirs.dataPath() + QStringLiteral("/clipDB.sqlite")));
        DBFetcher::sharedInstance().inDatabase([](Database &db) {
            QCOMPARE(db.columns(QStringLiteral("History")), kColumns);
            QVERIFY(indexNames(db).contains(QStringLiteral("History_file_hash_category")));
            QVERIFY(db.exec("insert into History (content, file_hash) values ('a', 'h1')"));
            QVERIFY(!db.exec("insert into History (content, file_hash) values ('b', 'h1')"));
            QVERIFY(db.exec("insert into History (content, file_hash, category) values ('b', 'h1', 'favourite')"));
        });
    }

    void twelveColumnLayoutIsUpgraded()
    {
        Database db(scratchFile("old12.sqlite"));
        createOldLayout(db, 12);
        QVERIFY(db.exec("insert into History (content, timeStamp, file_hash, type) values ('one', 10, 'aaa', 'text_txt')"));
        QVERIFY(db.exec("insert into History (content, timeStamp, file_hash, type, history_id) "
                        "values ('two', 20, 'bbb', 'text_txt', 7)"));

        HistorySchema::setUp(db);

        QCOMPARE(db.columns(QStringLiteral("History")), kColumns);
        QVERIFY(indexNames(db).contains(QStringLiteral("History_file_hash_category")));
        QCOMPARE(count(db, "select count(*) from History where category = 'history' and secert = 0 and favourite = 0"), 2);
        QCOMPARE(count(db, "select history_id from History where file_hash = 'bbb'"), 7);
        QCOMPARE(count(db, "select count(*) from sqlite_master where name = 'History2'"), 0);
    }

    void layoutLackingOnlyFavouriteGainsIt()
    {
        Database db(scratchFile("nofav.sqlite"));
        createOldLayout(db, 14);
        QVERIFY(db.exec("CREATE UNIQUE INDEX History_file_hash_category ON History(file_hash, category);"));
        QVERIFY(db.exec("insert into History (content, file_hash, secert, category) values ('x', 'ccc', 1, 'favourite')"));

        HistorySchema::setUp(db);

        QCOMPARE(db.columns(QStringLiteral("History")), kColumns);
        QCOMPARE(count(db, "select count(*) from History where file_hash = 'ccc' and secert = 1 "
                           "and category = 'favourite' and favourite = 0"), 1);
        QVERIFY(!db.exec("insert into History (content, file_hash, category) values ('y', 'ccc', 'favourite')"));
    }

    void duplicateHashesInOldLayoutKeepRowsWithoutUniqueIndex()
    {
        Database db(scratchFile("dups.sqlite"));
        createOldLayout(db, 12);
        QVERIFY(db.exec("insert into History (content, file_hash) values ('one', 'same')"));
        QVERIFY(db.exec("insert into History (content, file_hash) values ('two', 'same')"));

        HistorySchema::setUp(db);

        QCOMPARE(db.columns(QStringLiteral("History")), kColumns);
        QCOMPARE(count(db, "select count(*) from History where file_hash = 'same'"), 2);
        QVERIFY(!indexNames(db).contains(QStringLiteral("History_file_hash_category")));
    }

    void startUpCleanUpDropsEmptyClipsOnly()
    {
        Database db(scratchFile("cleanup.sqlite"));
        createOldLayout(db, 15, true);
        QVERIFY(db.exec("CREATE UNIQUE INDEX History_file_hash_category ON History(file_hash, category);"));
        QVERIFY(db.exec("insert into History (content, file_hash) values ('keep', 'k1')"));
        QVERIFY(db.exec("insert into History (content, file_hash) values (NULL, 'n1')"));
        for (const QString &category : {QStringLiteral("history"), QStringLiteral("favourite")})
            QVERIFY(db.exec("insert into History (content, file_hash, category) values ('', ?, ?)",
                            {QString::fromLatin1(kEmptyHash), category}));

        HistorySchema::setUp(db);

        QCOMPARE(count(db, "select count(*) from History"), 1);
        QCOMPARE(count(db, "select count(*) from History where file_hash = 'k1'"), 1);
        QCOMPARE(db.columns(QStringLiteral("History")), kColumns);
        QVERIFY(indexNames(db).contains(QStringLiteral("History_file_hash_category")));
    }

    void unopenableDatabaseRunsWorkWithoutConnection()
    {
        Database db(QStringLiteral("/proc/quillet-no-such-folder/clipDB.sqlite"));
        QVERIFY(!db.isOpen());
        QVERIFY(!db.exec("select 1"));
        SqlQuery rows = db.query("select 1");
        QVERIFY(!rows.next());
        HistorySchema::setUp(db); // must not crash
    }
};

QTEST_GUILESS_MAIN(TestSchema)
#include "tst_schema.moc"
