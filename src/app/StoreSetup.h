#pragma once

#include <QString>

// Prepares what every start needs on disk: the data folder with its subfolders, the settings
// file and the history database brought up to date. Returns a short report for the log.
namespace StoreSetup {
QString prepare();
} // namespace StoreSetup
