#include "store/DBKeeper.h"

#include "store/Settings.h"
#include "store/SyncFailures.h"
#include "support/Clock.h"
#include "support/Database.h"
#include "support/Log.h"
#include "support/PayloadLimit.h"

#include <algorithm>

namespace {

QList<HistoryModel> readRecords(SqlQuery &rows)
{
    QList<HistoryModel> records;
    while (rows.next())
        records.append(HistoryModel::getObjectFrom(rows));
    return records;
}

std::optional<HistoryModel> firstRecord(const char *sql, SqlParams params = {})
{
    std::optional<HistoryModel> record;
    DBObject::inDatabase([&](Database &db) {
        SqlQuery rows = db.query(sql, params);
        if (rows.next())
            record = HistoryModel::getObjectFrom(rows);
    });
    return record;
}

// Collects the hashes of the rows that `condition` selects and deletes those rows, in one write
// transaction: the write lock is taken before the select, so no row can be written in between
// and the list holds exactly the rows deleted (one entry per row). When any step fails (the
// database stayed busy, say), nothing is deleted and there is no list.
std::optional<QStringList> collectAndDelete(const char *condition, SqlParams params = {})
{
    const std::string select = std::string("select file_hash from history where ") + condition;
    const std::string remove = std::string("delete from history where ") + condition;
    std::optional<QStringList> hashes;
    DBObject::inDatabase([&](Database &db) {
        WriteTransaction transaction(db);
        if (!transaction.isActive())
            return;
        QStringList collected;
        {
            SqlQuery rows = db.query(select.c_str(), params);
            while (rows.next())
                collected << rows.text(0).value_or(QString());
            if (rows.failed())
                return;
        }
        if (!db.exec(remove.c_str(), params) || !transaction.commit()) {
            qCWarning(lcStore) << "rows not deleted:" << condition << db.lastError();
            return;
        }
        hashes = collected;
    });
    return hashes;
}

bool execute(const char *sql, SqlParams params)
{
    bool ok = false;
    DBObject::inDatabase([&](Database &db) { ok = db.exec(sql, params); });
    return ok;
}

} // namespace

namespace DBKeeper {

QList<HistoryModel> getAllHistory()
{
    return getAllHistoryAtCategory(Category::history);
}

QList<HistoryModel> getAllFavourites()
{
    return getAllHistoryAtCategory(Category::favourite);
}

QList<HistoryModel> getAllHistoryAtCategory(const QString &category, uint count)
{
    QList<HistoryModel> records;
    const qint64 limit = std::min<qint64>(count, kMaxListCount);
    DBObject::inDatabase([&](Database &db) {
        SqlQuery rows = db.query("select * from History where category is ? order by timeStamp desc limit ?",
                                 {category, limit});
        records = readRecords(rows);
    });
    return records;
}

namespace {

// The rows that wait for each lane. Only kinds this program knows travel: a clip of a kind
// that a newer version made never holds up the others.
std::string pendingCondition(SyncFailures::Lane lane)
{
    const std::string known =
        "(type glob 'text' or type glob 'text_*' or type glob 'text+*' or type glob 'image' or "
        "type glob 'image_*' or type glob 'image+*' or type glob 'file' or "
        "type glob 'file_*' or type glob 'file+*')";
    switch (lane) {
    case SyncFailures::Lane::History:
        return "change_timestamp > 0 and file_size <= ? and secert = 0 and category = 'history' and " + known;
    case SyncFailures::Lane::Favourite:
        return "change_timestamp > 0 and file_size <= ? and secert = 0 and category = 'favourite' and "
               + known;
    case SyncFailures::Lane::File:
        break;
    }
    return "(file_ready + local_file_ok = 1) and file_id > 0 and " + known;
}

std::optional<HistoryModel> nextOf(SyncFailures::Lane lane)
{
    const std::string sql = "select * from History where " + pendingCondition(lane) + " and "
                            + SyncFailures::readyCondition(lane) + " order by timeStamp desc limit 1";
    if (lane == SyncFailures::Lane::File)
        return firstRecord(sql.c_str(), {Clock::nowSeconds()});
    return firstRecord(sql.c_str(), {kMaxPayloadBytes, Clock::nowSeconds()});
}

} // namespace

std::optional<HistoryModel> getUnProcessHistory()
{
    return nextOf(SyncFailures::Lane::History);
}

std::optional<HistoryModel> getUnProcessFavourite()
{
    return nextOf(SyncFailures::Lane::Favourite);
}

std::optional<HistoryModel> getFileProcessHistory()
{
    return nextOf(SyncFailures::Lane::File);
}

std::optional<double> nextRetryTime(SyncFailures::Lane lane)
{
    const std::string sql = "select min(SyncFailure.next_try) from History join SyncFailure on "
                            "SyncFailure.file_hash = History.file_hash and SyncFailure.lane = ? where "
                            + pendingCondition(lane) + " and SyncFailure.failed = 0";
    std::optional<double> when;
    DBObject::inDatabase([&](Database &db) {
        SqlQuery rows = lane == SyncFailures::Lane::File
                            ? db.query(sql.c_str(), {SyncFailures::laneName(lane)})
                            : db.query(sql.c_str(), {SyncFailures::laneName(lane), kMaxPayloadBytes});
        if (rows.next() && !rows.isNull(0))
            when = rows.real(0);
    });
    return when;
}

QJsonObject getSyncFavourite()
{
    QJsonObject favourites;
    DBObject::inDatabase([&](Database &db) {
        SqlQuery rows = db.query("select history_id,favourite from History where category is 'favourite' "
                                 "and history_id > 0 and favourite > 0 order by timestamp");
        while (rows.next()) {
            QJsonObject mark;
            mark.insert(QLatin1String("favourite"), static_cast<double>(rows.int64(1)));
            favourites.insert(QString::number(rows.int64(0)), mark);
        }
    });
    return favourites;
}

std::optional<HistoryModel> getClipObjectWithHistoryID(qint64 historyId, const QString &category)
{
    std::optional<HistoryModel> record;
    DBObject::inDatabase([&](Database &db) {
        SqlQuery rows =
            db.query("select * from History where history_id = ? and category is ?", {historyId, category});
        while (rows.next())
            record = HistoryModel::getObjectFrom(rows);
    });
    return record;
}

bool historyExist(const QString &hash)
{
    bool exists = false;
    DBObject::inDatabase([&](Database &db) {
        SqlQuery rows = db.query("select count(file_hash) from History where file_hash = ?;", {hash});
        exists = rows.next() && rows.int64(0) > 0;
    });
    return exists;
}

void setLocalFileOkWithHash(const QString &hash)
{
    if (!hash.isEmpty())
        execute("update History set local_file_ok = ? where file_hash = ?;", {qint64(1), hash});
}

void setLocalHistoryOnly(const QString &hash)
{
    if (!hash.isEmpty())
        execute("update History set history_id = ?, file_ready = ? where file_hash = ?;",
                {qint64(0), qint64(0), hash});
}

void setRemoteFileReady(int ready, const QString &hash)
{
    if (!hash.isEmpty())
        execute("update History set file_ready = ? where file_hash = ?;", {qint64(ready), hash});
}

bool updateTimestamp(qint64 timestamp, const QString &hash)
{
    return execute("update History set timestamp = ? where file_hash is ?;", {timestamp, hash});
}

bool setFavourite(qint64 favourite, const QString &hash)
{
    return execute("update History set favourite = ? where file_hash is ?;", {favourite, hash});
}

bool updateHistoryID(qint64 historyId, qint64 fileId, const QString &hash)
{
    return execute("update History set history_id = ?, file_id = ? where file_hash is ?;",
                   {historyId, fileId, hash});
}

bool deleteClipItem(const QString &hash)
{
    return execute("delete from History where file_hash is ?;", {hash});
}

bool deleteClipItem(const QString &hash, const QString &category)
{
    return execute("delete from History where file_hash is ? and category is ?;", {hash, category});
}

std::optional<QString> deleteHistoryWithId(const QVariant &historyId)
{
    bool isNumber = false;
    const qint64 id = historyId.toString().trimmed().toLongLong(&isNumber);
    // Rows the service never numbered hold 0: an id of 0 or less names no clip of the service,
    // and matching it would delete every clip that was never pushed, secret ones included.
    if (!isNumber || id <= 0)
        return std::nullopt;
    const QStringList hashes = collectAndDelete("history_id = ?", {id}).value_or(QStringList());
    if (hashes.isEmpty())
        return std::nullopt;
    return hashes.first();
}

void removeInvalidDatas()
{
    execute("delete from history where file_ready = 0 and local_file_ok = 0;", {});
}

QStringList cleanupDatabase(const QString &category)
{
    const int kept = category == Category::history ? Settings::historyLength() : kKeptPerCategory;
    qint64 count = 0;
    DBObject::inDatabase([&](Database &db) {
        SqlQuery rows = db.query("select count(history_id) from history where category is ?", {category});
        if (rows.next())
            count = rows.int64(0);
    });
    if (count < kept + 1)
        return {};
    // The boundary is the timestamp of the kept-th newest row; rows that share it all stay.
    return collectAndDelete(
               "timestamp < (select min(timestamp) from (select timestamp from history where category "
               "is ? order by timestamp desc limit ?)) and category is ?",
               {category, qint64(kept), category})
        .value_or(QStringList());
}

std::optional<QStringList> clearAllHistory()
{
    return collectAndDelete("favourite <= 0");
}

QStringList clearHistoryLessThan(double timestamp)
{
    return collectAndDelete("favourite <= 0 and timestamp < ?", {timestamp}).value_or(QStringList());
}

QStringList removeAllData()
{
    return collectAndDelete("1").value_or(QStringList());
}

} // namespace DBKeeper
