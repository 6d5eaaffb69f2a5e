#include "MqttListener.h"

#include "SyncClient.h"

#include <QJsonDocument>

#include <mosquitto.h>

#include <algorithm>
#include <chrono>

MqttListener::MqttListener(const QString &clientId)
{
    mosquitto_lib_init();
    create(clientId);
}

MqttListener::~MqttListener()
{
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, true);
    mosquitto_destroy(m_client);
}

void MqttListener::create(const QString &clientId)
{
    // Without an id libmosquitto makes a random one.
    const QByteArray id = clientId.toUtf8();
    const char *idOrRandom = id.isEmpty() ? nullptr : id.constData();
    if (m_client)
        mosquitto_reinitialise(m_client, idOrRandom, true, this);
    else
        m_client = mosquitto_new(idOrRandom, true, this);
    mosquitto_connect_callback_set(m_client, [](mosquitto *, void *self, int rc) {
        update(self, [rc](MqttListener &l) { l.m_connack = rc; });
    });
    mosquitto_subscribe_callback_set(m_client,
                                     [](mosquitto *, void *self, int, int count, const int *granted) {
                                         update(self, [&](MqttListener &l) {
                                             l.m_granted = count > 0 ? granted[0] : 128;
                                             ++l.m_subscribed;
                                         });
                                     });
    mosquitto_message_callback_set(m_client, [](mosquitto *, void *self, const mosquitto_message *message) {
        const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
        const Message received{QString::fromUtf8(message->topic), QJsonDocument::fromJson(payload).object()};
        update(self, [&](MqttListener &l) { l.m_messages.append(received); });
    });
    mosquitto_publish_callback_set(m_client, [](mosquitto *, void *self, int) {
        update(self, [](MqttListener &l) { ++l.m_published; });
    });
    mosquitto_disconnect_callback_set(m_client, [](mosquitto *, void *self, int) {
        update(self, [](MqttListener &l) { ++l.m_disconnects; });
    });
}

void MqttListener::update(void *self, const std::function<void(MqttListener &)> &change)
{
    auto *listener = static_cast<MqttListener *>(self);
    std::lock_guard lock(listener->m_mutex);
    change(*listener);
    listener->m_changed.notify_all();
}

bool MqttListener::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
}

int MqttListener::connect(int port, const QString &user, const QString &password)
{
    mosquitto_username_pw_set(m_client, user.toUtf8().constData(), password.toUtf8().constData());
    if (mosquitto_connect(m_client, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
        return -1;
    mosquitto_loop_start(m_client);
    waitUntil([this] { return m_connack != -1; });
    return m_connack;
}

int MqttListener::connect(int port, const SyncClient &device)
{
    create(device.deviceToken());
    return connect(port, device.mqttUser(), device.mqttPassword());
}

int MqttListener::subscribe(const QString &topic)
{
    const int before = m_subscribed;
    if (mosquitto_subscribe(m_client, nullptr, topic.toUtf8().constData(), 1) != MOSQ_ERR_SUCCESS
        || !waitUntil([&] { return m_subscribed > before; }))
        return -1;
    return m_granted;
}

bool MqttListener::waitFor(const std::function<bool(const Message &)> &match, int timeoutMs)
{
    return waitUntil([&] { return std::ranges::any_of(m_messages, match); }, timeoutMs);
}

QList<MqttListener::Message> MqttListener::messages()
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

bool MqttListener::waitForDisconnect(int timeoutMs)
{
    return waitUntil([this] { return m_disconnects > 0; }, timeoutMs);
}

bool MqttListener::publish(const QString &topic, const QByteArray &payload)
{
    const int before = m_published;
    return mosquitto_publish(m_client, nullptr, topic.toUtf8().constData(), int(payload.size()),
                             payload.constData(), 1, false)
               == MOSQ_ERR_SUCCESS
           && waitUntil([&] { return m_published > before; });
}
