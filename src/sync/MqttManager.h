#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

struct mosquitto;
struct mosquitto_message;

// The subscription to the signed-in user's change notices: one libmosquitto client whose
// network loop runs on its own thread and reconnects by itself every second. Acknowledgements
// and messages are handed to the main thread, where the notices of other devices are applied
// to the local history: a deletion, a clear, a finished upload.
class MqttManager final
{
    Q_DISABLE_COPY_MOVE(MqttManager)

public:
    static MqttManager &sharedInstance();

    // Connects when not connected; every acknowledgement from the broker subscribes again.
    void connect();
    // Subscribes (QoS 1) to "user_id_" + the stored user id; the result is ignored.
    void subscribe();
    // Disconnects and stops the network loop; nothing reconnects until the next connect().
    void close();
    // True after an acknowledgement with return code 0, false after a disconnection.
    bool isConnected() const { return m_connected; }
    // True once the broker granted the latest subscription of this connection.
    bool isSubscribed() const { return m_subscribed; }

    // Where the broker is: $QUILLET_MQTT_HOST / $QUILLET_MQTT_PORT, else the build's values.
    static QString brokerHost();
    static int brokerPort();

private:
    MqttManager();

    void handleMessage(const QByteArray &payload);
    void stopLoop();

    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onSubscribe(mosquitto *, void *self, int mid, int count, const int *granted);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);

    mosquitto *m_client = nullptr;
    QObject m_context; // ties the observers and queued work to this object
    std::atomic<bool> m_connected = false;
    std::atomic<bool> m_subscribed = false;
    bool m_loopRunning = false;
};
