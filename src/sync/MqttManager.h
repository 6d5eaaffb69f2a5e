#pragma once

#include "sync/MqttBroker.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>

class SyncEngine;
struct mosquitto;
struct mosquitto_message;

// The subscription to the signed-in user's change notices: one libmosquitto client whose
// network loop runs on its own thread and reconnects by itself every second. Acknowledgements
// and messages are handed to the main thread, where the notices of other devices are applied
// to the local history: a deletion, a clear, a finished upload. A TLS broker is verified like
// the HTTPS service (system authorities plus the configured CA file, host name included); the
// account's credentials go out only over a connection that passed that check.
class MqttManager final
{
    Q_DISABLE_COPY_MOVE(MqttManager)

public:
    explicit MqttManager(SyncEngine &sync);
    ~MqttManager();

    // Connects when signed in and not connected; every acknowledgement from the broker
    // subscribes again. Signed out it does nothing.
    void connect();
    // Subscribes (QoS 1) to "user_id_" + the stored user id, and to where the service says that it
    // is up (which runs the lanes at once); the result is ignored.
    void subscribe();
    // Disconnects and stops the network loop; nothing reconnects until the next connect().
    void close();
    // Starts over with the current settings when the broker, its TLS or the CA file changed
    // since the last connect() (and no close() came since); otherwise does nothing.
    void reconnectIfMoved();
    // True after an acknowledgement with return code 0, false after a disconnection.
    bool isConnected() const { return m_connected; }
    // True once the broker granted the latest subscription of this connection.
    bool isSubscribed() const { return m_subscribed; }

    // The broker of the latest connect().
    MqttBroker::Endpoint broker() const { return m_broker; }

private:
    void handleMessage(const QByteArray &payload);
    void stopLoop();
    bool configureClient();

    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onSubscribe(mosquitto *, void *self, int mid, int count, const int *granted);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);
    static void onLog(mosquitto *, void *self, int level, const char *text);

    SyncEngine &m_sync;
    mosquitto *m_client = nullptr;
    QObject m_context; // ties the observers and queued work to this object
    std::atomic<bool> m_connected = false;
    std::atomic<bool> m_subscribed = false;
    bool m_loopRunning = false;
    // Between connect() and close(): the connection is wanted.
    bool m_wanted = false;
    MqttBroker::Endpoint m_broker;
    QString m_caFile;
    // The library's last error report, logged once until the next successful connection.
    std::mutex m_logMutex;
    QString m_lastReport;
};
