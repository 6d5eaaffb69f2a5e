#pragma once

#include "store/DBFetcher.h"

// Base of the records kept in the history database. The persistence operations do nothing
// here; a stored record class overrides them.
class DBObject
{
public:
    virtual ~DBObject() = default;

    virtual void save() {}
    virtual void fetch() {}
    virtual void del() {}
    virtual bool isExist() const { return false; }

    // Runs a unit of work on a pooled connection. The first call in the process brings the
    // schema up to date before any other work touches the database.
    static void inDatabase(const DBFetcher::Work &work);

protected:
    DBObject() = default;
    DBObject(const DBObject &) = default;
    DBObject &operator=(const DBObject &) = default;
};
