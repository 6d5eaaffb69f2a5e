#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// Small switches of the settings file and version comparison.
namespace Utils {
bool isNeedAnalyseSecert();
void setAnalySecert(bool on);
bool isFileAsSecert();
void setFileAsSecert(bool on);
bool isAdvancePrivacy();
void setAdvancePrivacy(bool on);

// The web page stored under key (it may come from the service), or fallback when none is
// stored or the stored one is no http(s) URL with a host.
QUrl webPageSetting(const char *key, const char *fallback);

// The running program's version, e.g. "0.1.0".
QString appVersion();
// True when the service offered a version newer than the running one.
bool isNeedShowUpdate();
// The larger of two dotted versions, or none when they count as equal ("1.2" == "1.2.0").
std::optional<QString> largeVersion(const QString &versionOne, const QString &versionTwo);
} // namespace Utils
