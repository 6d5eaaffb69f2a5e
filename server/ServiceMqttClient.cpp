#include "ServiceMqttClient.h"

#include "Secrets.h"

#include <mosquitto.h>

namespace ServiceMqttClient {

mosquitto *create(const QString &user, const QString &password, void *owner)
{
    mosquitto_lib_init();
    const QByteArray clientId = "quillet-service-" + Secrets::randomHex(16).toLatin1();
    mosquitto *client = mosquitto_new(clientId.constData(), true, owner);
    if (!client)
        return nullptr;
    mosquitto_username_pw_set(client, user.toUtf8().constData(), password.toUtf8().constData());
    mosquitto_reconnect_delay_set(client, 1, 5, false);
    return client;
}

void destroy(mosquitto *client)
{
    if (client) {
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, true);
        mosquitto_destroy(client);
    }
    mosquitto_lib_cleanup();
}

} // namespace ServiceMqttClient
