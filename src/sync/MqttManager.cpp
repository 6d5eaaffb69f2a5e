#include "sync/MqttManager.h"

#include "BuildInfo.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/SettingsKeys.h"
#include "support/Log.h"
#include "support/MainQueue.h"
#include "support/NotificationCenter.h"
#include "support/Notifications.h"
#include "sync/MqttNotices.h"
#include "sync/SyncIdentity.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <mosquitto.h>

namespace {

constexpr int kKeepAliveSeconds = 60;
constexpr unsigned kReconnectSeconds = 1;
constexpr int kQos = 1;
// Used when the service handed out no broker account of the user's own.
constexpr char kFallbackUser[] = "pubclient";
constexpr char kFallbackPassword[] = "3c9e5a17";

QByteArray setting(const char *key, const char *fallback)
{
    const std::optional<QString> value = ClipUserDefaults::stringValue(QLatin1String(key));
    return value && !value->isEmpty() ? value->toUtf8() : QByteArray(fallback);
}

} // namespace

MqttManager &MqttManager::sharedInstance()
{
    static auto *instance = new MqttManager;
    return *instance;
}

MqttManager::MqttManager()
{
    mosquitto_lib_init();
    m_client = mosquitto_new(currentDeviceToken().toUtf8().constData(), true, this);
    if (!m_client) {
        qCWarning(lcSync) << "cannot create the notice client";
        return;
    }
    mosquitto_reconnect_delay_set(m_client, kReconnectSeconds, kReconnectSeconds, false);
    mosquitto_connect_callback_set(m_client, &MqttManager::onConnect);
    mosquitto_disconnect_callback_set(m_client, &MqttManager::onDisconnect);
    mosquitto_subscribe_callback_set(m_client, &MqttManager::onSubscribe);
    mosquitto_message_callback_set(m_client, &MqttManager::onMessage);
    NotificationCenter::sharedInstance().addObserver(QLatin1String(Notifications::USER_LOGOUTED), &m_context,
                                                     [](const QVariant &) { sharedInstance().close(); });
}

QString MqttManager::brokerHost()
{
    const QString host = qEnvironmentVariable("QUILLET_MQTT_HOST");
    return host.isEmpty() ? QString::fromUtf8(BuildInfo::mqttHost) : host;
}

int MqttManager::brokerPort()
{
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("QUILLET_MQTT_PORT", &ok);
    return ok && port > 0 && port < 65536 ? port : BuildInfo::mqttPort;
}

void MqttManager::connect()
{
    if (!m_client || m_connected)
        return;
    // A loop still trying an earlier connection starts over with the current account.
    stopLoop();
    const QByteArray user = setting(SettingsKeys::mqttUserName, kFallbackUser);
    const QByteArray password = setting(SettingsKeys::mqttPassword, kFallbackPassword);
    mosquitto_username_pw_set(m_client, user.constData(), password.constData());
    const int rc =
        mosquitto_connect_async(m_client, brokerHost().toUtf8().constData(), brokerPort(), kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        qCInfo(lcSync) << "notice broker not reached yet:" << mosquitto_strerror(rc);
    // The loop reconnects by itself, also after a first attempt that failed.
    m_loopRunning = mosquitto_loop_start(m_client) == MOSQ_ERR_SUCCESS;
}

void MqttManager::subscribe()
{
    if (!m_client)
        return;
    const QByteArray topic =
        (QStringLiteral("user_id_") + ConfigureManager::sharedInstance().loginUserId()).toUtf8();
    mosquitto_subscribe(m_client, nullptr, topic.constData(), kQos);
}

void MqttManager::close()
{
    if (!m_client)
        return;
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
    if (rc == 0)
        manager->m_connected = true;
    else
        qCInfo(lcSync) << "notice broker refused the connection:" << mosquitto_connack_string(rc);
    // Whatever the answer, subscribe (a refused connection makes that fail quietly).
    dispatchMain(&manager->m_context, [manager] { manager->subscribe(); });
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
    dispatchMain(&manager->m_context, [manager, payload] { manager->handleMessage(payload); });
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
        MqttNotices::applyDelete(data);
    else if (protocol.startsWith(QLatin1String("history_clear")))
        MqttNotices::applyClear(data);
    else if (protocol.startsWith(QLatin1String("history_upload_file")))
        MqttNotices::applyUploadFile(data);
}
