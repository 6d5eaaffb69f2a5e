#include "store/HistorySchema.h"

#include "support/Database.h"
#include "support/Log.h"

#include <QStringList>

#include <optional>

namespace {

constexpr char kCreateTable[] =
    "CREATE TABLE %1 (content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, deviceName TEXT, "
    "file_hash TEXT NOT NULL, type TEXT, history_id INTEGER NOT NULL DEFAULT 0, "
    "file_id INTEGER NOT NULL DEFAULT 0 , file_ready INTEGER NOT NULL DEFAULT 0, file_name TEXT, "
    "change_timestamp INTEGER NOT NULL DEFAULT 0, local_file_ok INTEGER NOT NULL DEFAULT 0, "
    "file_size REAL NOT NULL DEFAULT 0, secert INTEGER NOT NULL DEFAULT 0, "
    "category TEXT NOT NULL DEFAULT 'history', favourite INTEGER NOT NULL DEFAULT 0)";

// The layout before categories existed, used to carry old rows over.
constexpr char kCreateTableWithoutCategory[] =
    "CREATE TABLE %1 (content TEXT NOT NULL, timeStamp REAL NOT NULL DEFAULT 0, deviceName TEXT, "
    "file_hash TEXT NOT NULL, type TEXT, history_id INTEGER NOT NULL DEFAULT 0, "
    "file_id INTEGER NOT NULL DEFAULT 0 , file_ready INTEGER NOT NULL DEFAULT 0, file_name TEXT, "
    "change_timestamp INTEGER NOT NULL DEFAULT 0, local_file_ok INTEGER NOT NULL DEFAULT 0, "
    "file_size REAL NOT NULL DEFAULT 0, secert INTEGER NOT NULL DEFAULT 0);";

const QString kHistory = QStringLiteral("History");
const QString kHistory2 = QStringLiteral("History2");

// Runs one statement of the set-up; a failure is logged and ends the set-up.
bool run(Database &db, const QString &sql)
{
    if (db.exec(sql))
        return true;
    qCWarning(lcStore) << "schema set-up failed at" << sql << ":" << db.lastError();
    return false;
}

bool hasColumn(Database &db, const QString &table, const QString &name)
{
    return db.columns(table).contains(name, Qt::CaseInsensitive);
}

QString quoted(QString name)
{
    return QLatin1Char('"') + name.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

// Whether two rows of the table share a hash and a category; none when the question failed.
std::optional<bool> hasDuplicateKeys(Database &db, const QString &table)
{
    const QByteArray sql =
        QStringLiteral("select 1 from %1 group by file_hash, category having count(*) > 1 limit 1")
            .arg(table)
            .toUtf8();
    SqlQuery rows = db.query(sql.constData());
    const bool found = rows.next();
    if (rows.failed())
        return std::nullopt;
    return found;
}

// The unique index on (file_hash, category). Rows of an old layout that share a hash cannot
// have it; they are all kept and the table does without the index.
bool createUniqueIndex(Database &db, const QString &table)
{
    const std::optional<bool> duplicates = hasDuplicateKeys(db, table);
    if (!duplicates)
        return false;
    if (*duplicates) {
        qCWarning(lcStore) << "rows share a hash; the history keeps them without its unique index";
        return true;
    }
    return run(db,
               QStringLiteral(
                   "CREATE UNIQUE INDEX IF NOT EXISTS History_file_hash_category ON %1(file_hash, category);")
                   .arg(table));
}

bool createNewTable(Database &db)
{
    return run(db, QString::fromLatin1(kCreateTable).arg(kHistory))
           && run(db, QStringLiteral(
                          "CREATE UNIQUE INDEX History_file_hash_category ON History(file_hash, category);"));
}

// A later start of an older version found no `History` beside the orphaned `History2` and made
// a new table, which has collected new clips since. The orphaned rows join it; where both hold
// the same clip, the newer row stays.
bool mergeLeftover(Database &db)
{
    const QStringList target = db.columns(kHistory);
    QStringList shared;
    for (const QString &column : db.columns(kHistory2)) {
        if (target.contains(column, Qt::CaseInsensitive))
            shared << quoted(column);
    }
    if (!shared.contains(QStringLiteral("\"file_hash\""), Qt::CaseInsensitive)) {
        qCWarning(lcStore) << "a table History2 that holds no clips is left alone";
        return true;
    }
    const QString category = hasColumn(db, kHistory2, QStringLiteral("category"))
                                 ? QStringLiteral("History2.category")
                                 : QStringLiteral("'history'");
    const QString columns = shared.join(QStringLiteral(", "));
    return run(db, QStringLiteral(
                       "INSERT INTO History (%1) SELECT %1 FROM History2 WHERE NOT EXISTS (SELECT 1 FROM "
                       "History AS kept WHERE kept.file_hash = History2.file_hash AND kept.category = %2)")
                       .arg(columns, category))
           && run(db, QStringLiteral("DROP TABLE History2;")) && createUniqueIndex(db, kHistory);
}

// A `History2` table is what an interrupted rebuild of the table leaves behind.
bool recoverInterruptedRebuild(Database &db)
{
    if (!db.hasTable(kHistory2))
        return true;
    qCWarning(lcStore) << "taking back the table of an interrupted upgrade";
    // The old table was dropped but the new one never took its name: it holds every row.
    if (!db.hasTable(kHistory))
        return run(db, QStringLiteral("ALTER TABLE History2 RENAME TO History;"));
    // Interrupted before the old table was dropped: that one still holds every row, and the
    // upgrade below copies them again.
    if (!hasColumn(db, kHistory, QStringLiteral("category")))
        return run(db, QStringLiteral("DROP TABLE History2;"));
    return mergeLeftover(db);
}

bool cleanUpAtStart(Database &db)
{
    // The MD5 of empty input: rows of empty clips are dropped.
    return run(db, QStringLiteral("delete FROM History where content is null;"))
           && run(db, QStringLiteral(
                          "delete FROM History where file_hash is 'd41d8cd98f00b204e9800998ecf8427e';"));
}

bool addCategory(Database &db, const HistorySchema::StepHook &afterStep)
{
    const auto step = [&](const QString &sql, const char *name) {
        if (!run(db, sql))
            return false;
        if (afterStep)
            afterStep(name);
        return true;
    };
    return step(QString::fromLatin1(kCreateTableWithoutCategory).arg(kHistory2), "created")
           && step(QStringLiteral("INSERT INTO History2 SELECT * FROM History;"), "copied")
           && step(QStringLiteral("alter table History2 add category TEXT NOT NULL DEFAULT 'history'"),
                   "category added")
           && createUniqueIndex(db, kHistory2) && step(QStringLiteral("DROP TABLE History;"), "dropped")
           && step(QStringLiteral("ALTER TABLE History2 RENAME TO History;"), "renamed");
}

bool upgrade(Database &db, const HistorySchema::StepHook &afterStep)
{
    if (!hasColumn(db, kHistory, QStringLiteral("secert"))
        && !run(db, QStringLiteral("alter table History add secert INTEGER NOT NULL DEFAULT 0")))
        return false;
    if (!hasColumn(db, kHistory, QStringLiteral("category")) && !addCategory(db, afterStep))
        return false;
    return hasColumn(db, kHistory, QStringLiteral("favourite"))
           || run(db, QStringLiteral("alter table History add favourite INTEGER NOT NULL DEFAULT 0"));
}

// Every menu build asks for the newest rows of a category, and the history grows without
// bound while nobody is signed in; this index serves those ordered queries.
bool createListIndex(Database &db)
{
    return run(db,
               QStringLiteral(
                   "CREATE INDEX IF NOT EXISTS History_category_timeStamp ON History(category, timeStamp)"));
}

// Transfers of single clips that failed (SyncFailures): a table of its own beside History, so
// that older versions of the program, which do not know it, read the history as before.
bool createFailureTable(Database &db, bool existing)
{
    return run(db, QStringLiteral(
                       "CREATE TABLE IF NOT EXISTS SyncFailure (file_hash TEXT NOT NULL, lane TEXT NOT "
                       "NULL, tries INTEGER NOT NULL DEFAULT 0, next_try REAL NOT NULL DEFAULT 0, "
                       "failed INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (file_hash, lane))"))
           && (!existing
               || run(db,
                      QStringLiteral("DELETE FROM SyncFailure WHERE file_hash NOT IN (SELECT file_hash FROM "
                                     "History)")));
}

bool hasTrigger(Database &db, const char *name)
{
    SqlQuery rows = db.query("select 1 from sqlite_master where type = 'trigger' and name = ?",
                             {QString::fromLatin1(name)});
    return rows.next();
}

// The search index of the history window: an FTS5 table with the trigram tokenizer (substring
// matches in any script, case-insensitive) over the texts and file names of the History table,
// kept current by triggers. A table rebuilt by an upgrade loses its triggers, a database of an
// older version has no index, and VACUUM may renumber the rows the index points to: the index
// is then built anew from the table's rows (a few milliseconds for a long history).
bool createSearchIndex(Database &db, bool rebuild)
{
    static const char *const kTriggers[] = {"History_search_insert", "History_search_delete",
                                            "History_search_update"};
    bool stale = rebuild || !db.hasTable(QStringLiteral("History_search"));
    for (const char *name : kTriggers)
        stale = stale || !hasTrigger(db, name);
    if (!stale)
        return true;
    return run(db, QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS History_search USING fts5(content, "
                                  "file_name, content='History', tokenize='trigram')"))
           && run(db,
                  QStringLiteral("CREATE TRIGGER IF NOT EXISTS History_search_insert AFTER INSERT ON History "
                                 "BEGIN INSERT INTO History_search(rowid, content, file_name) VALUES "
                                 "(new.rowid, new.content, new.file_name); END"))
           && run(db,
                  QStringLiteral("CREATE TRIGGER IF NOT EXISTS History_search_delete AFTER DELETE ON History "
                                 "BEGIN INSERT INTO History_search(History_search, rowid, content, "
                                 "file_name) VALUES ('delete', old.rowid, old.content, old.file_name); END"))
           && run(db, QStringLiteral(
                          "CREATE TRIGGER IF NOT EXISTS History_search_update AFTER UPDATE OF content, "
                          "file_name ON History BEGIN INSERT INTO History_search(History_search, "
                          "rowid, content, file_name) VALUES ('delete', old.rowid, old.content, "
                          "old.file_name); INSERT INTO History_search(rowid, content, file_name) "
                          "VALUES (new.rowid, new.content, new.file_name); END"))
           && run(db, QStringLiteral("INSERT INTO History_search(History_search) VALUES ('rebuild')"));
}

} // namespace

namespace HistorySchema {

bool setUp(Database &db, const StepHook &afterStep)
{
    bool existing = false;
    {
        WriteTransaction transaction(db);
        if (!transaction.isActive())
            return false;
        existing = db.hasTable(kHistory) || db.hasTable(kHistory2);
        const bool ready = existing
                               ? recoverInterruptedRebuild(db) && cleanUpAtStart(db) && upgrade(db, afterStep)
                               : createNewTable(db);
        if (!ready || !createListIndex(db) || !createFailureTable(db, existing) || !transaction.commit())
            return false;
    }
    // Compacts the file after the start-up deletions and the trimming of the history. It cannot
    // run inside a transaction, and a history that is not compacted works all the same.
    const bool compacted = existing && db.exec("VACUUM");
    if (existing && !compacted)
        qCInfo(lcStore) << "the history database was not compacted:" << db.lastError();
    // Without the search index (an SQLite without FTS5) the history works, and its search
    // reads the table itself; so the index is set up on its own.
    {
        WriteTransaction transaction(db);
        if (!transaction.isActive() || !createSearchIndex(db, compacted) || !transaction.commit())
            qCWarning(lcStore) << "the history has no search index; searches read the whole table";
    }
    return true;
}

} // namespace HistorySchema
