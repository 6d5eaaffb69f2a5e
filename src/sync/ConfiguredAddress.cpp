#include "sync/ConfiguredAddress.h"

#include "store/Settings.h"

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
    return Settings::text(settingsKey);
}

bool store(Settings &settings, const char *settingsKey, const QString &typed, const Normalize &normalize)
{
    if (typed.trimmed().isEmpty()) {
        settings.setText(settingsKey, std::nullopt);
        return true;
    }
    const std::optional<QString> normal = normalize(typed);
    if (!normal)
        return false;
    settings.setText(settingsKey, *normal);
    return true;
}

} // namespace ConfiguredAddress
