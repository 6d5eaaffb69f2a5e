#pragma once

// Opens the history database for this process, once, before any other unit of work:
//  - the data folder is made the owner's alone and must be writable;
//  - a file that is not a database, or fails SQLite's quick check, is moved aside under a dated
//    name (clipDB.sqlite.damaged-YYYYMMDD-HHMMSS, with its -wal and -shm files) and a fresh
//    history is started;
//  - the schema is brought up to date.
// The user hears of a damaged file, or of a history that cannot be kept at all, once: alerts()
// holds the messages to show.
// Without a usable database no unit of work runs, so the capture records nothing into the void
// and the log does not fill with one failure per statement.
#include <QStringList>

namespace HistoryDatabase {

enum class State {
    Ready, // the database was sound, or is new
    Replaced, // a damaged file was moved aside and a fresh history started
    Unavailable, // the history cannot be kept: nothing is read or written until the next start
};

// Runs the checks the first time it is called; later calls return the first answer.
State prepare();
// Whether prepare() found a database to work with.
bool isUsable();
// What prepare() found that the user must hear of, in the order found; empty when nothing.
QStringList alerts();

} // namespace HistoryDatabase
