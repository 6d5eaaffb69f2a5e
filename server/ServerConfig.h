#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// Everything the sync service reads from its data folder: "config.json" (settings a self-hoster
// may edit) and "secrets.json" (keys written once at the first start, readable by the owner only).
struct ServerConfig {
    QString dataDir;

    QString listenHost = QStringLiteral("127.0.0.1");
    int port = 8888;
    // Base URL the clients use, e.g. "https://sync.example.org/api"; empty means: from the
    // request's Host header.
    QString publicUrl;
    QString tlsCert;
    QString tlsKey;

    // Broker address handed to the clients and used by the service to publish.
    QString mqttHost = QStringLiteral("127.0.0.1");
    int mqttPort = 1883;
    // Address mosquitto listens on.
    QString mqttBind = QStringLiteral("127.0.0.1");
    // A second, TLS listener of the broker for the devices (0: none), with the HTTPS
    // certificate and key; it listens on mqttTlsBind, or on listenHost when that is empty.
    int mqttTlsPort = 0;
    QString mqttTlsBind;

    qint64 tokenLifetimeSeconds = 30LL * 24 * 3600;
    qint64 uploadPolicySeconds = 900;
    quint64 argon2Ops = 2;
    quint64 argon2MemKib = 19 * 1024;
    int loginFailuresBeforeDelay = 5;
    int maxPullRecords = 1000;
    // Command that receives a whole mail on its standard input; empty: mails go to "outbox".
    QString sendmail;

    // Served by "/init/" and "/check_version/".
    QString homepage;
    QString developerPage;
    QString latestVersion;
    QString updateInfo;
    QString downloadUrl;

    // From secrets.json.
    QByteArray signingKey;
    QByteArray mqttUserKey;
    QString mqttServicePassword;

    QString databasePath() const;
    QString objectsDir() const;
    QString pluginsDir() const;
    QString outboxDir() const;
    QString brokerDir() const;
    bool tlsEnabled() const { return !tlsCert.isEmpty() && !tlsKey.isEmpty(); }
    QString brokerTlsBind() const { return mqttTlsBind.isEmpty() ? listenHost : mqttTlsBind; }

    // Reads config.json and secrets.json from `dataDir`, writing either with defaults (and fresh
    // random secrets) when it is missing. Fails with a message on an unreadable or invalid file.
    static std::optional<ServerConfig> loadOrCreate(const QString &dataDir, QString *error);

private:
    void readSettings(const QJsonObject &object);
    QJsonObject settingsObject() const;
};
