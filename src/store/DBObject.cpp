#include "store/DBObject.h"

#include "store/HistoryDatabase.h"

void DBObject::inDatabase(const DBFetcher::Work &work)
{
    // Without a usable database nothing runs: reads find no rows and writes do nothing, as
    // they would on a connection that failed, but without a failure logged for each.
    if (!HistoryDatabase::isUsable())
        return;
    DBFetcher::inDatabase(work);
}
