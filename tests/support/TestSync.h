#pragma once

#include "store/ClipFileManager.h"
#include "store/ConfigureManager.h"
#include "store/HistoryStore.h"
#include "sync/SyncEngine.h"

// The sync engine of a test process, made as the program makes it (over the process's account
// and payload files) on first use, and kept until the process ends, so that it outlives every
// request a test leaves in flight.
inline SyncEngine &testSync()
{
    static auto *store = new HistoryStore(ClipFileManager::sharedInstance());
    static auto *sync = new SyncEngine(ConfigureManager::sharedInstance(), *store);
    return *sync;
}

inline HistoryStore &testStore()
{
    return testSync().store();
}
