#include "MqttListener.h"

#include "SyncClient.h"

#include <QJsonDocument>

#include <mosquitto.h>

#include <atomic>
#include <chrono>
#include <unistd.h>

namespace {
std::atomic<int> g_counter{0};
constexpr auto kWait = std::chrono::seconds(10);
} // namespace

MqttListener::MqttListener(const QString &clientId)
{
    mosquitto_lib_init();
    const QByteArray id = !clientId.isEmpty() ? clientId.toUtf8()
                                              : "quillet-test-" + QByteArray::number(g_counter++) + "-"
                                                    + QByteArray::number(qint64(getpid()));
    create(id);
}

void MqttListener::create(const QByteArray &clientId)
{
    if (m_client)
        mosquitto_reinitialise(m_client, clientId.constData(), true, this);
    else
        m_client = mosquitto_new(clientId.constData(), true, this);
    mosquitto_connect_callback_set(m_client, &MqttListener::onConnect);
    mosquitto_subscribe_callback_set(m_client, &MqttListener::onSubscribe);
    mosquitto_message_callback_set(m_client, &MqttListener::onMessage);
    mosquitto_publish_callback_set(m_client, &MqttListener::onPublish);
    mosquitto_disconnect_callback_set(m_client, &MqttListener::onDisconnect);
}

void MqttListener::onDisconnect(mosquitto *, void *self, int)
{
    update(self, [](MqttListener &l) { ++l.m_disconnects; });
}

bool MqttListener::waitForDisconnect(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return m_disconnects > 0; });
}

MqttListener::~MqttListener()
{
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, true);
    mosquitto_destroy(m_client);
}

void MqttListener::onConnect(mosquitto *, void *self, int rc)
{
    update(self, [rc](MqttListener &l) { l.m_connack = rc; });
}

void MqttListener::onSubscribe(mosquitto *, void *self, int, int count, const int *granted)
{
    update(self, [&](MqttListener &l) { l.m_granted.append(count > 0 ? granted[0] : 128); });
}

void MqttListener::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    const Message received{QString::fromUtf8(message->topic), QJsonDocument::fromJson(payload).object()};
    update(self, [&](MqttListener &l) { l.m_messages.append(received); });
}

void MqttListener::update(void *self, const std::function<void(MqttListener &)> &change)
{
    auto *listener = static_cast<MqttListener *>(self);
    std::lock_guard lock(listener->m_mutex);
    change(*listener);
    listener->m_changed.notify_all();
}

void MqttListener::onPublish(mosquitto *, void *self, int)
{
    update(self, [](MqttListener &l) { ++l.m_published; });
}

int MqttListener::connect(int port, const QString &user, const QString &password)
{
    mosquitto_username_pw_set(m_client, user.toUtf8().constData(), password.toUtf8().constData());
    if (mosquitto_connect(m_client, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
        return -1;
    mosquitto_loop_start(m_client);
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, kWait, [this] { return m_connack != -1; });
    return m_connack;
}

int MqttListener::connect(int port, const SyncClient &device)
{
    create(device.deviceToken().toUtf8());
    return connect(port, device.mqttUser(), device.mqttPassword());
}

int MqttListener::subscribe(const QString &topic)
{
    int before = 0;
    {
        std::lock_guard lock(m_mutex);
        before = int(m_granted.size());
    }
    if (mosquitto_subscribe(m_client, nullptr, topic.toUtf8().constData(), 1) != MOSQ_ERR_SUCCESS)
        return -1;
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, kWait, [&] { return m_granted.size() > before; }))
        return -1;
    return m_granted.last();
}

bool MqttListener::waitFor(const std::function<bool(const Message &)> &match, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const Message &m : m_messages) {
            if (match(m))
                return true;
        }
        return false;
    });
}

QList<MqttListener::Message> MqttListener::messages()
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

bool MqttListener::publish(const QString &topic, const QByteArray &payload)
{
    int before = 0;
    {
        std::lock_guard lock(m_mutex);
        before = m_published;
    }
    if (mosquitto_publish(m_client, nullptr, topic.toUtf8().constData(), int(payload.size()),
                          payload.constData(), 1, false)
        != MOSQ_ERR_SUCCESS)
        return false;
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, kWait, [&] { return m_published > before; });
}
