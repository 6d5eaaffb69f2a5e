#include "LoadSetup.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

// Settings for a load of many devices from one machine: cheap password hashes (sign-in is not
// what is measured), and limits per address that loopback's one address would otherwise hit
// (parallel sign-ins count as failures until they are answered).
QJsonObject loadConfig()
{
    return {{u"argon2_ops"_s, 1},
            {u"argon2_mem_kib"_s, 64},
            {u"registrations_per_address_per_hour"_s, 1000000},
            {u"login_failures_before_delay"_s, 1000000},
            {u"max_connections_per_address"_s, 512},
            {u"max_connections"_s, 2048},
            {u"trusted_proxies"_s, QJsonArray{u"127.0.0.1"_s}}};
}

QString portOf(const QString &origin)
{
    return QString::number(QUrl(origin).port());
}

bool listens(int port)
{
    for (int i = 0; i < 100; ++i) {
        QTcpSocket socket;
        socket.connectToHost(u"127.0.0.1"_s, quint16(port));
        if (socket.waitForConnected(100))
            return true;
        QThread::msleep(50);
    }
    return false;
}

} // namespace

LoadSetup::LoadSetup() = default;

LoadSetup::~LoadSetup()
{
    if (m_proxy) {
        m_proxy->terminate();
        m_proxy->waitForFinished(5000);
    }
}

int LoadSetup::mqttPort() const
{
    return m_server ? m_server->mqttPort() : 0;
}

bool LoadSetup::start(const QString &name)
{
    ServerHarness::Options options;
    options.config = loadConfig();
    if (name != "sqlite"_L1 && name != "pg"_L1 && name != "pg2"_L1) {
        m_error = u"unknown set-up "_s + name;
        return false;
    }
    if (name.startsWith("pg"_L1)) {
        // Past one machine: records and payloads in PostgreSQL, nothing in a local folder.
        options.postgres = true;
        options.config.insert(u"objects"_s, u"database"_s);
    }
    m_server = std::make_unique<ServerHarness>();
    if (!m_server->start(options)) {
        m_error = u"the service did not start"_s;
        return false;
    }
    m_origin = m_server->origin();
    if (name == "pg2"_L1)
        return startProxy();
    return true;
}

// The example HAProxy configuration with this run's ports in place of the example's.
bool LoadSetup::startProxy()
{
    if (!m_server->startSecondService()) {
        m_error = u"the second service process did not start"_s;
        return false;
    }
    QFile example(QStringLiteral(QUILLET_SOURCE_DIR "/server/examples/haproxy.cfg"));
    if (!example.open(QIODevice::ReadOnly)) {
        m_error = u"cannot read "_s + example.fileName();
        return false;
    }
    const int front = ServerHarness::freePort();
    QByteArray config = example.readAll();
    config.replace("127.0.0.1:8888", QByteArray("127.0.0.1:" + QByteArray::number(front)));
    config.replace("127.0.0.1:8881", QByteArray("127.0.0.1:" + portOf(m_server->origin()).toLatin1()));
    config.replace("127.0.0.1:8882", QByteArray("127.0.0.1:" + portOf(m_server->secondOrigin()).toLatin1()));
    const QString path = m_dir.filePath(u"haproxy.cfg"_s);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size()) {
        m_error = u"cannot write "_s + path;
        return false;
    }
    file.close();
    m_proxy = std::make_unique<QProcess>();
    m_proxy->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_proxy->start(u"haproxy"_s, {u"-db"_s, u"-f"_s, path});
    if (!m_proxy->waitForStarted() || !listens(front)) {
        m_error = u"HAProxy did not start (is the haproxy package installed?)"_s;
        return false;
    }
    m_origin = u"http://127.0.0.1:%1"_s.arg(front);
    return true;
}
