#include "store/DBFetcher.h"

#include "store/PathHelper.h"

DBFetcher &DBFetcher::sharedInstance()
{
    static auto *instance = new DBFetcher;
    return *instance;
}

QString DBFetcher::databasePath()
{
    return PathHelper::getBaseAppLibraryPath(QStringLiteral("clipDB.sqlite"));
}

void DBFetcher::inDatabase(const Work &work)
{
    std::unique_ptr<Database> db;
    {
        std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            db = std::move(m_idle.back());
            m_idle.pop_back();
        }
    }
    if (!db)
        db = std::make_unique<Database>(databasePath());

    work(*db);

    // A connection that could not open is not kept, so a later unit of work tries again.
    if (!db->isOpen())
        return;
    std::lock_guard lock(m_mutex);
    m_idle.push_back(std::move(db));
}
