#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The files of a broker that runs beside the service, in "<data>/broker": mosquitto.conf (the
// dynamic security plugin and the listeners) and, once, the plugin's initial JSON with the
// service's own account. From then on the broker keeps that JSON itself, and the service
// manages accounts through the broker (BrokerAccounts): nothing the service writes for the
// broker changes while it runs.
class BrokerSetup final
{
public:
    // The broker account the service publishes and manages accounts with.
    static constexpr const char *kServiceUser = "quillet-service";
    // Its role: the plugin's control topics, and publishing notices and its status.
    static constexpr const char *kServiceRole = "quillet-service";

    struct Listener {
        QString bind;
        int port = 0;
        // Certificate and key (PEM) of a TLS listener; empty for plain MQTT.
        QString certFile;
        QString keyFile;
    };

    BrokerSetup(QString dir, QString servicePassword);

    QString configPath() const;
    QString securityPath() const;

    // Writes mosquitto.conf when its content changes (the plain listener, which the service
    // publishes through, and optionally a TLS listener for the devices) and the plugin's JSON
    // when it does not exist yet. False with `error` set when a file cannot be written, the
    // plugin is not installed or a value would not fit on one line of mosquitto.conf.
    bool write(const Listener &plain, const std::optional<Listener> &tls, QString *error) const;

    // The installed plugin, or empty.
    static QString pluginPath();

private:
    static QString listenerLines(const Listener &listener);
    QByteArray initialSecurity() const;

    QString m_dir;
    QString m_servicePassword;
};
