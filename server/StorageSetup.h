#pragma once

#include "ObjectStore.h"
#include "SharedLimits.h"
#include "Storage.h"

#include <memory>
#include <optional>

struct ServerConfig;

// The storage, object store and shared limits a configuration names: SQLite, the data folder's
// objects and limits in memory by default; PostgreSQL with objects in a folder or in the
// database, and the limits in the database, for several service processes.
struct StorageSetup {
    std::unique_ptr<SyncStorage> storage;
    std::unique_ptr<ObjectStore> objects;
    std::unique_ptr<SharedLimits> limits;

    // None, with the reason logged (never the storage's password), when the storage cannot be
    // opened.
    static std::optional<StorageSetup> open(const ServerConfig &config);
};
