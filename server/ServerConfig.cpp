#include "ServerConfig.h"

#include "Secrets.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

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

bool writeObject(const QString &path, const QJsonObject &object, QFileDevice::Permissions permissions)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(object).toJson(QJsonDocument::Indented));
    if (!file.commit())
        return false;
    return QFile::setPermissions(path, permissions);
}

} // namespace

QString ServerConfig::databasePath() const
{
    return dataDir + QStringLiteral("/sync.sqlite");
}

QString ServerConfig::objectsDir() const
{
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
    maxPullRecords = o.value(QStringLiteral("max_pull_records")).toInt(maxPullRecords);
    sendmail = o.value(QStringLiteral("sendmail")).toString(sendmail);
    homepage = o.value(QStringLiteral("homepage")).toString(homepage);
    developerPage = o.value(QStringLiteral("developer")).toString(developerPage);
    latestVersion = o.value(QStringLiteral("version")).toString(latestVersion);
    updateInfo = o.value(QStringLiteral("update_info")).toString(updateInfo);
    downloadUrl = o.value(QStringLiteral("download_url")).toString(downloadUrl);
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
        {QStringLiteral("max_pull_records"), maxPullRecords},
        {QStringLiteral("sendmail"), sendmail},
        {QStringLiteral("homepage"), homepage},
        {QStringLiteral("developer"), developerPage},
        {QStringLiteral("version"), latestVersion},
        {QStringLiteral("update_info"), updateInfo},
        {QStringLiteral("download_url"), downloadUrl},
    };
}

std::optional<ServerConfig> ServerConfig::loadOrCreate(const QString &dataDir, QString *error)
{
    ServerConfig config;
    config.dataDir = QDir(dataDir).absolutePath();
    if (!QDir().mkpath(config.dataDir)) {
        *error = QStringLiteral("cannot create ") + config.dataDir;
        return std::nullopt;
    }
    QFile::setPermissions(config.dataDir,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString settingsPath = config.dataDir + QStringLiteral("/config.json");
    if (QFile::exists(settingsPath)) {
        const auto object = readObject(settingsPath, error);
        if (!object)
            return std::nullopt;
        config.readSettings(*object);
    }
    // Written back every time, so a self-hoster sees every setting with its current value.
    if (!writeObject(settingsPath, config.settingsObject(),
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        *error = QStringLiteral("cannot write ") + settingsPath;
        return std::nullopt;
    }

    const QString secretsPath = config.dataDir + QStringLiteral("/secrets.json");
    QJsonObject secrets;
    if (QFile::exists(secretsPath)) {
        const auto object = readObject(secretsPath, error);
        if (!object)
            return std::nullopt;
        secrets = *object;
    }
    bool changed = false;
    for (const char *key : {"signing_key", "mqtt_user_key", "mqtt_service_password"}) {
        if (secrets.value(QLatin1String(key)).toString().size() < 32) {
            secrets.insert(QLatin1String(key), Secrets::randomHex(32));
            changed = true;
        }
    }
    if (changed && !writeObject(secretsPath, secrets, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        *error = QStringLiteral("cannot write ") + secretsPath;
        return std::nullopt;
    }
    config.signingKey = secrets.value(QStringLiteral("signing_key")).toString().toLatin1();
    config.mqttUserKey = secrets.value(QStringLiteral("mqtt_user_key")).toString().toLatin1();
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
