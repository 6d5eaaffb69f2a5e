#pragma once

#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

struct mosquitto;

// The broker's accounts, managed through mosquitto's dynamic security plugin over MQTT (topic
// "$CONTROL/dynamic-security/v1") with the service's own account, so the broker may run on
// another machine and any number of service processes may manage it at once.
//
// Each signed-in device has an account of its own: user name "u<user id>-<device token>", a
// random password made at each sign-in, its client id bound to the device token (no other
// account can connect under it, so none can push the device off), and two roles: one that
// reads the service's status and one per user that reads only "user_id_<user id>". Every
// operation may be repeated: creating an account that exists updates it, removing one that
// is gone succeeds.
class BrokerAccounts final
{
public:
    using Device = std::pair<qint64, QString>; // user id, device token

    BrokerAccounts(const QString &host, int port, const QString &user, const QString &password,
                   int timeoutMs = 5000);
    ~BrokerAccounts();
    BrokerAccounts(const BrokerAccounts &) = delete;
    BrokerAccounts &operator=(const BrokerAccounts &) = delete;

    // Starts connecting on the library's network thread, which retries until the broker is up.
    bool start();
    // True once the broker has accepted the service and its answers can be read, waiting at most
    // `timeoutMs`.
    bool waitReady(int timeoutMs);
    // Makes sure the roles every account needs exist and that only what a role allows is
    // allowed (a broker set up by hand may lack them).
    bool prepare();

    // Creates or updates the device's account with a new random password; that password, or
    // none when the broker did not confirm it in time.
    std::optional<QString> addDevice(qint64 userId, const QString &device);
    // Removes these devices' accounts (which ends their connections).
    bool removeDevices(const QList<Device> &devices);
    // Removes every account of the user, as the broker lists them.
    bool removeUser(qint64 userId);

    static QString userNameFor(qint64 userId, const QString &device);

private:
    // Sends the commands in one request; the plugin's responses in order, or none when the
    // broker is away or did not answer within the timeout.
    std::optional<QJsonArray> run(const QJsonArray &commands);
    // True when every response succeeded, errors named in `harmless` aside.
    bool removeAccounts(const QStringList &userNames);
    static bool succeeded(const std::optional<QJsonArray> &responses, const QStringList &harmless = {});

    static void onConnect(mosquitto *client, void *self, int rc);
    static void onSubscribe(mosquitto *client, void *self, int mid, int count, const int *granted);
    static void onDisconnect(mosquitto *client, void *self, int rc);
    static void onMessage(mosquitto *client, void *self, const struct mosquitto_message *message);

    mosquitto *m_client = nullptr;
    QString m_host;
    int m_port;
    int m_timeoutMs;
    // Tells this process's requests from those of other service processes on the same topic.
    QString m_requestPrefix;
    std::atomic<qint64> m_nextRequest{1};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_ready = false;
    std::map<QString, std::optional<QJsonArray>> m_pending;
};
