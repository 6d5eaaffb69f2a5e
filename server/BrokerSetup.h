#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// The mosquitto broker's configuration, written by the service into "<data>/broker": the broker
// accepts only known users; the service alone may publish; a user's devices (user name = the
// user id) may read only their own topic "user_id_<id>". Each user's broker password is derived
// from a secret of the service, so it never has to be stored.
class BrokerSetup final
{
public:
    static constexpr const char *kServiceUser = "quillet-service";

    struct Listener {
        QString bind;
        int port = 0;
        // Certificate and key (PEM) of a TLS listener; empty for plain MQTT.
        QString certFile;
        QString keyFile;
    };

    BrokerSetup(QString dir, QByteArray userKey, QString servicePassword);

    QString configPath() const;
    QString mqttPasswordFor(qint64 userId) const;

    // Writes mosquitto.conf, acl and passwd (all users in `userIds`): the plain listener, which
    // the service publishes through, and optionally a TLS listener for the devices. False when
    // a file cannot be written or a value would not fit on one line of mosquitto.conf.
    bool write(const Listener &plain, const std::optional<Listener> &tls, const QList<qint64> &userIds) const;
    // Rewrites the password file with exactly the users in `userIds` (the database's, never
    // what the file held) and asks a running broker to reload it. False when the file cannot be
    // replaced; the old one then stays.
    bool writeUsers(const QList<qint64> &userIds) const;
    // Asks a running broker to reread its files (SIGHUP); false when none is running.
    bool reloadBroker() const;

private:
    static QString listenerLines(const Listener &listener);
    static QString passwordLine(const QString &user, const QString &password);
    QByteArray passwordFile(const QList<qint64> &userIds) const;
    bool writeFile(const QString &name, const QByteArray &content) const;

    QString m_dir;
    QByteArray m_userKey;
    QString m_servicePassword;
    // Each user's hashed line, made once: rewriting the file for a new user hashes only that
    // user's password. Guarded by the password file's lock.
    mutable QHash<qint64, QString> m_lines;
};
