#pragma once

#include "support/Database.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Owns the pool of connections to the history database. A unit of work borrows an idle
// connection (a new one is opened when none is idle), runs synchronously on the caller's
// thread, and gives the connection back. Each connection waits up to 2 s for another's lock.
class DBFetcher final
{
    Q_DISABLE_COPY_MOVE(DBFetcher)

public:
    using Work = std::function<void(Database &db)>;

    static DBFetcher &sharedInstance();

    void inDatabase(const Work &work);

    // Path of the database file: "clipDB.sqlite" in the data folder.
    static QString databasePath();

private:
    DBFetcher() = default;

    std::mutex m_mutex;
    std::vector<std::unique_ptr<Database>> m_idle;
};
