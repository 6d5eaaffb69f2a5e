#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The mosquitto broker's configuration, written by the service into "<data>/broker": the broker
// accepts only known users; the service alone may publish; a user's devices (user name = the
// user id) may read only their own topic "user_id_<id>". Each user's broker password is derived
// from a secret of the service, so it never has to be stored.
class BrokerSetup final
{
public:
    static constexpr const char *kServiceUser = "quillet-service";

    BrokerSetup(QString dir, QByteArray userKey, QString servicePassword);

    QString configPath() const;
    QString mqttPasswordFor(qint64 userId) const;

    // Writes mosquitto.conf, acl and passwd (all users in `userIds`).
    bool write(const QString &bindHost, int port, const QList<qint64> &userIds) const;
    // Adds a user to the password file and asks a running broker to reload it.
    bool addUser(qint64 userId) const;

private:
    static QString passwordLine(const QString &user, const QString &password);
    bool writeFile(const QString &name, const QByteArray &content) const;
    bool reloadBroker() const;

    QString m_dir;
    QByteArray m_userKey;
    QString m_servicePassword;
};
