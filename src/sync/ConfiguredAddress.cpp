#include "sync/ConfiguredAddress.h"

#include "store/ClipUserDefaults.h"

namespace ConfiguredAddress {

QString fromEnvironment(const char *variable)
{
    return qEnvironmentVariable(variable).trimmed();
}

bool isFromEnvironment(const char *variable)
{
    return !fromEnvironment(variable).isEmpty();
}

QString stored(const char *settingsKey)
{
    return ClipUserDefaults::stringValue(QLatin1String(settingsKey)).value_or(QString());
}

bool store(const char *settingsKey, const QString &typed, const Normalize &normalize)
{
    const QString key = QLatin1String(settingsKey);
    if (typed.trimmed().isEmpty()) {
        ClipUserDefaults::remove(key);
        return true;
    }
    const std::optional<QString> normal = normalize(typed);
    if (!normal)
        return false;
    ClipUserDefaults::setValue(key, *normal);
    return true;
}

} // namespace ConfiguredAddress
