#include "BrokerSetup.h"

#include "DurableFile.h"
#include "Secrets.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPasswordDigestor>

#include <pwd.h>
#include <unistd.h>

namespace {
// The plugin's password entries: PBKDF2-HMAC-SHA512, a 12-byte salt and a 64-byte hash.
constexpr int kPbkdf2Iterations = 101;

QJsonObject acl(const char *type, const QString &topic)
{
    return {{QStringLiteral("acltype"), QLatin1String(type)},
            {QStringLiteral("topic"), topic},
            {QStringLiteral("allow"), true}};
}

bool hasLineBreak(const QString &value)
{
    return value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r'));
}
} // namespace

BrokerSetup::BrokerSetup(QString dir, QString servicePassword)
    : m_dir(std::move(dir))
    , m_servicePassword(std::move(servicePassword))
{ }

QString BrokerSetup::configPath() const
{
    return m_dir + QStringLiteral("/mosquitto.conf");
}

QString BrokerSetup::securityPath() const
{
    return m_dir + QStringLiteral("/dynamic-security.json");
}

QString BrokerSetup::pluginPath()
{
    static const QString name = QStringLiteral("mosquitto_dynamic_security.so");
    QStringList candidates;
    for (const QString &lib : {QStringLiteral("/usr/lib"), QStringLiteral("/usr/local/lib")}) {
        candidates << lib + QLatin1Char('/') + name;
        // Debian's multiarch folders (x86_64-linux-gnu, aarch64-linux-gnu, ...).
        for (const QString &arch : QDir(lib).entryList({QStringLiteral("*-linux-gnu*")}, QDir::Dirs))
            candidates << lib + QLatin1Char('/') + arch + QLatin1Char('/') + name;
    }
    for (const QString &path : candidates) {
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
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

QByteArray BrokerSetup::initialSecurity() const
{
    const QByteArray salt = QByteArray::fromHex(Secrets::randomHex(12).toLatin1());
    const QByteArray hash = QPasswordDigestor::deriveKeyPbkdf2(
        QCryptographicHash::Sha512, m_servicePassword.toUtf8(), salt, kPbkdf2Iterations, 64);
    const QString service = QLatin1String(kServiceUser);
    const QString control = QStringLiteral("$CONTROL/dynamic-security/#");
    const QJsonObject client{
        {QStringLiteral("username"), service},
        {QStringLiteral("textName"), QStringLiteral("the Quillet sync service")},
        {QStringLiteral("password"), QString::fromLatin1(hash.toBase64())},
        {QStringLiteral("salt"), QString::fromLatin1(salt.toBase64())},
        {QStringLiteral("iterations"), kPbkdf2Iterations},
        {QStringLiteral("roles"),
         QJsonArray{QJsonObject{{QStringLiteral("rolename"), QLatin1String(kServiceRole)}}}}};
    // The service publishes notices and its status ("#" covers no "$" topic); devices get roles
    // of their own later.
    const QJsonObject role{
        {QStringLiteral("rolename"), QLatin1String(kServiceRole)},
        {QStringLiteral("acls"),
         QJsonArray{acl("publishClientSend", control), acl("publishClientReceive", control),
                    acl("subscribePattern", control), acl("publishClientSend", QStringLiteral("#"))}}};
    // Whatever no role allows is refused, reading included.
    const QJsonObject defaults{{QStringLiteral("publishClientSend"), false},
                               {QStringLiteral("publishClientReceive"), false},
                               {QStringLiteral("subscribe"), false},
                               {QStringLiteral("unsubscribe"), true}};
    return QJsonDocument(QJsonObject{{QStringLiteral("clients"), QJsonArray{client}},
                                     {QStringLiteral("roles"), QJsonArray{role}},
                                     {QStringLiteral("defaultACLAccess"), defaults}})
        .toJson();
}

bool BrokerSetup::write(const Listener &plain, const std::optional<Listener> &tls, QString *error) const
{
    // A line break in a setting would add lines of its own to mosquitto.conf.
    for (const Listener *listener : {&plain, tls ? &*tls : nullptr}) {
        if (listener
            && (hasLineBreak(listener->bind) || hasLineBreak(listener->certFile)
                || hasLineBreak(listener->keyFile) || hasLineBreak(m_dir))) {
            *error = QStringLiteral("a broker setting holds a line break");
            return false;
        }
    }
    const QString plugin = pluginPath();
    if (plugin.isEmpty()) {
        *error = QStringLiteral(
            "mosquitto's dynamic security plugin (mosquitto_dynamic_security.so) is not installed");
        return false;
    }
    QString conf =
        QStringLiteral("# Written by quillet-sync-server --setup-only; change config.json instead.\n"
                       "per_listener_settings false\n"
                       "allow_anonymous false\n"
                       "persistence false\n"
                       "log_dest stderr\n"
                       "log_type error\n"
                       "log_type warning\n");
    // The accounts live in the plugin's JSON, which the broker itself keeps up to date.
    conf += QStringLiteral("plugin ") + plugin + QLatin1Char('\n');
    conf += QStringLiteral("plugin_opt_config_file ") + securityPath() + QLatin1Char('\n');
    // Started by root (a container, a test machine), mosquitto would switch to its own user and
    // could no longer write its JSON here; it keeps the user that starts it instead.
    if (const passwd *pw = getpwuid(geteuid()))
        conf += QStringLiteral("user ") + QString::fromLocal8Bit(pw->pw_name) + QLatin1Char('\n');
    conf += listenerLines(plain);
    if (tls)
        conf += listenerLines(*tls);

    if (!QFileInfo::exists(securityPath())
        && DurableFile::replace(securityPath(), initialSecurity(), 0600) != DurableFile::Result::Ok) {
        *error = QStringLiteral("cannot write ") + securityPath();
        return false;
    }
    QFile current(configPath());
    if (current.open(QIODevice::ReadOnly) && current.readAll() == conf.toUtf8())
        return true;
    if (DurableFile::replace(configPath(), conf.toUtf8(), 0600) != DurableFile::Result::Ok) {
        *error = QStringLiteral("cannot write ") + configPath();
        return false;
    }
    return true;
}
