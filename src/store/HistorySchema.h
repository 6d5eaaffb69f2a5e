#pragma once

#include <functional>

class Database;

// Brings the History table of a database up to date: creates it on a fresh database, or runs
// the start-up clean-up and the upgrades of older layouts. Everything but the final compaction
// runs in one write transaction and every statement is checked: a failure, or a crash at any
// point, leaves the database as it was before. A `History2` table left behind by an upgrade
// that was interrupted (by a version of the program without the transaction) is taken back:
// its rows are never lost.
namespace HistorySchema {

// Called after each step of the rebuild of the table with the step's name; a test stops the
// process there to show that an interrupted upgrade loses nothing.
using StepHook = std::function<void(const char *step)>;

// True when the table is ready for use.
bool setUp(Database &db, const StepHook &afterStep = {});

} // namespace HistorySchema
