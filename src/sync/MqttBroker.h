#pragma once

#include <QString>

#include <optional>

// Where the notice broker is and whether it speaks TLS. $QUILLET_MQTT_HOST (with
// $QUILLET_MQTT_PORT and $QUILLET_MQTT_TLS) wins; else the address typed in the account pane;
// else, when the sync service's address was given (environment or pane), the service's host on
// the standard port, with TLS when the service is https; else the build's values.
class Settings;

namespace MqttBroker {

inline constexpr int kPlainPort = 1883;
inline constexpr int kTlsPort = 8883;

struct Endpoint {
    QString host;
    int port = kPlainPort;
    bool tls = false;

    // "mqtt://HOST:PORT" or "mqtts://HOST:PORT".
    QString address() const;
    bool operator==(const Endpoint &) const = default;
};

Endpoint current();
// True when $QUILLET_MQTT_HOST decides the broker, so the stored address is not used.
bool isAddressFromEnvironment();
// The broker used while no address is stored (shown as the pane's placeholder).
Endpoint defaultEndpoint();
// The address stored in the settings file; empty when none.
QString storedAddress();
// The broker a typed address names: scheme "mqtt" or "mqtts", a host and a port from 1 to
// 65535, nothing else. None when the text is not such an address.
std::optional<Endpoint> parseAddress(const QString &typed);
// Stores a typed address in its normal form (an empty text removes it). False, storing
// nothing, when invalid.
bool setStoredAddress(Settings &settings, const QString &typed);

} // namespace MqttBroker
