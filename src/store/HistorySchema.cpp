#include "store/HistorySchema.h"

#include "support/Database.h"

#include <QStringList>

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

bool hasColumn(Database &db, const QString &name)
{
    return db.columns(QStringLiteral("History")).contains(name, Qt::CaseInsensitive);
}

void createNewTable(Database &db)
{
    db.exec(QString::fromLatin1(kCreateTable).arg(QLatin1String("History")));
    db.exec("CREATE UNIQUE INDEX History_file_hash_category ON History(file_hash, category);");
}

void cleanUpAtStart(Database &db)
{
    db.exec("delete FROM History where content is null;");
    // The MD5 of empty input: rows of empty clips are dropped.
    db.exec("delete FROM History where file_hash is 'd41d8cd98f00b204e9800998ecf8427e';");
    db.exec("VACUUM");
}

void upgrade(Database &db)
{
    if (!hasColumn(db, QStringLiteral("secert")))
        db.exec("alter table History add secert INTEGER NOT NULL DEFAULT 0");

    if (!hasColumn(db, QStringLiteral("category"))) {
        db.exec(QString::fromLatin1(kCreateTableWithoutCategory).arg(QLatin1String("History2")));
        db.exec("INSERT INTO History2 SELECT * FROM History;");
        db.exec("alter table History2 add category TEXT NOT NULL DEFAULT 'history'");
        db.exec("CREATE UNIQUE INDEX History_file_hash_category ON History2(file_hash, category);");
        db.exec("DROP TABLE History;");
        db.exec("ALTER TABLE History2 RENAME TO History;");
    }

    if (!hasColumn(db, QStringLiteral("favourite")))
        db.exec("alter table History add favourite INTEGER NOT NULL DEFAULT 0");
}

// Every menu build asks for the newest rows of a category, and the history grows without
// bound while nobody is signed in; this index serves those ordered queries.
void createListIndex(Database &db)
{
    db.exec("CREATE INDEX IF NOT EXISTS History_category_timeStamp ON History(category, timeStamp)");
}

} // namespace

namespace HistorySchema {

void setUp(Database &db)
{
    if (!db.hasTable(QStringLiteral("History"))) {
        createNewTable(db);
    } else {
        cleanUpAtStart(db);
        upgrade(db);
    }
    createListIndex(db);
}

} // namespace HistorySchema
