#include "ServerConfig.h"

#include "DurableFile.h"
#include "Secrets.h"
#include "ServerLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

std::optional<QJsonObject> readObject(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read ") + path;
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        *error = path + QStringLiteral(": ") + parseError.errorString();
        return std::nullopt;
    }
    return document.object();
}

bool writeObject(const QString &path, const QJsonObject &object)
{
    return DurableFile::replace(path, QJsonDocument(object).toJson(QJsonDocument::Indented), 0600)
           == DurableFile::Result::Ok;
}

} // namespace

QString ServerConfig::databasePath() const
{
    return dataDir + QStringLiteral("/sync.sqlite");
}

bool ServerConfig::usesPostgres() const
{
    return storage.startsWith(QLatin1String("postgresql://"))
           || storage.startsWith(QLatin1String("postgres://"));
}

QString ServerConfig::objectsDir() const
{
    if (!objects.isEmpty() && !objectsInDatabase())
        return QDir(dataDir).absoluteFilePath(objects);
    return dataDir + QStringLiteral("/objects");
}

QString ServerConfig::pluginsDir() const
{
    return dataDir + QStringLiteral("/plugins");
}

QString ServerConfig::outboxDir() const
{
    return dataDir + QStringLiteral("/outbox");
}

QString ServerConfig::brokerDir() const
{
    return dataDir + QStringLiteral("/broker");
}

void ServerConfig::readSettings(const QJsonObject &o)
{
    listenHost = o.value(QStringLiteral("listen_host")).toString(listenHost);
    port = o.value(QStringLiteral("port")).toInt(port);
    publicUrl = o.value(QStringLiteral("public_url")).toString(publicUrl);
    tlsCert = o.value(QStringLiteral("tls_cert")).toString(tlsCert);
    tlsKey = o.value(QStringLiteral("tls_key")).toString(tlsKey);
    mqttHost = o.value(QStringLiteral("mqtt_host")).toString(mqttHost);
    mqttPort = o.value(QStringLiteral("mqtt_port")).toInt(mqttPort);
    mqttBind = o.value(QStringLiteral("mqtt_bind")).toString(mqttBind);
    mqttTlsPort = o.value(QStringLiteral("mqtt_tls_port")).toInt(mqttTlsPort);
    mqttTlsBind = o.value(QStringLiteral("mqtt_tls_bind")).toString(mqttTlsBind);
    tokenLifetimeSeconds = o.value(QStringLiteral("token_lifetime_seconds")).toInteger(tokenLifetimeSeconds);
    uploadPolicySeconds = o.value(QStringLiteral("upload_policy_seconds")).toInteger(uploadPolicySeconds);
    argon2Ops = static_cast<quint64>(o.value(QStringLiteral("argon2_ops")).toInteger(qint64(argon2Ops)));
    argon2MemKib =
        static_cast<quint64>(o.value(QStringLiteral("argon2_mem_kib")).toInteger(qint64(argon2MemKib)));
    loginFailuresBeforeDelay =
        o.value(QStringLiteral("login_failures_before_delay")).toInt(loginFailuresBeforeDelay);
    accountFailuresBeforeDelay =
        o.value(QStringLiteral("account_failures_before_delay")).toInt(accountFailuresBeforeDelay);
    loginSlowSeconds = o.value(QStringLiteral("login_slow_seconds")).toInt(loginSlowSeconds);
    maxPullRecords = o.value(QStringLiteral("max_pull_records")).toInt(maxPullRecords);
    maxPullBytes = o.value(QStringLiteral("max_pull_bytes")).toInteger(maxPullBytes);
    accountMaxRecords = o.value(QStringLiteral("account_max_records")).toInteger(accountMaxRecords);
    accountMaxBytes = o.value(QStringLiteral("account_max_bytes")).toInteger(accountMaxBytes);
    registrationOpen = o.value(QStringLiteral("registration_open")).toBool(registrationOpen);
    registrationsPerAddressPerHour =
        o.value(QStringLiteral("registrations_per_address_per_hour")).toInt(registrationsPerAddressPerHour);
    resetsPerAddressPerHour =
        o.value(QStringLiteral("resets_per_address_per_hour")).toInt(resetsPerAddressPerHour);
    resetsPerAccountPerHour =
        o.value(QStringLiteral("resets_per_account_per_hour")).toInt(resetsPerAccountPerHour);
    maxConnectionsPerAddress =
        o.value(QStringLiteral("max_connections_per_address")).toInt(maxConnectionsPerAddress);
    maxConnections = o.value(QStringLiteral("max_connections")).toInt(maxConnections);
    if (o.contains(QStringLiteral("trusted_proxies"))) {
        trustedProxies.clear();
        for (const QJsonValue &proxy : o.value(QStringLiteral("trusted_proxies")).toArray())
            trustedProxies.append(proxy.toString());
    }
    requestHeadSeconds = o.value(QStringLiteral("request_head_seconds")).toInt(requestHeadSeconds);
    idleSeconds = o.value(QStringLiteral("idle_seconds")).toInt(idleSeconds);
    maxHeaderCount = o.value(QStringLiteral("max_header_count")).toInt(maxHeaderCount);
    maxHeaderBytes = o.value(QStringLiteral("max_header_bytes")).toInt(maxHeaderBytes);
    requestLogPerSecond = o.value(QStringLiteral("request_log_per_second")).toInt(requestLogPerSecond);
    badRequestsPerAddressPerSecond =
        o.value(QStringLiteral("bad_requests_per_address_per_second")).toInt(badRequestsPerAddressPerSecond);
    sendmail = o.value(QStringLiteral("sendmail")).toString(sendmail);
    homepage = o.value(QStringLiteral("homepage")).toString(homepage);
    developerPage = o.value(QStringLiteral("developer")).toString(developerPage);
    latestVersion = o.value(QStringLiteral("version")).toString(latestVersion);
    updateInfo = o.value(QStringLiteral("update_info")).toString(updateInfo);
    downloadUrl = o.value(QStringLiteral("download_url")).toString(downloadUrl);
    storage = o.value(QStringLiteral("storage")).toString(storage);
    objects = o.value(QStringLiteral("objects")).toString(objects);
}

QJsonObject ServerConfig::settingsObject() const
{
    return QJsonObject{
        {QStringLiteral("listen_host"), listenHost},
        {QStringLiteral("port"), port},
        {QStringLiteral("public_url"), publicUrl},
        {QStringLiteral("tls_cert"), tlsCert},
        {QStringLiteral("tls_key"), tlsKey},
        {QStringLiteral("mqtt_host"), mqttHost},
        {QStringLiteral("mqtt_port"), mqttPort},
        {QStringLiteral("mqtt_bind"), mqttBind},
        {QStringLiteral("mqtt_tls_port"), mqttTlsPort},
        {QStringLiteral("mqtt_tls_bind"), mqttTlsBind},
        {QStringLiteral("token_lifetime_seconds"), tokenLifetimeSeconds},
        {QStringLiteral("upload_policy_seconds"), uploadPolicySeconds},
        {QStringLiteral("argon2_ops"), qint64(argon2Ops)},
        {QStringLiteral("argon2_mem_kib"), qint64(argon2MemKib)},
        {QStringLiteral("login_failures_before_delay"), loginFailuresBeforeDelay},
        {QStringLiteral("account_failures_before_delay"), accountFailuresBeforeDelay},
        {QStringLiteral("login_slow_seconds"), loginSlowSeconds},
        {QStringLiteral("max_pull_records"), maxPullRecords},
        {QStringLiteral("max_pull_bytes"), maxPullBytes},
        {QStringLiteral("account_max_records"), accountMaxRecords},
        {QStringLiteral("account_max_bytes"), accountMaxBytes},
        {QStringLiteral("registration_open"), registrationOpen},
        {QStringLiteral("registrations_per_address_per_hour"), registrationsPerAddressPerHour},
        {QStringLiteral("resets_per_address_per_hour"), resetsPerAddressPerHour},
        {QStringLiteral("resets_per_account_per_hour"), resetsPerAccountPerHour},
        {QStringLiteral("max_connections_per_address"), maxConnectionsPerAddress},
        {QStringLiteral("max_connections"), maxConnections},
        {QStringLiteral("trusted_proxies"), QJsonArray::fromStringList(trustedProxies)},
        {QStringLiteral("request_head_seconds"), requestHeadSeconds},
        {QStringLiteral("idle_seconds"), idleSeconds},
        {QStringLiteral("max_header_count"), maxHeaderCount},
        {QStringLiteral("max_header_bytes"), maxHeaderBytes},
        {QStringLiteral("request_log_per_second"), requestLogPerSecond},
        {QStringLiteral("bad_requests_per_address_per_second"), badRequestsPerAddressPerSecond},
        {QStringLiteral("sendmail"), sendmail},
        {QStringLiteral("homepage"), homepage},
        {QStringLiteral("developer"), developerPage},
        {QStringLiteral("version"), latestVersion},
        {QStringLiteral("update_info"), updateInfo},
        {QStringLiteral("download_url"), downloadUrl},
        {QStringLiteral("storage"), storage},
        {QStringLiteral("objects"), objects},
    };
}

std::optional<ServerConfig> ServerConfig::loadOrCreate(const QString &dataDir, const QString &configFile,
                                                       QString *error)
{
    ServerConfig config;
    config.dataDir = QDir(dataDir).absolutePath();
    if (!QDir().mkpath(config.dataDir)) {
        *error = QStringLiteral("cannot create ") + config.dataDir;
        return std::nullopt;
    }
    QFile::setPermissions(config.dataDir,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString settingsPath = configFile.isEmpty() ? config.dataDir + QStringLiteral("/config.json")
                                                      : QFileInfo(configFile).absoluteFilePath();
    QJsonObject onDisk;
    if (QFile::exists(settingsPath)) {
        const auto object = readObject(settingsPath, error);
        if (!object)
            return std::nullopt;
        onDisk = *object;
        config.readSettings(onDisk);
    }
    // Written back when a setting is missing, so a self-hoster sees every setting with its
    // current value. The file is replaced whole or not at all: a full disk leaves it as it was,
    // and the service runs with what it read.
    QJsonObject complete = onDisk;
    const QJsonObject settings = config.settingsObject();
    for (auto it = settings.begin(); it != settings.end(); ++it) {
        if (!complete.contains(it.key()))
            complete.insert(it.key(), it.value());
    }
    const QFileInfo settingsFile(settingsPath);
    const bool mayWrite = settingsFile.exists() ? settingsFile.isWritable()
                                                : QFileInfo(settingsFile.absolutePath()).isWritable();
    if (complete != onDisk && !mayWrite)
        qCInfo(lcServer).noquote() << settingsPath
                                   << "is read-only here; missing settings take their defaults";
    else if (complete != onDisk && !writeObject(settingsPath, complete))
        qCWarning(lcServer) << "cannot complete config.json; it is left as it was";

    const QString secretsPath = config.dataDir + QStringLiteral("/secrets.json");
    QJsonObject secrets;
    if (QFile::exists(secretsPath)) {
        const auto object = readObject(secretsPath, error);
        if (!object)
            return std::nullopt;
        secrets = *object;
    }
    bool changed = false;
    for (const char *key : {"signing_key", "mqtt_service_password"}) {
        if (secrets.value(QLatin1String(key)).toString().size() < 32) {
            secrets.insert(QLatin1String(key), Secrets::randomHex(32));
            changed = true;
        }
    }
    if (changed && !writeObject(secretsPath, secrets)) {
        *error = QStringLiteral("cannot write ") + secretsPath;
        return std::nullopt;
    }
    config.signingKey = secrets.value(QStringLiteral("signing_key")).toString().toLatin1();
    config.mqttServicePassword = secrets.value(QStringLiteral("mqtt_service_password")).toString();

    for (const QString &dir :
         {config.objectsDir(), config.pluginsDir(), config.outboxDir(), config.brokerDir()}) {
        if (!QDir().mkpath(dir)) {
            *error = QStringLiteral("cannot create ") + dir;
            return std::nullopt;
        }
    }
    return config;
}
