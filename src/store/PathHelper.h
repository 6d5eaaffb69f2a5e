#pragma once

#include <QString>

// Names the data folder and its subfolders. Every call creates the folder it names (and the
// data folder) readable by the owner only, ignoring failures; the file named by the argument is never
// created. The data folder is $QUILLET_DATA_DIR when set, else $XDG_DATA_HOME/Quillet.
namespace PathHelper {
QString dataFolder();
QString getBaseAppLibraryPath(const QString &name = {});
QString getBaseFilePath(const QString &name = {});
QString getZipsFilePath(const QString &name = {});
QString getPreviewsFilePath(const QString &name = {});
QString getPluginsBaseDir();
QString getPluginsPackageCachePath(const QString &name = {});
QString getTmpDir(const QString &name = {});
QString getDataFilePath(const QString &name = {});

// True when the name is one plain file name: not empty, no "/", not "." or "..". Hashes and
// file names also arrive from other devices; one that fails this names no file of ours.
bool isPlainFileName(const QString &name);
} // namespace PathHelper
