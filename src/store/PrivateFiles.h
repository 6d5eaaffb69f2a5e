#pragma once

#include <QString>

// The history holds secrets (passwords copied by accident, private images), so the data folder
// and the clip files in it are readable by their owner only: folders 0700, files 0600.
namespace PrivateFiles {

// Creates the folder, and any missing parents, with owner-only permissions; an existing folder
// is left as it is. True when the folder exists afterwards.
bool makeFolder(const QString &path);

// Gives an existing file or folder owner-only permissions. A symbolic link is left alone: it
// would name a file outside our folders.
void restrict(const QString &path);

// Tightens what earlier versions left readable: the data folder, the clip subfolders (files,
// zips, previews) and every file in them, and the database files beside them.
void tightenDataFolder();

} // namespace PrivateFiles
