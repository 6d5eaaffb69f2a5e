#pragma once

#include "support/Database.h"

#include <QString>

#include <functional>

// Connections to the history database: each thread that runs a unit of work keeps its own
// (more than one only while units nest), opened on first use and closed when the thread ends,
// so no connection is ever shared between threads and no lock is needed to borrow one. A unit
// of work runs synchronously on the caller's thread. Each connection waits up to 2 s for
// another's lock.
namespace DBFetcher {

using Work = std::function<void(Database &db)>;

void inDatabase(const Work &work);

// Path of the database file: "clipDB.sqlite" in the data folder.
QString databasePath();

} // namespace DBFetcher
