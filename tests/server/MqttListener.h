#pragma once

#include <QJsonObject>
#include <QList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

struct mosquitto;
class SyncClient;

// A device's notice subscription: a libmosquitto client that connects with the given broker
// credentials, subscribes to topics and keeps every message it receives.
class MqttListener final
{
public:
    struct Message {
        QString topic;
        QJsonObject json;
    };

    // A random client id by default; a device's token to stand for that device's connection.
    explicit MqttListener(const QString &clientId = {});
    ~MqttListener();
    MqttListener(const MqttListener &) = delete;
    MqttListener &operator=(const MqttListener &) = delete;

    // Connects and waits for the broker's answer: 0 when accepted, else the refusal code
    // (-1 when there was no answer at all).
    int connect(int port, const QString &user, const QString &password);
    // Connects as the device does: its token as the client id, the broker credentials of its
    // sign-in.
    int connect(int port, const SyncClient &device);
    // Subscribes (QoS 1) and waits for the acknowledgement; answers the granted QoS (128: refused).
    int subscribe(const QString &topic);
    // Waits until a received message satisfies `match`; false after `timeoutMs`.
    bool waitFor(const std::function<bool(const Message &)> &match, int timeoutMs = 5000);
    QList<Message> messages();
    // Waits until the broker has closed this client's connection at least once.
    bool waitForDisconnect(int timeoutMs = 5000);
    // Publishes as this client; true when the broker acknowledged it (acknowledged is not delivered).
    bool publish(const QString &topic, const QByteArray &payload);

private:
    void create(const QString &clientId);
    // Changes the listener's state under its lock (from the client's thread) and wakes waiters.
    static void update(void *self, const std::function<void(MqttListener &)> &change);
    bool waitUntil(const std::function<bool()> &done, int timeoutMs = 10000);

    mosquitto *m_client = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::atomic<int> m_connack = -1;
    std::atomic<int> m_subscribed = 0;
    std::atomic<int> m_granted = 0;
    std::atomic<int> m_published = 0;
    std::atomic<int> m_disconnects = 0;
    QList<Message> m_messages;
};
