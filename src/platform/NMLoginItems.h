#pragma once

#include <QString>

// The programs the desktop starts at login, as XDG autostart entries: one ".desktop" file per
// item in $XDG_CONFIG_HOME/autostart whose Exec line starts the program at a path. Adding the
// same path twice gives two items; removing a path removes every item that starts it.
namespace NMLoginItems {
// The folder of the autostart entries.
QString autostartFolder();
// True when some entry starts the program at this path. False for no path or an unreadable
// folder; entries whose program does not exist never match.
bool pathInLoginItems(const QString &path);
// Adds an entry for the path, with "HideOnLaunch" set to hide; nothing for no path.
void addPathToLoginItems(const QString &path, bool hide);
// Removes every entry that starts the program at this path; a file that cannot be removed is
// logged and the others are still removed.
void removePathFromLoginItems(const QString &path);
} // namespace NMLoginItems
