#pragma once

class Database;

// Brings the History table of a database up to date: creates it on a fresh database, or runs
// the start-up clean-up and the upgrades of older layouts. Each statement's result is ignored,
// so one failing statement does not stop the ones after it.
namespace HistorySchema {
void setUp(Database &db);
} // namespace HistorySchema
