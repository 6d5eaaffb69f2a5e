#include "BrokerSetup.h"

#include "DurableFile.h"
#include "Secrets.h"
#include "ServerLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageAuthenticationCode>
#include <QPasswordDigestor>

#include <mutex>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace {
// mosquitto's "$7$" password entries: PBKDF2-HMAC-SHA512 with a 12-byte salt and 64-byte hash.
constexpr int kPbkdf2Iterations = 101;
std::mutex g_passwdMutex;
} // namespace

BrokerSetup::BrokerSetup(QString dir, QByteArray userKey, QString servicePassword)
    : m_dir(std::move(dir))
    , m_userKey(std::move(userKey))
    , m_servicePassword(std::move(servicePassword))
{ }

QString BrokerSetup::configPath() const
{
    return m_dir + QStringLiteral("/mosquitto.conf");
}

QString BrokerSetup::mqttPasswordFor(qint64 userId) const
{
    const QByteArray mac = QMessageAuthenticationCode::hash("mqtt:" + QByteArray::number(userId), m_userKey,
                                                            QCryptographicHash::Sha256);
    return QString::fromLatin1(mac.toHex().left(40));
}

QString BrokerSetup::passwordLine(const QString &user, const QString &password)
{
    const QByteArray salt = QByteArray::fromHex(Secrets::randomHex(12).toLatin1());
    const QByteArray hash = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha512, password.toUtf8(),
                                                               salt, kPbkdf2Iterations, 64);
    return user + QStringLiteral(":$7$") + QString::number(kPbkdf2Iterations) + QLatin1Char('$')
           + QString::fromLatin1(salt.toBase64()) + QLatin1Char('$') + QString::fromLatin1(hash.toBase64())
           + QLatin1Char('\n');
}

bool BrokerSetup::writeFile(const QString &name, const QByteArray &content) const
{
    return DurableFile::replace(m_dir + QLatin1Char('/') + name, content, 0600) == DurableFile::Result::Ok;
}

QByteArray BrokerSetup::passwordFile(const QList<qint64> &userIds) const
{
    QString passwd = passwordLine(QLatin1String(kServiceUser), m_servicePassword);
    for (qint64 id : userIds) {
        auto line = m_lines.find(id);
        if (line == m_lines.end())
            line = m_lines.insert(id, passwordLine(QString::number(id), mqttPasswordFor(id)));
        passwd += *line;
    }
    return passwd.toUtf8();
}

QString BrokerSetup::listenerLines(const Listener &listener)
{
    QString lines = QStringLiteral("listener ") + QString::number(listener.port) + QLatin1Char(' ')
                    + listener.bind + QLatin1Char('\n');
    if (!listener.certFile.isEmpty()) {
        // mosquitto does not start in this folder: the paths are made absolute.
        lines += QStringLiteral("certfile ") + QFileInfo(listener.certFile).absoluteFilePath()
                 + QStringLiteral("\nkeyfile ") + QFileInfo(listener.keyFile).absoluteFilePath()
                 + QLatin1Char('\n');
    }
    return lines;
}

bool BrokerSetup::write(const Listener &plain, const std::optional<Listener> &tls,
                        const QList<qint64> &userIds) const
{
    // A line break in a setting would add lines of its own to mosquitto.conf.
    for (const Listener *listener : {&plain, tls ? &*tls : nullptr}) {
        if (!listener)
            continue;
        for (const QString &value : {listener->bind, listener->certFile, listener->keyFile}) {
            if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
                return false;
        }
    }
    std::lock_guard lock(g_passwdMutex);
    QString conf =
        QStringLiteral("# Written by quillet-sync-server at every start; change config.json instead.\n"
                       "per_listener_settings false\n"
                       "allow_anonymous false\n"
                       "persistence false\n"
                       "log_dest stderr\n"
                       "log_type error\n"
                       "log_type warning\n");
    conf += QStringLiteral("password_file ") + m_dir + QStringLiteral("/passwd\n");
    conf += QStringLiteral("acl_file ") + m_dir + QStringLiteral("/acl\n");
    conf += QStringLiteral("pid_file ") + m_dir + QStringLiteral("/mosquitto.pid\n");
    // Started by root (a container, a test machine), mosquitto would switch to its own user and
    // could no longer read these files; it keeps the user that starts it instead.
    if (const passwd *pw = getpwuid(geteuid()))
        conf += QStringLiteral("user ") + QString::fromLocal8Bit(pw->pw_name) + QLatin1Char('\n');
    conf += listenerLines(plain);
    if (tls)
        conf += listenerLines(*tls);

    const QString acl =
        QStringLiteral("# Devices read their user's topic and whether the service is up; only the "
                       "service publishes.\n"
                       "pattern read user_id_%u\n"
                       "pattern read quillet_service\n"
                       "user ")
        + QLatin1String(kServiceUser) + QStringLiteral("\ntopic write #\n");

    return writeFile(QStringLiteral("passwd"), passwordFile(userIds))
           && writeFile(QStringLiteral("acl"), acl.toUtf8())
           && writeFile(QStringLiteral("mosquitto.conf"), conf.toUtf8());
}

bool BrokerSetup::writeUsers(const QList<qint64> &userIds) const
{
    {
        std::lock_guard lock(g_passwdMutex);
        if (!writeFile(QStringLiteral("passwd"), passwordFile(userIds)))
            return false;
    }
    if (!reloadBroker())
        qCWarning(lcServer) << "the broker did not reload its users; new users connect after its restart";
    return true;
}

bool BrokerSetup::reloadBroker() const
{
    QFile pidFile(m_dir + QStringLiteral("/mosquitto.pid"));
    if (!pidFile.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const qint64 pid = pidFile.readAll().trimmed().toLongLong(&ok);
    if (!ok || pid <= 1)
        return false;
    // A pid file left by a killed broker may name an unrelated process by now.
    QFile comm(QStringLiteral("/proc/") + QString::number(pid) + QStringLiteral("/comm"));
    if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "mosquitto")
        return false;
    // mosquitto rereads its password and access files on SIGHUP.
    return ::kill(static_cast<pid_t>(pid), SIGHUP) == 0;
}
