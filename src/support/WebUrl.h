#pragma once

#include <QUrl>

// True for an http or https URL with a host. Addresses that come from a reply, a setting or a
// package are opened or fetched only when they are web URLs: the desktop would also open (and
// for a .desktop file, run) a local file, and Qt would read file: or qrc: URLs from the disk.
bool isWebUrl(const QUrl &url);
