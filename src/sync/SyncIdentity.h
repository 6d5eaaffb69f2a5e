#pragma once

#include <QString>

// The identity values every request to the sync service carries, and the escaping of the
// values that need it. Safe from any thread.

// This installation's device identity: the stored "deviceToken", else 128 random bits as 32
// lower-case hexadecimal digits, stored at once for every later run. Read once per process.
QString currentDeviceToken();
// The same, uncached: the stored token, or a new one that is stored.
QString makeDeviceToken();
// "linux_" and the kernel release as major.minor.patch, zeros for what cannot be read.
QString deviceTypeString();
// Builds "linux_X.Y.Z" from a kernel release such as "6.1.0-18-amd64".
QString deviceTypeFromKernelRelease(const QString &release);
// The program's version and build number joined by "_".
QString appVersionString();
// The computer's name as its user knows it.
QString localDeviceName();
// Form-style escaping of a query value: letters, digits and "-._~" stay, a space becomes "+",
// every other UTF-8 byte becomes "%XX".
QString urlencode(const QString &text);
