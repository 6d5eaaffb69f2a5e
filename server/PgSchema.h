#pragma once

#include <QtGlobal>

class PgConnection;

// The PostgreSQL schema of the service and its upgrades, numbered in table schema_version.
namespace PgSchema {

// Brings the schema up to the current version inside the caller's transaction. Processes that
// start together take turns (an advisory lock), so each step runs once.
bool upgrade(PgConnection &c);

// Deletes sign-in failure counts and rate windows that no longer limit anything.
bool pruneSharedState(PgConnection &c, qint64 now);

} // namespace PgSchema
