#include "BrokerAccounts.h"

#include "ServiceMqttClient.h"

#include "BrokerSetup.h"
#include "Secrets.h"
#include "ServerLog.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <mosquitto.h>

#include <chrono>

namespace {
constexpr char kControlTopic[] = "$CONTROL/dynamic-security/v1";
constexpr char kResponseTopic[] = "$CONTROL/dynamic-security/v1/response";
// Every device reads the service's status through this role.
constexpr char kDeviceRole[] = "quillet-device";
// Deletions go out in requests of this many commands.
constexpr int kBatch = 100;
const QString kRoleExists = QStringLiteral("Role already exists");
const QString kClientExists = QStringLiteral("Client already exists");
const QString kClientMissing = QStringLiteral("Client not found");

QJsonObject readAcl(const char *type, const QString &topic)
{
    return {{QStringLiteral("acltype"), QLatin1String(type)},
            {QStringLiteral("topic"), topic},
            {QStringLiteral("allow"), true}};
}

// A role that may subscribe to one topic and receive what is published on it, nothing else.
QJsonObject readerRole(const QString &name, const QString &topic)
{
    return {{QStringLiteral("command"), QStringLiteral("createRole")},
            {QStringLiteral("rolename"), name},
            {QStringLiteral("acls"),
             QJsonArray{readAcl("subscribeLiteral", topic), readAcl("publishClientReceive", topic)}}};
}

QString userRole(qint64 userId)
{
    return QStringLiteral("quillet-user-") + QString::number(userId);
}

QString userPrefix(qint64 userId)
{
    return QStringLiteral("u") + QString::number(userId) + QLatin1Char('-');
}

QJsonObject deleteClient(const QString &userName)
{
    return {{QStringLiteral("command"), QStringLiteral("deleteClient")},
            {QStringLiteral("username"), userName}};
}
} // namespace

BrokerAccounts::BrokerAccounts(const QString &host, int port, const QString &user, const QString &password,
                               int timeoutMs)
    : m_host(host)
    , m_port(port)
    , m_timeoutMs(timeoutMs)
    , m_requestPrefix(Secrets::randomHex(8) + QLatin1Char('-'))
{
    m_client = ServiceMqttClient::create(user, password, this);
    if (!m_client)
        return;
    mosquitto_connect_callback_set(m_client, &BrokerAccounts::onConnect);
    mosquitto_subscribe_callback_set(m_client, &BrokerAccounts::onSubscribe);
    mosquitto_disconnect_callback_set(m_client, &BrokerAccounts::onDisconnect);
    mosquitto_message_callback_set(m_client, &BrokerAccounts::onMessage);
}

BrokerAccounts::~BrokerAccounts()
{
    ServiceMqttClient::destroy(m_client);
}

bool BrokerAccounts::start()
{
    if (!m_client)
        return false;
    if (mosquitto_connect_async(m_client, m_host.toUtf8().constData(), m_port, 30) != MOSQ_ERR_SUCCESS)
        qCInfo(lcServer) << "broker not reachable yet; retrying";
    return mosquitto_loop_start(m_client) == MOSQ_ERR_SUCCESS;
}

void BrokerAccounts::onConnect(mosquitto *client, void *, int rc)
{
    if (rc != 0) {
        qCWarning(lcServer) << "the broker refused the service's account manager:"
                            << mosquitto_connack_string(rc);
        return;
    }
    // Answers are read once the subscription is acknowledged (onSubscribe).
    mosquitto_subscribe(client, nullptr, kResponseTopic, 1);
}

void BrokerAccounts::onSubscribe(mosquitto *, void *self, int, int count, const int *granted)
{
    auto *accounts = static_cast<BrokerAccounts *>(self);
    const bool granted1 = count == 1 && granted[0] <= 2;
    if (!granted1)
        qCWarning(lcServer) << "the broker does not let the service read the account manager's answers";
    std::lock_guard lock(accounts->m_mutex);
    accounts->m_ready = granted1;
    accounts->m_changed.notify_all();
}

void BrokerAccounts::onDisconnect(mosquitto *, void *self, int)
{
    auto *accounts = static_cast<BrokerAccounts *>(self);
    std::lock_guard lock(accounts->m_mutex);
    accounts->m_ready = false;
    accounts->m_changed.notify_all();
}

void BrokerAccounts::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *accounts = static_cast<BrokerAccounts *>(self);
    const QJsonArray responses =
        QJsonDocument::fromJson(QByteArray(static_cast<const char *>(message->payload), message->payloadlen))
            .object()
            .value(QStringLiteral("responses"))
            .toArray();
    if (responses.isEmpty())
        return;
    const QString id = responses.first().toObject().value(QStringLiteral("correlationData")).toString();
    std::lock_guard lock(accounts->m_mutex);
    // Answers to other service processes' requests come here too; they are not waited for.
    auto pending = accounts->m_pending.find(id);
    if (pending == accounts->m_pending.end())
        return;
    pending->second = responses;
    accounts->m_changed.notify_all();
}

bool BrokerAccounts::waitReady(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_ready; });
}

std::optional<QJsonArray> BrokerAccounts::run(const QJsonArray &commands)
{
    const QString id = m_requestPrefix + QString::number(m_nextRequest++);
    QJsonArray tagged;
    for (const QJsonValue &command : commands) {
        QJsonObject object = command.toObject();
        object.insert(QStringLiteral("correlationData"), id);
        tagged.append(object);
    }
    const QByteArray payload =
        QJsonDocument(QJsonObject{{QStringLiteral("commands"), tagged}}).toJson(QJsonDocument::Compact);
    std::unique_lock lock(m_mutex);
    // A broker that is away fails the request at once rather than after the timeout.
    if (!m_ready)
        return std::nullopt;
    m_pending.emplace(id, std::nullopt);
    const int rc = mosquitto_publish(m_client, nullptr, kControlTopic, int(payload.size()),
                                     payload.constData(), 1, false);
    if (rc == MOSQ_ERR_SUCCESS) {
        m_changed.wait_for(lock, std::chrono::milliseconds(m_timeoutMs),
                           [this, &id] { return m_pending.at(id).has_value() || !m_ready; });
    }
    const std::optional<QJsonArray> responses = m_pending.at(id);
    m_pending.erase(id);
    if (!responses)
        qCWarning(lcServer) << "the broker did not answer the account manager in time";
    return responses;
}

bool BrokerAccounts::succeeded(const std::optional<QJsonArray> &responses, const QStringList &harmless)
{
    if (!responses)
        return false;
    for (const QJsonValue &response : *responses) {
        const QString error = response.toObject().value(QStringLiteral("error")).toString();
        if (!error.isEmpty() && !harmless.contains(error)) {
            qCWarning(lcServer).noquote()
                << "the broker refused" << response.toObject().value(QStringLiteral("command")).toString()
                << QStringLiteral("(%1)").arg(error);
            return false;
        }
    }
    return true;
}

bool BrokerAccounts::prepare()
{
    const auto denied = [](const char *type) {
        return QJsonObject{{QStringLiteral("acltype"), QLatin1String(type)},
                           {QStringLiteral("allow"), false}};
    };
    const QString service = QLatin1String(BrokerSetup::kServiceRole);
    const QString serviceUser = QLatin1String(BrokerSetup::kServiceUser);
    const QJsonArray commands{
        readerRole(QLatin1String(kDeviceRole), QStringLiteral("quillet_service")),
        QJsonObject{
            {QStringLiteral("command"), QStringLiteral("setDefaultACLAccess")},
            {QStringLiteral("acls"),
             QJsonArray{denied("publishClientSend"), denied("publishClientReceive"), denied("subscribe")}}},
        // A broker set up with `mosquitto_ctrl dynsec init` gives its administrator only the
        // plugin's topics: the service's role adds publishing notices and its status.
        QJsonObject{{QStringLiteral("command"), QStringLiteral("createRole")},
                    {QStringLiteral("rolename"), service},
                    {QStringLiteral("acls"),
                     QJsonArray{QJsonObject{{QStringLiteral("acltype"), QStringLiteral("publishClientSend")},
                                            {QStringLiteral("topic"), QStringLiteral("#")},
                                            {QStringLiteral("allow"), true}}}}},
        QJsonObject{{QStringLiteral("command"), QStringLiteral("getClient")},
                    {QStringLiteral("username"), serviceUser}}};
    const auto responses = run(commands);
    if (!succeeded(responses, {kRoleExists}))
        return false;
    const QJsonArray roles = responses->last()
                                 .toObject()
                                 .value(QStringLiteral("data"))
                                 .toObject()
                                 .value(QStringLiteral("client"))
                                 .toObject()
                                 .value(QStringLiteral("roles"))
                                 .toArray();
    for (const QJsonValue &role : roles) {
        if (role.toObject().value(QStringLiteral("rolename")).toString() == service)
            return true;
    }
    // Adding a role the client has already is an error of the plugin's: it is added only when
    // missing.
    return succeeded(run({QJsonObject{{QStringLiteral("command"), QStringLiteral("addClientRole")},
                                      {QStringLiteral("username"), serviceUser},
                                      {QStringLiteral("rolename"), service}}}));
}

QString BrokerAccounts::userNameFor(qint64 userId, const QString &device)
{
    return userPrefix(userId) + device;
}

std::optional<QString> BrokerAccounts::addDevice(qint64 userId, const QString &device)
{
    const QString password = Secrets::randomHex(16);
    QJsonObject account{{QStringLiteral("username"), userNameFor(userId, device)},
                        {QStringLiteral("password"), password},
                        {QStringLiteral("clientid"), device},
                        {QStringLiteral("roles"),
                         QJsonArray{QJsonObject{{QStringLiteral("rolename"), QLatin1String(kDeviceRole)}},
                                    QJsonObject{{QStringLiteral("rolename"), userRole(userId)}}}}};
    QJsonObject create = account;
    create.insert(QStringLiteral("command"), QStringLiteral("createClient"));
    // The device signed in before (here or at another service process): its account takes the
    // new password.
    QJsonObject update = account;
    update.insert(QStringLiteral("command"), QStringLiteral("modifyClient"));
    const QJsonArray commands{
        readerRole(userRole(userId), QStringLiteral("user_id_") + QString::number(userId)), create, update};
    if (!succeeded(run(commands), {kRoleExists, kClientExists}))
        return std::nullopt;
    return password;
}

bool BrokerAccounts::removeAccounts(const QStringList &userNames)
{
    for (qsizetype first = 0; first < userNames.size(); first += kBatch) {
        QJsonArray commands;
        for (const QString &name : userNames.mid(first, kBatch))
            commands.append(deleteClient(name));
        if (!succeeded(run(commands), {kClientMissing}))
            return false;
    }
    return true;
}

bool BrokerAccounts::removeDevices(const QList<Device> &devices)
{
    QStringList names;
    for (const Device &device : devices)
        names.append(userNameFor(device.first, device.second));
    return removeAccounts(names);
}

bool BrokerAccounts::removeUser(qint64 userId)
{
    const auto listed = run({QJsonObject{{QStringLiteral("command"), QStringLiteral("listClients")}}});
    if (!succeeded(listed))
        return false;
    const QJsonArray clients = listed->first()
                                   .toObject()
                                   .value(QStringLiteral("data"))
                                   .toObject()
                                   .value(QStringLiteral("clients"))
                                   .toArray();
    QStringList names;
    for (const QJsonValue &client : clients) {
        if (client.toString().startsWith(userPrefix(userId)))
            names.append(client.toString());
    }
    return removeAccounts(names);
}
