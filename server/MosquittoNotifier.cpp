#include "MosquittoNotifier.h"

#include "ServerLog.h"
#include "ServiceMqttClient.h"

#include <QJsonDocument>

#include <mosquitto.h>

#include <chrono>

MosquittoNotifier::MosquittoNotifier(const QString &host, int port, const QString &user,
                                     const QString &password)
    : m_host(host)
    , m_port(port)
{
    m_client = ServiceMqttClient::create(user, password, this);
    if (!m_client)
        return;
    // A service that dies (or loses the broker) is announced by the broker itself.
    static constexpr char kOffline[] = R"({"status":"offline"})";
    mosquitto_will_set(m_client, kServiceTopic, int(sizeof(kOffline) - 1), kOffline, 1, true);
    mosquitto_connect_callback_set(m_client, &MosquittoNotifier::onConnect);
    mosquitto_disconnect_callback_set(m_client, &MosquittoNotifier::onDisconnect);
}

MosquittoNotifier::~MosquittoNotifier()
{
    ServiceMqttClient::destroy(m_client);
}

void MosquittoNotifier::onConnect(mosquitto *, void *self, int rc)
{
    auto *notifier = static_cast<MosquittoNotifier *>(self);
    {
        std::lock_guard lock(notifier->m_mutex);
        notifier->m_connected = rc == 0;
    }
    notifier->m_changed.notify_all();
    if (rc != 0) {
        qCWarning(lcServer) << "the broker refused the service:" << mosquitto_connack_string(rc);
        return;
    }
    static constexpr char kOnline[] = R"({"status":"online"})";
    mosquitto_publish(notifier->m_client, nullptr, kServiceTopic, int(sizeof(kOnline) - 1), kOnline, 1, true);
}

void MosquittoNotifier::onDisconnect(mosquitto *, void *self, int)
{
    auto *notifier = static_cast<MosquittoNotifier *>(self);
    std::lock_guard lock(notifier->m_mutex);
    notifier->m_connected = false;
}

bool MosquittoNotifier::start()
{
    if (!m_client)
        return false;
    if (mosquitto_connect_async(m_client, m_host.toUtf8().constData(), m_port, 30) != MOSQ_ERR_SUCCESS)
        qCInfo(lcServer) << "broker not reachable yet; retrying";
    return mosquitto_loop_start(m_client) == MOSQ_ERR_SUCCESS;
}

bool MosquittoNotifier::waitConnected(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return m_connected.load(); });
}

QString MosquittoNotifier::topicFor(qint64 userId)
{
    return QStringLiteral("user_id_") + QString::number(userId);
}

void MosquittoNotifier::publish(qint64 userId, const QString &protocol, const QJsonObject &data)
{
    if (!m_client)
        return;
    const QByteArray payload =
        QJsonDocument(QJsonObject{{QStringLiteral("protocol"), protocol}, {QStringLiteral("data"), data}})
            .toJson(QJsonDocument::Compact);
    const int rc = mosquitto_publish(m_client, nullptr, topicFor(userId).toUtf8().constData(),
                                     int(payload.size()), payload.constData(), 1, false);
    if (rc != MOSQ_ERR_SUCCESS)
        qCWarning(lcServer) << "cannot publish a notice:" << mosquitto_strerror(rc);
}
