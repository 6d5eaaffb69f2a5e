#include "sync/MqttManager.h"

#include "store/ConfigureManager.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "support/Log.h"
#include "support/MainQueue.h"
#include "sync/MqttNotices.h"
#include "sync/SyncEngine.h"
#include "sync/SyncIdentity.h"
#include "sync/SyncServer.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <mosquitto.h>
#include <openssl/ssl.h>

namespace {

constexpr int kKeepAliveSeconds = 60;
constexpr unsigned kReconnectSeconds = 1;
constexpr int kQos = 1;
// Where the service says that it is up; readable by every device.
constexpr char kServiceTopic[] = "quillet_service";
// The system's authorities, besides those of the OpenSSL defaults.
constexpr char kSystemCAPath[] = "/etc/ssl/certs";
// Used when the service handed out no broker account of the user's own.
constexpr char kFallbackUser[] = "pubclient";
constexpr char kFallbackPassword[] = "3c9e5a17";

QByteArray orFallback(const std::optional<QString> &value, const char *fallback)
{
    return value ? value->toUtf8() : QByteArray(fallback);
}

} // namespace

MqttManager::MqttManager(SyncEngine &sync)
    : m_sync(sync)
{
    mosquitto_lib_init();
    m_client = mosquitto_new(currentDeviceToken().toUtf8().constData(), true, this);
    if (!m_client) {
        qCWarning(lcSync) << "cannot create the notice client";
        return;
    }
    QObject::connect(&m_sync.account(), &ConfigureManager::signedOut, &m_context, [this] { close(); });
}

MqttManager::~MqttManager()
{
    if (!m_client)
        return;
    // The network loop's thread ends here, before the client it uses.
    close();
    mosquitto_destroy(m_client);
    mosquitto_lib_cleanup();
}

bool MqttManager::configureClient()
{
    // A fresh client each time: TLS, once set on a client, cannot be taken back for a plain broker.
    if (mosquitto_reinitialise(m_client, currentDeviceToken().toUtf8().constData(), true, this)
        != MOSQ_ERR_SUCCESS)
        return false;
    mosquitto_reconnect_delay_set(m_client, kReconnectSeconds, kReconnectSeconds, false);
    mosquitto_connect_callback_set(m_client, &MqttManager::onConnect);
    mosquitto_disconnect_callback_set(m_client, &MqttManager::onDisconnect);
    mosquitto_subscribe_callback_set(m_client, &MqttManager::onSubscribe);
    mosquitto_message_callback_set(m_client, &MqttManager::onMessage);
    mosquitto_log_callback_set(m_client, &MqttManager::onLog);
    if (!m_broker.tls)
        return true;
    // Verified like the HTTPS service: the system's authorities and the configured CA file,
    // the peer's chain and its host name.
    const QByteArray caFile = m_caFile.toLocal8Bit();
    return mosquitto_int_option(m_client, MOSQ_OPT_TLS_USE_OS_CERTS, 1) == MOSQ_ERR_SUCCESS
           && mosquitto_tls_set(m_client, caFile.isEmpty() ? nullptr : caFile.constData(), kSystemCAPath,
                                nullptr, nullptr, nullptr)
                  == MOSQ_ERR_SUCCESS
           && mosquitto_tls_opts_set(m_client, SSL_VERIFY_PEER, nullptr, nullptr) == MOSQ_ERR_SUCCESS
           && mosquitto_tls_insecure_set(m_client, false) == MOSQ_ERR_SUCCESS;
}

void MqttManager::connect()
{
    // Signed out there is no topic to read and no account to connect with: no attempt at all
    // (a wake from sleep, a moved broker address), until the next sign-in connects.
    if (!m_client || m_connected || !m_sync.account().isSignedIn())
        return;
    // A loop still trying an earlier connection starts over with the current account.
    stopLoop();
    m_wanted = true;
    m_broker = MqttBroker::current();
    m_caFile = m_broker.tls ? SyncServer::caFile() : QString();
    {
        std::lock_guard lock(m_logMutex);
        m_lastReport.clear();
    }
    if (!configureClient()) {
        // Without its TLS set-up the client would send the account in the clear: no attempt.
        qCWarning(lcSync).noquote() << "notice broker" << m_broker.address()
                                    << "not tried: cannot set up TLS with the CA file" << m_caFile;
        return;
    }
    const QByteArray user = orFallback(Settings::brokerUser(), kFallbackUser);
    const QByteArray password = orFallback(Settings::brokerPassword(), kFallbackPassword);
    mosquitto_username_pw_set(m_client, user.constData(), password.constData());
    const int rc = mosquitto_connect_async(m_client, m_broker.host.toUtf8().constData(), m_broker.port,
                                           kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        qCInfo(lcSync) << "notice broker not reached yet:" << mosquitto_strerror(rc);
    // The loop reconnects by itself, also after a first attempt that failed.
    m_loopRunning = mosquitto_loop_start(m_client) == MOSQ_ERR_SUCCESS;
}

void MqttManager::reconnectIfMoved()
{
    if (!m_client || !m_wanted)
        return;
    const MqttBroker::Endpoint broker = MqttBroker::current();
    const QString caFile = broker.tls ? SyncServer::caFile() : QString();
    if (broker == m_broker && caFile == m_caFile)
        return;
    stopLoop();
    connect();
}

void MqttManager::subscribe()
{
    if (!m_client)
        return;
    const QByteArray topic = (QStringLiteral("user_id_") + m_sync.account().loginUserId()).toUtf8();
    // One request for both topics: its acknowledgement's first grant is the user's topic's, and a
    // broker that does not offer the service's topic refuses that one alone.
    char *topics[] = {const_cast<char *>(topic.constData()), const_cast<char *>(kServiceTopic)};
    mosquitto_subscribe_multiple(m_client, nullptr, 2, topics, kQos, 0, nullptr);
}

void MqttManager::close()
{
    if (!m_client)
        return;
    m_wanted = false;
    stopLoop();
}

void MqttManager::stopLoop()
{
    mosquitto_disconnect(m_client);
    if (m_loopRunning)
        mosquitto_loop_stop(m_client, false);
    m_loopRunning = false;
    m_connected = false;
    m_subscribed = false;
}

void MqttManager::onConnect(mosquitto *, void *self, int rc)
{
    auto *manager = static_cast<MqttManager *>(self);
    if (rc == 0) {
        manager->m_connected = true;
        std::lock_guard lock(manager->m_logMutex);
        manager->m_lastReport.clear();
    } else {
        qCInfo(lcSync) << "notice broker refused the connection:" << mosquitto_connack_string(rc);
    }
    // Whatever the answer, subscribe (a refused connection makes that fail quietly). A
    // connection made (again) means the network is back: sync catches up.
    dispatchMain(&manager->m_context, [manager, connected = rc == 0] {
        manager->subscribe();
        if (connected)
            manager->m_sync.brokerConnected();
    });
}

void MqttManager::onDisconnect(mosquitto *, void *self, int)
{
    auto *manager = static_cast<MqttManager *>(self);
    manager->m_connected = false;
    manager->m_subscribed = false;
}

void MqttManager::onSubscribe(mosquitto *, void *self, int, int count, const int *granted)
{
    // 128 is the broker's refusal.
    auto *manager = static_cast<MqttManager *>(self);
    const bool isGranted = count > 0 && granted[0] != 128;
    if (isGranted && !manager->m_subscribed)
        qCInfo(lcSync) << "receiving change notices";
    manager->m_subscribed = isGranted;
}

void MqttManager::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *manager = static_cast<MqttManager *>(self);
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    const bool fromService = message->topic && qstrcmp(message->topic, kServiceTopic) == 0;
    dispatchMain(&manager->m_context, [manager, payload, fromService] {
        // The service is (back) up: what waits for it goes now rather than at the end of a wait.
        if (fromService) {
            if (QJsonDocument::fromJson(payload).object().value(QStringLiteral("status")).toString()
                == QLatin1String("online"))
                manager->m_sync.resumeLanes();
            return;
        }
        manager->handleMessage(payload);
    });
}

void MqttManager::onLog(mosquitto *, void *self, int level, const char *text)
{
    // The library's errors (a refused certificate, an unreachable host) name no credentials.
    if (!(level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)))
        return;
    auto *manager = static_cast<MqttManager *>(self);
    const QString report = QString::fromUtf8(text);
    {
        // The loop retries every second; the same failure is told once.
        std::lock_guard lock(manager->m_logMutex);
        if (report == manager->m_lastReport)
            return;
        manager->m_lastReport = report;
    }
    qCWarning(lcSync).noquote() << "notice broker" << manager->m_broker.address() << report;
}

void MqttManager::handleMessage(const QByteArray &payload)
{
    const QJsonObject message = QJsonDocument::fromJson(payload).object();
    const QString protocol = message.value(QStringLiteral("protocol")).toString();
    const QJsonObject data = message.value(QStringLiteral("data")).toObject();
    if (protocol.isEmpty())
        return;
    // Changes this device caused are already applied here.
    if (data.value(QStringLiteral("device_token")).toString() == currentDeviceToken())
        return;
    if (protocol.startsWith(QLatin1String("history_delete")))
        MqttNotices::applyDelete(data, m_sync);
    else if (protocol.startsWith(QLatin1String("history_clear")))
        MqttNotices::applyClear(data, m_sync);
    else if (protocol.startsWith(QLatin1String("history_upload_file")))
        MqttNotices::applyUploadFile(data, m_sync);
    else if (protocol.startsWith(QLatin1String("history_favourite")))
        MqttNotices::applyFavourite(data, m_sync);
}
