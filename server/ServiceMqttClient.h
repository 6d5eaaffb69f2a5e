#pragma once

#include <QString>

struct mosquitto;

// libmosquitto clients of the service's own broker account. Several service processes (and
// several parts of one) share that account, so each connection gets a random client id of its
// own, which no device can guess and take over; the client reconnects by itself.
namespace ServiceMqttClient {

// A new client with the account's credentials, `owner` handed to its callbacks; null when the
// library cannot make one.
mosquitto *create(const QString &user, const QString &password, void *owner);
// Disconnects, stops the client's loop and frees it (null is fine).
void destroy(mosquitto *client);

} // namespace ServiceMqttClient
