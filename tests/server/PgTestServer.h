#pragma once

#include <QStringList>

#include <optional>

// A real PostgreSQL server for the tests of one process: made with initdb in a temporary folder
// and started on a free 127.0.0.1 port at the first use (as the "postgres" user when the tests
// run as root, since postgres refuses root), stopped when the process ends, even by a crash.
// Each harness gets a fresh database of its own.
namespace PgTestServer {

// The URL of a new, empty database; none, with the reason, when PostgreSQL cannot be started
// here (not installed, no unprivileged user).
std::optional<QString> createDatabase(QString *why);

// Runs one statement in the database of `url`: the first column of each row, as text; none when
// the statement fails.
std::optional<QStringList> query(const QString &url, const QString &sql);

} // namespace PgTestServer
