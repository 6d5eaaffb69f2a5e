#include "store/SyncFailures.h"

#include "store/DBObject.h"
#include "support/Clock.h"
#include "support/Database.h"
#include "support/Log.h"

#include <cmath>

namespace SyncFailures {

QString laneName(Lane lane)
{
    switch (lane) {
    case Lane::History:
        return QStringLiteral("history");
    case Lane::Favourite:
        return QStringLiteral("favourite");
    case Lane::File:
        break;
    }
    return QStringLiteral("file");
}

bool recordFailure(Lane lane, const QString &hash, bool forGood)
{
    bool failed = false;
    DBObject::inDatabase([&](Database &db) {
        WriteTransaction transaction(db);
        if (!transaction.isActive())
            return;
        qint64 tries = 0;
        {
            SqlQuery rows = db.query("select tries from SyncFailure where file_hash = ? and lane = ?",
                                     {hash, laneName(lane)});
            if (rows.next())
                tries = rows.int64(0);
        }
        ++tries;
        failed = forGood || tries >= kMaxTries;
        const double wait = kFirstWaitSeconds * std::pow(2.0, double(tries - 1));
        const bool written =
            db.exec(
                "replace into SyncFailure (file_hash, lane, tries, next_try, failed) values (?, ?, ?, ?, ?)",
                {hash, laneName(lane), tries, Clock::nowSeconds() + wait, qint64(failed ? 1 : 0)})
            && transaction.commit();
        if (!written)
            qCWarning(lcStore) << "the failure of a transfer was not recorded:" << db.lastError();
        if (failed)
            qCInfo(lcStore).noquote()
                << "a clip's" << laneName(lane) << "transfer failed for good after" << tries << "tries";
    });
    return failed;
}

void clear(Lane lane, const QString &hash)
{
    DBObject::inDatabase([&](Database &db) {
        db.exec("delete from SyncFailure where file_hash = ? and lane = ?", {hash, laneName(lane)});
    });
}

void clearClip(const QString &hash)
{
    DBObject::inDatabase(
        [&](Database &db) { db.exec("delete from SyncFailure where file_hash = ?", {hash}); });
}

void clearAll()
{
    DBObject::inDatabase([&](Database &db) { db.exec("delete from SyncFailure", {}); });
}

QSet<QString> failedForGood()
{
    QSet<QString> hashes;
    DBObject::inDatabase([&](Database &db) {
        SqlQuery rows = db.query("select file_hash from SyncFailure where failed = 1");
        while (rows.next())
            hashes.insert(rows.text(0).value_or(QString()));
    });
    return hashes;
}

const char *readyCondition(Lane lane)
{
    switch (lane) {
    case Lane::History:
        return "not exists (select 1 from SyncFailure where SyncFailure.file_hash = History.file_hash and "
               "SyncFailure.lane = 'history' and (SyncFailure.failed = 1 or SyncFailure.next_try > ?))";
    case Lane::Favourite:
        return "not exists (select 1 from SyncFailure where SyncFailure.file_hash = History.file_hash and "
               "SyncFailure.lane = 'favourite' and (SyncFailure.failed = 1 or SyncFailure.next_try > ?))";
    case Lane::File:
        break;
    }
    return "not exists (select 1 from SyncFailure where SyncFailure.file_hash = History.file_hash and "
           "SyncFailure.lane = 'file' and (SyncFailure.failed = 1 or SyncFailure.next_try > ?))";
}

} // namespace SyncFailures
