#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The running program's version and version comparison.
namespace Utils {
// The running program's version, e.g. "0.1.0".
QString appVersion();
// True when the service offered a version newer than the running one.
bool isNeedShowUpdate();
// The larger of two dotted versions, or none when they count as equal ("1.2" == "1.2.0").
std::optional<QString> largeVersion(const QString &versionOne, const QString &versionTwo);
} // namespace Utils
