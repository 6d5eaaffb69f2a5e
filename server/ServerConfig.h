#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

// Everything the sync service reads from its data folder: "config.json" (settings a self-hoster
// may edit) and "secrets.json" (keys written once at the first start, readable by the owner only).
struct ServerConfig {
    QString dataDir;

    QString listenHost = QStringLiteral("127.0.0.1");
    int port = 8888;
    // Base URL the clients use, e.g. "https://sync.example.org/api"; empty means: from the
    // request's Host header. Password-reset mails quote only this address, never a Host header,
    // so without it no reset mail is sent.
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
    // Failed sign-ins at one account (from any address) before attempts at it are slowed.
    int accountFailuresBeforeDelay = 10;
    // While a limit is in force, the one attempt let through waits this long first.
    int loginSlowSeconds = 3;
    int maxPullRecords = 1000;
    // A pull page ends past this many bytes of records (at least one record is sent).
    qint64 maxPullBytes = 4 * 1024 * 1024;
    // What one account may keep (0: no limit): its records, and the bytes of their contents
    // and payloads.
    qint64 accountMaxRecords = 100000;
    qint64 accountMaxBytes = 2LL * 1024 * 1024 * 1024;
    // Whether new accounts can be made, and how many per source address and hour.
    bool registrationOpen = true;
    int registrationsPerAddressPerHour = 5;
    // Password-reset mails per source address and per account each hour.
    int resetsPerAddressPerHour = 5;
    int resetsPerAccountPerHour = 2;

    // The HTTP front: connections per source address and in all, the time a client has to send
    // a request's head, and the size of that head.
    int maxConnectionsPerAddress = 32;
    // Load balancers in front of the service (numeric addresses): for a request from one of them,
    // the last address of its X-Forwarded-For header is the client's, for every per-address limit.
    QStringList trustedProxies;
    int maxConnections = 1024;
    int requestHeadSeconds = 10;
    int idleSeconds = 30;
    int maxHeaderCount = 64;
    int maxHeaderBytes = 16 * 1024;
    // Requests of one address refused as bad (4xx) in a second before its further requests are
    // held until the next second.
    int badRequestsPerAddressPerSecond = 50;
    // Request log lines written per second at most; the rest are counted and reported.
    int requestLogPerSecond = 50;
    // Command that receives a whole mail on its standard input; empty: mails go to "outbox".
    QString sendmail;

    // Served by "/init/" and "/check_version/".
    QString homepage;
    QString developerPage;
    QString latestVersion;
    QString updateInfo;
    QString downloadUrl;

    // Where the records live: empty for SQLite in the data folder, or a PostgreSQL URL
    // ("postgresql://USER@HOST:PORT/DB"); QUILLET_SERVER_STORAGE, when set, wins over it.
    QString storage;
    // Where payload objects live: empty for the data folder's "objects", "database" for the
    // PostgreSQL database, or a folder (shared by the service's processes).
    QString objects;

    // From secrets.json.
    QByteArray signingKey;
    QString mqttServicePassword;

    QString databasePath() const;
    bool usesPostgres() const;
    bool objectsInDatabase() const { return objects == QLatin1String("database"); }
    QString objectsDir() const;
    QString pluginsDir() const;
    QString outboxDir() const;
    QString brokerDir() const;
    bool tlsEnabled() const { return !tlsCert.isEmpty() && !tlsKey.isEmpty(); }
    QString brokerTlsBind() const { return mqttTlsBind.isEmpty() ? listenHost : mqttTlsBind; }

    // Reads the settings from `settingsPath` (empty: config.json in `dataDir`) and secrets.json
    // from `dataDir`, writing either with defaults (and fresh random secrets) when it is missing.
    // Fails with a message on an unreadable or invalid file, or when secrets.json cannot be
    // written. The settings file is rewritten (completely or not at all) only when a setting is
    // missing from it and the file may be written by this user; a file that may not (a packaged
    // /etc/quillet-sync-server/config.json) is used as it is, missing settings at their defaults.
    static std::optional<ServerConfig> loadOrCreate(const QString &dataDir, const QString &settingsPath,
                                                    QString *error);

private:
    void readSettings(const QJsonObject &object);
    QJsonObject settingsObject() const;
};
