#pragma once

#include <QString>

#include <functional>
#include <optional>

// An address that the environment, the settings file or the build gives, the environment
// winning: how the sync service's address, its CA file and the broker's address are each found
// and stored.
class Settings;

namespace ConfiguredAddress {

// The variable's value, trimmed; empty when it is unset or blank.
QString fromEnvironment(const char *variable);
bool isFromEnvironment(const char *variable);
// The value stored under the settings key; empty when none.
QString stored(const char *settingsKey);

// Turns a typed text into the form that is stored; none when the text is not acceptable.
using Normalize = std::function<std::optional<QString>(const QString &typed)>;
// Stores the typed text in its normal form; an empty text removes the key. False, storing
// nothing, when the text is not acceptable.
bool store(Settings &settings, const char *settingsKey, const QString &typed, const Normalize &normalize);

} // namespace ConfiguredAddress
