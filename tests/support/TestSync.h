#pragma once

#include "store/ClipFileManager.h"
#include "store/ConfigureManager.h"
#include "store/HistoryStore.h"
#include "store/Settings.h"
#include "sync/SyncEngine.h"

// The store and sync parts of a test process, made as the program makes them (over the data
// and settings folders the test's TestDirs chose) on first use, and kept until the process
// ends, so that they outlive every request a test leaves in flight.
inline Settings &testSettings()
{
    static auto *settings = new Settings;
    return *settings;
}

inline ClipFileManager &testFiles()
{
    static auto *files = new ClipFileManager;
    return *files;
}

inline ConfigureManager &testAccount()
{
    static auto *account = new ConfigureManager(testSettings(), testFiles());
    return *account;
}

inline SyncEngine &testSync()
{
    static auto *sync = new SyncEngine(testAccount(), *new HistoryStore(testFiles()));
    return *sync;
}
