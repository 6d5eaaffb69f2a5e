// Schema set-up on real database files: fresh layout, upgrades of older layouts, clean-up; an
// upgrade killed midway, half-upgraded files, and starts on a damaged database or a data folder
// that cannot be written (in a process of their own).
#include "TestDirs.h"
#include "TestFiles.h"
#include "TestSync.h"
#include "store/ClipUserDefaults.h"
#include "store/DBFetcher.h"
#include "store/DBKeeper.h"
#include "store/HistorySchema.h"
#include "support/Database.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

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

// Today's columns, in order, as an older version defined them.
const QStringList kDefinitions = {u"content TEXT NOT NULL"_s,
                                  u"timeStamp REAL NOT NULL DEFAULT 0"_s,
                                  u"deviceName TEXT"_s,
                                  u"file_hash TEXT NOT NULL"_s,
                                  u"type TEXT"_s,
                                  u"history_id INTEGER NOT NULL DEFAULT 0"_s,
                                  u"file_id INTEGER NOT NULL DEFAULT 0"_s,
                                  u"file_ready INTEGER NOT NULL DEFAULT 0"_s,
                                  u"file_name TEXT"_s,
                                  u"change_timestamp INTEGER NOT NULL DEFAULT 0"_s,
                                  u"local_file_ok INTEGER NOT NULL DEFAULT 0"_s,
                                  u"file_size REAL NOT NULL DEFAULT 0"_s,
                                  u"secert INTEGER NOT NULL DEFAULT 0"_s,
                                  u"category TEXT NOT NULL DEFAULT 'history'"_s,
                                  u"favourite INTEGER NOT NULL DEFAULT 0"_s};

const QStringList kColumns = [] {
    QStringList names;
    for (const QString &definition : kDefinitions)
        names << definition.section(QLatin1Char(' '), 0, 0);
    return names;
}();

// An older layout: the first `columns` columns of today's table, without indexes. Very old
// databases also allowed NULL content.
void createOldLayout(Database &db, int columns, bool nullableContent = false)
{
    QStringList chosen = kDefinitions.mid(0, columns);
    if (nullableContent)
        chosen[0] = u"content TEXT"_s;
    QVERIFY(db.exec(u"CREATE TABLE History (%1)"_s.arg(chosen.join(u", "_s))));
}

void insertClip(Database &db, const char *table, const QString &content, const QString &hash)
{
    QVERIFY(db.exec(
        u"insert into %1 (content, file_hash, type) values (?, ?, 'text_txt')"_s.arg(QLatin1String(table)),
        {content, hash}));
}

QStringList contents(Database &db)
{
    QStringList found;
    SqlQuery rows = db.query("select content from History where category = 'history' order by content");
    while (rows.next())
        found << *rows.text(0);
    return found;
}

// Today's layout, as a rebuild or an older start made it, with the unique index when asked.
void createFullTable(Database &db, const char *table, bool uniqueIndex)
{
    createOldLayout(db, 15);
    if (QLatin1String(table) != "History"_L1)
        QVERIFY(db.exec(u"ALTER TABLE History RENAME TO %1"_s.arg(QLatin1String(table))));
    if (uniqueIndex)
        QVERIFY(db.exec(u"CREATE UNIQUE INDEX History_file_hash_category ON %1(file_hash, category)"_s.arg(
            QLatin1String(table))));
}

struct StoreRun {
    int state = -1;
    QStringList alerts;
    int rows = -1;
    int logLines = 0;
};

// Starts the store in a process of its own on this data folder and captures the texts.
StoreRun startStore(const QString &dataFolder, const QString &configFolder, const QStringList &texts)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QUILLET_DATA_DIR"_s, dataFolder);
    env.insert(u"QUILLET_CONFIG_DIR"_s, configFolder);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(STORE_PROCESS), QStringList{u"start"_s} + texts);
    StoreRun run;
    if (!process.waitForFinished(20000) || process.exitCode() != 0)
        return run;
    const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith("state="_L1))
            run.state = line.mid(6).toInt();
        else if (line.startsWith("alert="_L1))
            run.alerts << line.mid(6);
        else if (line.startsWith("rows="_L1))
            run.rows = line.mid(5).toInt();
    }
    run.logLines = int(process.readAllStandardError().count('\n'));
    return run;
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
        QVERIFY(QFile::exists(m_dirs.dataPath() + u"/clipDB.sqlite"_s));
        DBFetcher::inDatabase([](Database &db) {
            QCOMPARE(db.columns(u"History"_s), kColumns);
            QVERIFY(indexNames(db).contains(u"History_file_hash_category"_s));
            QVERIFY(db.exec("insert into History (content, file_hash) values ('a', 'h1')"));
            QVERIFY(!db.exec("insert into History (content, file_hash) values ('b', 'h1')"));
            QVERIFY(db.exec(
                "insert into History (content, file_hash, category) values ('b', 'h1', 'favourite')"));
        });
    }

    // Older layouts gain the missing columns and, when the hashes allow it, the unique index,
    // keeping their rows; the start-up clean-up drops empty clips only.
    void olderLayoutsAreUpgraded_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<QStringList>("setUp");
        QTest::addColumn<QByteArray>("rowsQuery");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<bool>("uniqueIndex");
        const QString index =
            u"CREATE UNIQUE INDEX History_file_hash_category ON History(file_hash, category)"_s;
        QTest::newRow("twelve columns")
            << 12
            << QStringList{u"insert into History (content, timeStamp, file_hash) values ('one', 10, 'aaa')"_s,
                           u"insert into History (content, file_hash, history_id) values ('two', 'bbb', 7)"_s}
            << QByteArray("select content || ':' || history_id from History "
                          "where category = 'history' and secert = 0 and favourite = 0")
            << u"one:0,two:7"_s << true;
        QTest::newRow("lacking only favourite")
            << 14
            << QStringList{index,
                           u"insert into History (content, file_hash, secert, category) values ('x', 'c', 1, 'favourite')"_s}
            << QByteArray("select file_hash || secert || category || favourite from History")
            << u"c1favourite0"_s << true;
        QTest::newRow("duplicate hashes")
            << 12
            << QStringList{u"insert into History (content, file_hash) values ('one', 'same')"_s,
                           u"insert into History (content, file_hash) values ('two', 'same')"_s}
            << QByteArray("select content from History where file_hash = 'same'") << u"one,two"_s << false;
        // Very old databases allowed NULL content.
        QTest::newRow("clean-up")
            << -15
            << QStringList{index, u"insert into History (content, file_hash) values ('keep', 'k1')"_s,
                           u"insert into History (content, file_hash) values (NULL, 'n1')"_s,
                           u"insert into History (content, file_hash) values ('', '%1')"_s.arg(
                               QLatin1String(kEmptyHash)),
                           u"insert into History (content, file_hash, category) values ('', '%1', 'favourite')"_s
                               .arg(QLatin1String(kEmptyHash))}
            << QByteArray("select file_hash from History") << u"k1"_s << true;
    }

    void olderLayoutsAreUpgraded()
    {
        QFETCH(int, columns);
        QFETCH(QStringList, setUp);
        QFETCH(QByteArray, rowsQuery);
        QFETCH(QString, rows);
        QFETCH(bool, uniqueIndex);
        Database db(m_scratch.filePath(QString::fromLatin1(QTest::currentDataTag()) + u".sqlite"_s));
        createOldLayout(db, std::abs(columns), columns < 0);
        for (const QString &statement : setUp)
            QVERIFY(db.exec(statement));

        QVERIFY(HistorySchema::setUp(db));

        QCOMPARE(db.columns(u"History"_s), kColumns);
        QVERIFY(!db.hasTable(u"History2"_s));
        // Failed transfers are kept in a table of their own, beside the rows of the old file.
        QVERIFY(db.hasTable(u"SyncFailure"_s));
        QCOMPARE(indexNames(db).contains(u"History_file_hash_category"_s), uniqueIndex);
        QStringList found;
        SqlQuery query = db.query(QByteArray(rowsQuery + " order by 1").constData());
        while (query.next())
            found << query.text(0).value_or(u"NULL"_s);
        QCOMPARE(found.join(QLatin1Char(',')), rows);
    }

    // The rebuild that adds categories, killed with SIGKILL after each of its steps: the next
    // start finds every row.
    void upgradeKilledMidwayLosesNoRows_data()
    {
        QTest::addColumn<QByteArray>("step");
        for (const char *step : {"created", "copied", "category added", "dropped", "renamed"})
            QTest::newRow(step) << QByteArray(step);
    }

    void upgradeKilledMidwayLosesNoRows()
    {
        QFETCH(QByteArray, step);
        const QString path = m_scratch.filePath(u"killed-%1.sqlite"_s.arg(QString::fromLatin1(step)));
        {
            Database db(path);
            createOldLayout(db, 12);
            for (const char *hash : {"aaa", "bbb", "ccc"})
                insertClip(db, "History", QLatin1String(hash), QLatin1String(hash));
        }

        QProcess upgrade;
        upgrade.start(QStringLiteral(STORE_PROCESS), {u"upgrade"_s, path, QString::fromLatin1(step)});
        QByteArray output;
        while (!output.contains("stopped") && upgrade.waitForReadyRead(20000))
            output += upgrade.readAllStandardOutput();
        QVERIFY2(output.contains("stopped"), output.constData());
        upgrade.kill();
        QVERIFY(upgrade.waitForFinished());
        QCOMPARE(upgrade.exitStatus(), QProcess::CrashExit);

        Database db(path);
        QVERIFY(HistorySchema::setUp(db));
        QCOMPARE(db.columns(u"History"_s), kColumns);
        QCOMPARE(contents(db), (QStringList{u"aaa"_s, u"bbb"_s, u"ccc"_s}));
        QVERIFY(!db.hasTable(u"History2"_s));
        QVERIFY(indexNames(db).contains(u"History_file_hash_category"_s));
    }

    // What an interrupted rebuild of an older version left behind is taken back at start.
    void leftoverRebuildTableIsTakenBack()
    {
        // (Killed between dropping the old table and renaming the new one: the "dropped" row of
        // upgradeKilledMidwayLosesNoRows.) A later start made a new table beside it (without the index, whose
        // name was taken) and captured into it, once the same clip as an orphaned row.
        {
            Database db(scratchFile("beside.sqlite"));
            createFullTable(db, "History2", true);
            insertClip(db, "History2", u"old one"_s, u"h1"_s);
            insertClip(db, "History2", u"old two"_s, u"h2"_s);
            createFullTable(db, "History", false);
            insertClip(db, "History", u"new"_s, u"h3"_s);
            insertClip(db, "History", u"recaptured"_s, u"h2"_s);
            QVERIFY(HistorySchema::setUp(db));
            QCOMPARE(contents(db), (QStringList{u"new"_s, u"old one"_s, u"recaptured"_s}));
            QVERIFY(!db.hasTable(u"History2"_s));
            QVERIFY(indexNames(db).contains(u"History_file_hash_category"_s));
        }
        // Killed while copying: the old table still holds every row.
        {
            Database db(scratchFile("partial-copy.sqlite"));
            createOldLayout(db, 13);
            insertClip(db, "History", u"one"_s, u"h1"_s);
            insertClip(db, "History", u"two"_s, u"h2"_s);
            QVERIFY(db.exec("CREATE TABLE History2 AS SELECT * FROM History WHERE file_hash = 'h1'"));
            QVERIFY(HistorySchema::setUp(db));
            QCOMPARE(contents(db), (QStringList{u"one"_s, u"two"_s}));
            QCOMPARE(db.columns(u"History"_s), kColumns);
        }
    }

    void failingUpgradeLeavesTheTableAsItWas()
    {
        // A row the new layout refuses (no hash) makes the copy fail; without the transaction,
        // the old table would be dropped all the same.
        Database db(scratchFile("refused.sqlite"));
        QVERIFY(db.exec(
            "CREATE TABLE History (content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, deviceName "
            "TEXT, file_hash TEXT, type TEXT)"));
        insertClip(db, "History", u"kept"_s, u"h1"_s);
        QVERIFY(db.exec("insert into History (content) values ('no hash')"));

        QVERIFY(!HistorySchema::setUp(db));
        QCOMPARE(db.columns(u"History"_s).size(), 5);
        QCOMPARE(count(db, "select count(*) from History"), 2);
        QVERIFY(!db.hasTable(u"History2"_s));
    }

    // A database file that is not one, or fails the quick check, is moved aside with a dated
    // name; a fresh history takes the new clips, and the user is told once.
    void damagedDatabaseIsMovedAsideOnce_data()
    {
        QTest::addColumn<bool>("notADatabase");
        QTest::newRow("not a database") << true;
        QTest::newRow("fails the quick check") << false;
    }

    void damagedDatabaseIsMovedAsideOnce()
    {
        QFETCH(bool, notADatabase);
        QTemporaryDir data;
        QTemporaryDir config;
        const QString path = data.filePath(u"clipDB.sqlite"_s);
        if (notADatabase) {
            QVERIFY(TestFiles::write(path, QByteArray(8192, 'x')));
            QVERIFY(TestFiles::write(path + u"-wal"_s, "not a log"));
        } else {
            {
                Database db(path);
                QVERIFY(db.exec("PRAGMA journal_mode=DELETE"));
                createOldLayout(db, 15);
                QVERIFY(db.exec("BEGIN"));
                for (int i = 0; i < 300; ++i)
                    insertClip(db, "History", u"clip %1"_s.arg(i), u"hash %1"_s.arg(i));
                QVERIFY(db.exec("COMMIT"));
            }
            // The table's first page is overwritten.
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek(4096));
            file.write(QByteArray(4096, '\xff'));
        }
        const QByteArray damagedBytes = TestFiles::read(path);

        const StoreRun first = startStore(data.path(), config.path(), {u"one"_s, u"two"_s});
        QCOMPARE(first.state, 1);
        QCOMPARE(first.rows, 2);
        QCOMPARE(first.alerts.size(), 1);
        const QStringList aside = QDir(data.path()).entryList({u"clipDB.sqlite.damaged-*"_s}, QDir::Files);
        const QRegularExpression dated(u"^clipDB\\.sqlite\\.damaged-\\d{8}-\\d{6}(-wal|-shm)?$"_s);
        QVERIFY(!aside.isEmpty());
        for (const QString &name : aside)
            QVERIFY2(dated.match(name).hasMatch(), qPrintable(name));
        const QString moved = data.filePath(aside.first());
        QCOMPARE(QFile::exists(moved + u"-wal"_s), notADatabase);
        QVERIFY(first.alerts.first().contains(moved));
        QVERIFY(first.alerts.first().contains(u"历史数据库已损坏"_s));
        QCOMPARE(TestFiles::read(moved), damagedBytes);

        const StoreRun second = startStore(data.path(), config.path(), {u"three"_s});
        QCOMPARE(second.state, 0);
        QVERIFY(second.alerts.isEmpty());
        QCOMPARE(second.rows, 3);
    }

    // A data folder that cannot be made (here a file stands where its parent should be, which
    // stops root too): the user is told once, nothing is recorded, and the log stays short.
    void unwritableDataFolderIsReportedAndCaptureStops()
    {
        QTemporaryDir parent;
        QTemporaryDir config;
        const QString blocker = parent.filePath(u"blocker"_s);
        QVERIFY(TestFiles::write(blocker, {}));
        const QString data = blocker + u"/Quillet"_s;
        QStringList texts;
        for (int i = 0; i < 20; ++i)
            texts << u"text %1"_s.arg(i);

        const StoreRun run = startStore(data, config.path(), texts);
        QCOMPARE(run.state, 2);
        QCOMPARE(run.rows, 0);
        QCOMPARE(run.alerts.size(), 1);
        QVERIFY(run.alerts.first().contains(data));
        QVERIFY(run.alerts.first().contains(u"无法写入数据文件夹"_s));
        QVERIFY2(run.logLines < 5, qPrintable(QString::number(run.logLines)));
    }

    // What an earlier version left readable is tightened at start, the settings file with its
    // sign-in token included; a link to a file outside the data folder leaves that file alone.
    void startTightensAnExistingDataFolder()
    {
        QTemporaryDir data;
        QTemporaryDir config;
        QTemporaryDir outside;
        const QString settings = config.filePath(u"Quillet.conf"_s);
        QVERIFY(TestFiles::write(settings, "[General]\nloginUserToken=abc\n"));
        QVERIFY(chmod(QFile::encodeName(settings).constData(), 0644) == 0);
        QVERIFY(chmod(QFile::encodeName(config.path()).constData(), 0755) == 0);
        QVERIFY(QDir(data.path()).mkpath(u"files"_s));
        const QString payload = data.filePath(u"files/0123"_s);
        const QString foreign = outside.filePath(u"theirs"_s);
        for (const QString &path : {payload, foreign})
            QVERIFY(TestFiles::write(path, {}) && chmod(QFile::encodeName(path).constData(), 0644) == 0);
        QVERIFY(QFile::link(foreign, data.filePath(u"files/link"_s)));
        for (const QString &folder : {data.path(), data.filePath(u"files"_s)})
            QVERIFY(chmod(QFile::encodeName(folder).constData(), 0755) == 0);

        QCOMPARE(startStore(data.path(), config.path(), {}).state, 0);
        QCOMPARE(TestFiles::mode(data.path()), mode_t(0700));
        QCOMPARE(TestFiles::mode(data.filePath(u"files"_s)), mode_t(0700));
        QCOMPARE(TestFiles::mode(payload), mode_t(0600));
        QCOMPARE(TestFiles::mode(data.filePath(u"clipDB.sqlite"_s)), mode_t(0600));
        QCOMPARE(TestFiles::mode(foreign), mode_t(0644));
        QCOMPARE(TestFiles::mode(config.path()), mode_t(0700));
        QCOMPARE(TestFiles::mode(settings), mode_t(0600));
    }

    // A settings file made now is its owner's alone from the first write, in a folder made so.
    void aNewSettingsFileIsPrivate()
    {
        QTemporaryDir home;
        const QString folder = home.filePath(u"config/Quillet"_s);
        const QByteArray before = qgetenv("QUILLET_CONFIG_DIR");
        qputenv("QUILLET_CONFIG_DIR", QFile::encodeName(folder));
        ClipUserDefaults::setValue(u"loginUserToken"_s, u"abc"_s);
        qputenv("QUILLET_CONFIG_DIR", before);
        QCOMPARE(TestFiles::mode(folder), mode_t(0700));
        QCOMPARE(TestFiles::mode(folder + u"/Quillet.conf"_s), mode_t(0600));
    }
};

QTEST_GUILESS_MAIN(TestSchema)
#include "tst_schema.moc"
