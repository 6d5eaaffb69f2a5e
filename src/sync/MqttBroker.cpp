#include "sync/MqttBroker.h"

#include "BuildInfo.h"
#include "store/SettingsKeys.h"
#include "sync/ConfiguredAddress.h"
#include "sync/SyncServer.h"

#include <QUrl>

namespace {

bool environmentSwitch(const char *name)
{
    const QString value = qEnvironmentVariable(name).trimmed().toLower();
    return value == QLatin1String("1") || value == QLatin1String("true") || value == QLatin1String("yes")
           || value == QLatin1String("on");
}

int standardPort(bool tls)
{
    return tls ? MqttBroker::kTlsPort : MqttBroker::kPlainPort;
}

MqttBroker::Endpoint fromEnvironment()
{
    MqttBroker::Endpoint endpoint;
    endpoint.host = ConfiguredAddress::fromEnvironment("QUILLET_MQTT_HOST");
    endpoint.tls = environmentSwitch("QUILLET_MQTT_TLS");
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("QUILLET_MQTT_PORT", &ok);
    endpoint.port = ok && port > 0 && port < 65536 ? port : standardPort(endpoint.tls);
    return endpoint;
}

} // namespace

namespace MqttBroker {

QString Endpoint::address() const
{
    QUrl url;
    url.setScheme(tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"));
    url.setHost(host);
    url.setPort(port);
    return url.toString();
}

bool isAddressFromEnvironment()
{
    return ConfiguredAddress::isFromEnvironment("QUILLET_MQTT_HOST");
}

QString storedAddress()
{
    return ConfiguredAddress::stored(SettingsKeys::mqttServerURL);
}

Endpoint defaultEndpoint()
{
    // A self-hosted service usually runs its broker on the same machine.
    if (SyncServer::isAddressFromEnvironment()
        || SyncServer::normalizedAddress(SyncServer::storedAddress())) {
        const QUrl service(SyncServer::baseURL());
        const bool tls = service.scheme() == QLatin1String("https");
        return {service.host(), standardPort(tls), tls};
    }
    return {QString::fromUtf8(BuildInfo::mqttHost), BuildInfo::mqttPort, BuildInfo::mqttTls};
}

Endpoint current()
{
    if (isAddressFromEnvironment())
        return fromEnvironment();
    if (const auto stored = parseAddress(storedAddress()))
        return *stored;
    return defaultEndpoint();
}

std::optional<Endpoint> parseAddress(const QString &typed)
{
    const QString text = typed.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))
        || url.host().isEmpty() || url.port() < 1 || url.port() > 65535 || url.hasQuery() || url.hasFragment()
        || !url.userInfo().isEmpty() || !(url.path().isEmpty() || url.path() == QLatin1String("/")))
        return std::nullopt;
    return Endpoint{url.host(), url.port(), scheme == QLatin1String("mqtts")};
}

bool setStoredAddress(Settings &settings, const QString &typed)
{
    return ConfiguredAddress::store(settings, SettingsKeys::mqttServerURL, typed,
                                    [](const QString &text) -> std::optional<QString> {
                                        const auto endpoint = parseAddress(text);
                                        if (!endpoint)
                                            return std::nullopt;
                                        return endpoint->address();
                                    });
}

} // namespace MqttBroker
