#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <optional>

// A real quillet-sync-server process and the real mosquitto broker it configures, both on
// 127.0.0.1 with free ports, over a temporary data folder. Both are stopped with the harness.
// With QUILLET_TEST_STORAGE=postgresql the service keeps its records in a fresh database of a
// real PostgreSQL server (PgTestServer); where none can be started, the test process ends as
// skipped (exit code 77) with the reason.
class ServerHarness final
{
public:
    struct Options {
        QJsonObject config = {}; // settings written into config.json before the first start
        QString tlsCert = QString();
        QString tlsKey = QString();
        // A second broker listener with TLS (tlsCert / tlsKey) on another free port.
        bool brokerTls = false;
        // The broker logs every connection (mosquitto -v) into brokerLog().
        bool brokerLog = false;
        // The service's data folder (a small file system, say); empty: a temporary folder.
        QString dataDir = QString();
        // PostgreSQL storage whatever QUILLET_TEST_STORAGE says.
        bool postgres = false;
    };

    ~ServerHarness();

    // Writes the configuration, starts the broker and the service and waits for the lines
    // "api: URL" and "mqtt: HOST:PORT" (and "mqtt: mqtts://..." with a TLS broker). False
    // (with the logs printed) when either fails.
    bool start(const Options &options);
    bool start() { return start(Options()); }
    // Starts the service again over the same data folder and broker, with these settings (the
    // version it offers, its pages, ...) written over those of config.json first.
    bool restartService(const QJsonObject &settings = {});
    // A second service process over the same data folder, storage and broker, on `port` or, by
    // default, on a free port of its own (secondOrigin()).
    bool startSecondService(int port = 0);
    QString secondOrigin() const;
    // Ends the service at once, as a crash would (SIGKILL).
    void killService();
    // Ends the broker at once (SIGKILL); restartBroker starts it again on the same port (true
    // once it listens again).
    void killBroker();
    bool restartBroker();
    void stop();

    QString dataDir() const { return m_options.dataDir.isEmpty() ? m_dir.path() : m_options.dataDir; }
    QString apiUrl() const { return m_apiUrl; }
    // "http://127.0.0.1:PORT" or "https://..." without the "/api" path.
    QString origin() const;
    int mqttPort() const { return m_mqttPort; }
    // Every byte the service keeps about its users: its database files and stored objects.
    QByteArray storedBytes() const;
    // The TLS listener's port; 0 without Options::brokerTls.
    int mqttTlsPort() const { return m_mqttTlsPort; }
    QByteArray brokerLog();
    // Everything the service wrote to its diagnostic log so far.
    QByteArray serviceLog();
    qint64 servicePid() const;
    bool usesPostgres() const { return !m_storageUrl.isEmpty(); }
    // Runs one statement on the service's database: the first column of each row as text; none
    // when it fails.
    std::optional<QStringList> storageQuery(const QString &sql) const;

    static int freePort();
    static QString program();

private:
    // Chooses the ports, writes config.json and lets the service write the broker's files.
    bool setUp();
    bool launchBroker();
    bool brokerListens();
    bool startService();
    // Starts a service process on `port`: the API URL it announces, empty when it did not start.
    QString launchService(std::unique_ptr<QProcess> &service, int port);
    QStringList portArguments() const;
    QString originOn(int port) const;
    bool writeConfig(const QJsonObject &config) const;

    QTemporaryDir m_dir;
    Options m_options;
    std::unique_ptr<QProcess> m_broker;
    std::unique_ptr<QProcess> m_service;
    std::unique_ptr<QProcess> m_second;
    QString m_apiUrl;
    QString m_storageUrl;
    int m_mqttPort = 0;
    int m_servicePort = 0;
    int m_secondPort = 0;
    int m_mqttTlsPort = 0;
};
