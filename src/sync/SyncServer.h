#pragma once

#include <QString>

#include <optional>

// Where the sync service is and how its certificate is checked. The base URL comes from
// $QUILLET_API_URL when set, else from the address the user typed in the account pane, else
// from the build; the CA file likewise from $QUILLET_CA_FILE, else from the settings file.
class Settings;

namespace SyncServer {

QString baseURL();
// True when $QUILLET_API_URL decides the address, so the stored one is not used.
bool isAddressFromEnvironment();
// The address stored in the settings file; empty when none.
QString storedAddress();
// The base URL an address typed by the user stands for: an http(s) URL with a host and no
// query, without a trailing slash; "/api" is added when it names no path. None when the text
// is not such a URL.
std::optional<QString> normalizedAddress(const QString &typed);
// Stores a typed address (an empty text removes it). False, storing nothing, when invalid.
bool setStoredAddress(Settings &settings, const QString &typed);

// A PEM file of certificate authorities trusted besides the system's; empty for none.
QString caFile();
// True when $QUILLET_CA_FILE decides the CA file.
bool isCAFileFromEnvironment();
QString storedCAFile();
// Stores the CA file (an empty path removes it). False, storing nothing, when the file holds
// no PEM certificate.
bool setStoredCAFile(Settings &settings, const QString &path);

} // namespace SyncServer
