#pragma once

#include <QString>

// The desktop's list of recently used files (recently-used.xbel), where file pickers and
// launchers look for new downloads.
namespace RecentlyUsed {
// $XDG_DATA_HOME/recently-used.xbel
QString defaultPath();
// Adds the file with its MIME type, as used by Quillet now. An existing list keeps its entries;
// a list that is not well-formed XML is left untouched and false is returned.
bool addFile(const QString &filePath, const QString &listPath = defaultPath());
} // namespace RecentlyUsed
