// Schema set-up on real database files: fresh layout, upgrades of older layouts and of what an
// interrupted rebuild left, the search index; an upgrade killed midway, and starts on a damaged database or a
// data folder that cannot be written (in a process of their own); the files' permissions.
#include "TestDirs.h"
#include "TestFiles.h"
#include "store/ClipUserDefaults.h"
#include "store/HistorySchema.h"
#include "support/Database.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// Today's columns, in order, as an older version defined them.
const QStringList kDefinitions =
    QStringLiteral(
        "content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, deviceName TEXT, file_hash TEXT NOT NULL, "
        "type TEXT, history_id INTEGER NOT NULL DEFAULT 0, file_id INTEGER NOT NULL DEFAULT 0, file_ready INTEGER "
        "NOT NULL DEFAULT 0, file_name TEXT, change_timestamp INTEGER NOT NULL DEFAULT 0, local_file_ok INTEGER NOT "
        "NULL DEFAULT 0, file_size REAL NOT NULL DEFAULT 0, secert INTEGER NOT NULL DEFAULT 0, category TEXT NOT "
        "NULL DEFAULT 'history', favourite INTEGER NOT NULL DEFAULT 0")
        .split(u", "_s);
const QStringList kColumns =
    QStringList(kDefinitions).replaceInStrings(QRegularExpression(u" .*"_s), QString());

// A table of the first `columns` of today's columns, without indexes.
QString createTable(const char *table, int columns)
{
    return u"CREATE TABLE %1 (%2)"_s.arg(QLatin1String(table), kDefinitions.mid(0, columns).join(u", "_s));
}

QString insert(const char *table, const char *content, const char *hash)
{
    return u"insert into %1 (content, file_hash) values ('%2', '%3')"_s.arg(
        QLatin1String(table), QLatin1String(content), QLatin1String(hash));
}

QStringList column(Database &db, const char *sql)
{
    QStringList found;
    SqlQuery rows = db.query(sql);
    while (rows.next())
        found << rows.text(0).value_or(u"NULL"_s);
    return found;
}

struct StoreRun {
    QStringList lines; // "state=N rows=N alerts=N", then each message for the user
    qsizetype logLines = 0;
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
    if (!process.waitForFinished(20000) || process.exitCode() != 0)
        return {};
    return {QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
            process.readAllStandardError().count('\n')};
}

} // namespace

class TestSchema final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_scratch;

private slots:
    // A fresh file, older layouts, and what an interrupted rebuild of an older version left (a
    // table History2 beside History) get today's layout without losing a row; the start-up
    // clean-up drops empty clips only; duplicate hashes keep their rows, not the unique index.
    void olderLayoutsAreUpgraded_data()
    {
        QTest::addColumn<QStringList>("setUp");
        QTest::addColumn<QByteArray>("rowsQuery");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<bool>("uniqueIndex");
        const QString index = u"CREATE UNIQUE INDEX History_file_hash_category ON %1(file_hash, category)"_s;
        QTest::newRow("fresh") << QStringList{} << QByteArray("select count(*) from History") << u"0"_s
                               << true;
        QTest::newRow("twelve columns")
            << QStringList{createTable("History", 12),
                           u"insert into History (content, file_hash, history_id) values ('two', 'b', 7)"_s}
            << QByteArray("select content || history_id || secert || category from History")
            << u"two70history"_s << true;
        QTest::newRow("duplicate hashes")
            << QStringList{createTable("History", 12), insert("History", "one", "same"),
                           insert("History", "two", "same")}
            << QByteArray("select content from History") << u"one,two"_s << false;
        QTest::newRow("clean-up")
            // Very old databases also allowed NULL content.
            << QStringList{createTable("History", 15).replace(u"content TEXT NOT NULL"_s, u"content TEXT"_s),
                           index.arg(u"History"_s), insert("History", "keep", "k1"),
                           u"insert into History (content, file_hash) values (NULL, 'n1')"_s,
                           insert("History", "", "d41d8cd98f00b204e9800998ecf8427e")}
            << QByteArray("select file_hash from History") << u"k1"_s << true;
        // Killed between dropping the old table and renaming the new one; a later start made a
        // new table beside it (without the index, whose name was taken) and captured into it.
        QTest::newRow("rebuilt table beside a new one")
            << QStringList{createTable("History2", 15),          index.arg(u"History2"_s),
                           insert("History2", "old one", "h1"),  insert("History2", "old two", "h2"),
                           createTable("History", 15),           insert("History", "new", "h3"),
                           insert("History", "recaptured", "h2")}
            << QByteArray("select content from History") << u"new,old one,recaptured"_s << true;
        // Killed while copying: the old table still holds every row.
        QTest::newRow("partial copy")
            << QStringList{createTable("History", 13), insert("History", "one", "h1"),
                           insert("History", "two", "h2"),
                           u"CREATE TABLE History2 AS SELECT * FROM History WHERE file_hash = 'h1'"_s}
            << QByteArray("select content from History") << u"one,two"_s << true;
    }

    void olderLayoutsAreUpgraded()
    {
        QFETCH(QStringList, setUp);
        QFETCH(QByteArray, rowsQuery);
        QFETCH(QString, rows);
        QFETCH(bool, uniqueIndex);
        Database db(m_scratch.filePath(QString::fromLatin1(QTest::currentDataTag()) + u".sqlite"_s));
        for (const QString &statement : setUp)
            QVERIFY2(db.exec(statement), qPrintable(statement));

        QVERIFY(HistorySchema::setUp(db));

        QCOMPARE(db.columns(u"History"_s), kColumns);
        QVERIFY(!db.hasTable(u"History2"_s));
        QCOMPARE(column(db, "select 1 from sqlite_master where name = 'History_file_hash_category'").size(),
                 int(uniqueIndex));
        QCOMPARE(column(db, QByteArray(rowsQuery + " order by 1")).join(QLatin1Char(',')), rows);
    }

    // The search index is built for a database written by a version without it, also after its
    // rows were renumbered by a compaction, and follows edits and deletions from then on.
    void searchIndexIsBuiltForOlderDatabases()
    {
        const QString path = m_scratch.filePath(u"unindexed.sqlite"_s);
        {
            Database db(path);
            QVERIFY(db.exec(createTable("History", 15)));
            QVERIFY(db.exec("with recursive n(i) as (select 0 union all select i + 1 from n where i < 39) "
                            "insert into History (content, timeStamp, file_hash) "
                            "select 'old clip ' || i || ' 工作日记', i, 'h' || i from n"));
            QVERIFY(db.exec("delete from History where timeStamp < 20"));
        }
        for (int start = 0; start < 2; ++start) {
            Database db(path);
            QVERIFY(HistorySchema::setUp(db));
            QCOMPARE(column(db, "select History.content from History_search join History on History.rowid = "
                                "History_search.rowid where History_search match '\"clip 33 工作\"'"),
                     QStringList{u"old clip 33 工作日记"_s});
            // The index's own check compares it with the table.
            QVERIFY(
                db.exec("INSERT INTO History_search(History_search, rank) VALUES ('integrity-check', 1)"));
            QVERIFY(db.exec("delete from History where timeStamp = 25"));
            QVERIFY(db.exec("update History set content = 'edited' where timeStamp = 30"));
        }
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
            QVERIFY(db.exec(createTable("History", 12)));
            for (const char *hash : {"aaa", "bbb", "ccc"})
                QVERIFY(db.exec(insert("History", hash, hash)));
        }
        QProcess upgrade;
        upgrade.start(QStringLiteral(STORE_PROCESS), {u"upgrade"_s, path, QString::fromLatin1(step)});
        QByteArray output;
        while (!output.contains("stopped") && upgrade.waitForReadyRead(20000))
            output += upgrade.readAllStandardOutput();
        QVERIFY2(output.contains("stopped"), output.constData());
        upgrade.kill();
        QVERIFY(upgrade.waitForFinished());

        Database db(path);
        QVERIFY(HistorySchema::setUp(db));
        QCOMPARE(db.columns(u"History"_s), kColumns);
        QCOMPARE(column(db, "select content from History where category = 'history' order by 1"),
                 (QStringList{u"aaa"_s, u"bbb"_s, u"ccc"_s}));
    }

    void failingUpgradeLeavesTheTableAsItWas()
    {
        // A row the new layout refuses (no hash) makes the copy fail; without the transaction,
        // the old table would be dropped all the same.
        Database db(m_scratch.filePath(u"refused.sqlite"_s));
        QVERIFY(db.exec("CREATE TABLE History (content TEXT NOT NULL, file_hash TEXT, type TEXT)"));
        QVERIFY(db.exec(insert("History", "kept", "h1")));
        QVERIFY(db.exec("insert into History (content) values ('no hash')"));

        QVERIFY(!HistorySchema::setUp(db));
        QCOMPARE(db.columns(u"History"_s).size(), 3);
        QCOMPARE(column(db, "select count(*) from History"), QStringList{u"2"_s});
    }

    // A database that fails the quick check is moved aside as it was; a fresh history takes the
    // new clips, and the user is told once.
    void damagedDatabaseIsMovedAsideOnce()
    {
        QTemporaryDir data;
        QTemporaryDir config;
        const QString path = data.filePath(u"clipDB.sqlite"_s);
        {
            Database db(path);
            QVERIFY(db.exec("PRAGMA journal_mode=DELETE"));
            QVERIFY(db.exec(createTable("History", 15)));
            QVERIFY(db.exec("with recursive n(i) as (select 0 union all select i + 1 from n where i < 299) "
                            "insert into History (content, file_hash) select 'c' || i, 'h' || i from n"));
        }
        // The table's first page is overwritten.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(4096));
        file.write(QByteArray(4096, '\xff'));
        file.close();
        const QByteArray damagedBytes = TestFiles::read(path);

        const StoreRun first = startStore(data.path(), config.path(), {u"one"_s, u"two"_s});
        QCOMPARE(first.lines.value(0), u"state=1 rows=2 alerts=1"_s);
        const QStringList aside = QDir(data.path()).entryList({u"clipDB.sqlite.damaged-*"_s}, QDir::Files);
        QVERIFY(!aside.isEmpty() && first.lines.value(1).contains(aside.first()));
        QCOMPARE(TestFiles::read(data.filePath(aside.first())), damagedBytes);

        const StoreRun second = startStore(data.path(), config.path(), {u"three"_s});
        QCOMPARE(second.lines, QStringList{u"state=0 rows=3 alerts=0"_s});
    }

    // A data folder that cannot be made (a file stands where its parent should be, which stops
    // root too): the user is told once, nothing is recorded, and the log stays short.
    void unwritableDataFolderIsReportedAndCaptureStops()
    {
        QTemporaryDir parent;
        QTemporaryDir config;
        QVERIFY(TestFiles::write(parent.filePath(u"blocker"_s), {}));
        const QStringList texts(20, u"text"_s);

        const StoreRun run = startStore(parent.filePath(u"blocker/Quillet"_s), config.path(), texts);
        QCOMPARE(run.lines.value(0), u"state=2 rows=0 alerts=1"_s);
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
        const QString payload = data.filePath(u"files/0123"_s);
        const QString foreign = outside.filePath(u"theirs"_s);
        QVERIFY(TestFiles::write(settings, "[General]\nloginUserToken=abc\n"));
        QVERIFY(TestFiles::write(payload, {}) && TestFiles::write(foreign, {}));
        for (const QString &path : {payload, foreign, settings})
            QVERIFY(chmod(QFile::encodeName(path).constData(), 0644) == 0);
        QVERIFY(QFile::link(foreign, data.filePath(u"files/link"_s)));
        for (const QString &folder : {data.path(), data.filePath(u"files"_s), config.path()})
            QVERIFY(chmod(QFile::encodeName(folder).constData(), 0755) == 0);

        QCOMPARE(startStore(data.path(), config.path(), {}).lines.value(0), u"state=0 rows=0 alerts=0"_s);
        for (const QString &path : {data.path(), data.filePath(u"files"_s), config.path()})
            QCOMPARE(TestFiles::mode(path), mode_t(0700));
        for (const QString &path : {payload, data.filePath(u"clipDB.sqlite"_s), settings})
            QCOMPARE(TestFiles::mode(path), mode_t(0600));
        QCOMPARE(TestFiles::mode(foreign), mode_t(0644));
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
