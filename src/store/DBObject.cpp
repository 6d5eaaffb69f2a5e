#include "store/DBObject.h"

#include "store/HistorySchema.h"

#include <mutex>

void DBObject::inDatabase(const DBFetcher::Work &work)
{
    static std::once_flag schemaReady;
    std::call_once(schemaReady, [] { DBFetcher::sharedInstance().inDatabase(HistorySchema::setUp); });
    DBFetcher::sharedInstance().inDatabase(work);
}
