#include "store/DBFetcher.h"

#include "store/PathHelper.h"

#include <memory>
#include <vector>

namespace {

// The idle connections of this thread, to the database at path.
struct ThreadConnections {
    QString path;
    std::vector<std::unique_ptr<Database>> idle;
};

thread_local ThreadConnections t_connections;

} // namespace

namespace DBFetcher {

QString databasePath()
{
    return PathHelper::getBaseAppLibraryPath(QStringLiteral("clipDB.sqlite"));
}

void inDatabase(const Work &work)
{
    const QString path = databasePath();
    if (t_connections.path != path) {
        t_connections.idle.clear();
        t_connections.path = path;
    }
    std::unique_ptr<Database> db;
    if (!t_connections.idle.empty()) {
        db = std::move(t_connections.idle.back());
        t_connections.idle.pop_back();
    } else {
        db = std::make_unique<Database>(path);
    }

    work(*db);

    // A connection that could not open is not kept, so a later unit of work tries again.
    if (db->isOpen() && t_connections.path == path)
        t_connections.idle.push_back(std::move(db));
}

} // namespace DBFetcher
