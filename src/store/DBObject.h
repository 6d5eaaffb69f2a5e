#pragma once

#include "store/DBFetcher.h"

// Base of the records kept in the history database. The persistence operations do nothing
// here; a stored record class overrides them.
class DBObject
{
public:
    virtual ~DBObject() = default;

    virtual void save() { }
    virtual void fetch() { }
    virtual void del() { }
    virtual bool isExist() const { return false; }

    // Runs a unit of work on a connection of the calling thread. The first call in the process opens the
    // database (HistoryDatabase) before any other work touches it; when there is no usable
    // database, the work does not run.
    static void inDatabase(const DBFetcher::Work &work);

protected:
    DBObject() = default;
    DBObject(const DBObject &) = default;
    DBObject &operator=(const DBObject &) = default;
};
