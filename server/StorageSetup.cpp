#include "StorageSetup.h"

#include "FolderObjectStore.h"
#include "PgConnection.h"
#include "PgObjectStore.h"
#include "PgSharedLimits.h"
#include "PostgresStorage.h"
#include "ServerConfig.h"
#include "ServerLog.h"
#include "SqliteStorage.h"

std::optional<StorageSetup> StorageSetup::open(const ServerConfig &config)
{
    StorageSetup setup;
    PgPool *pool = nullptr;
    if (config.usesPostgres()) {
        auto postgres = std::make_unique<PostgresStorage>(config.storage);
        if (!postgres->isOpen()) {
            qCCritical(lcServer).noquote() << "cannot open the storage" << redactedStorageUrl(config.storage);
            return std::nullopt;
        }
        qCInfo(lcServer).noquote() << "storage:" << redactedStorageUrl(config.storage);
        pool = &postgres->pool();
        setup.limits = std::make_unique<PgSharedLimits>(*pool);
        setup.storage = std::move(postgres);
    } else if (!config.storage.isEmpty()) {
        qCCritical(lcServer) << "the storage setting must be empty (SQLite) or a postgresql:// URL";
        return std::nullopt;
    } else {
        setup.storage = std::make_unique<SqliteStorage>(config.databasePath());
        if (!setup.storage->isOpen()) {
            qCCritical(lcServer) << "cannot open the database in" << config.dataDir;
            return std::nullopt;
        }
        setup.limits = std::make_unique<LocalLimits>();
    }
    if (config.objectsInDatabase()) {
        if (!pool) {
            qCCritical(lcServer) << "objects in the database need a PostgreSQL storage";
            return std::nullopt;
        }
        setup.objects = std::make_unique<PgObjectStore>(*pool);
    } else {
        auto folder = std::make_unique<FolderObjectStore>(config.objectsDir());
        folder->removeLeftovers();
        setup.objects = std::move(folder);
    }
    return setup;
}
