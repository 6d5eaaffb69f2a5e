#pragma once

#include "Notifier.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>

struct mosquitto;

// Publishes notices through the mosquitto broker with the service's own credentials. The
// library's network thread keeps the connection and reconnects by itself; a notice published
// while the broker is away is dropped (devices catch up with their next pull).
class MosquittoNotifier final : public Notifier
{
public:
    MosquittoNotifier(const QString &host, int port, const QString &user, const QString &password);
    ~MosquittoNotifier() override;
    MosquittoNotifier(const MosquittoNotifier &) = delete;
    MosquittoNotifier &operator=(const MosquittoNotifier &) = delete;

    // Starts connecting on the library's network thread, which retries until the broker is up.
    bool start();
    // True once the broker has accepted the service, waiting at most `timeoutMs`.
    bool waitConnected(int timeoutMs);
    bool isConnected() const { return m_connected.load(); }

    void publish(qint64 userId, const QString &protocol, const QJsonObject &data) override;

    static QString topicFor(qint64 userId);
    // Every device may read it: {"status":"online"} (retained) once the service is connected,
    // {"status":"offline"} when its connection ends without a goodbye (the broker's will), so
    // that devices waiting to retry go at once when the service is back.
    static constexpr char kServiceTopic[] = "quillet_service";

private:
    static void onConnect(mosquitto *client, void *self, int rc);
    static void onDisconnect(mosquitto *client, void *self, int rc);

    mosquitto *m_client = nullptr;
    QString m_host;
    int m_port;
    std::atomic<bool> m_connected{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
};
