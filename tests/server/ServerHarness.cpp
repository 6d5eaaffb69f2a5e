#include "ServerHarness.h"

#include "PgTestServer.h"

#include "support/Database.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtDebug>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <signal.h>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace {
constexpr int kStartTimeoutMs = 20000;

// A test that crashes takes its service and broker with it.
void endWithParent(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}
} // namespace

ServerHarness::ServerHarness() = default;

ServerHarness::~ServerHarness()
{
    stop();
}

QString ServerHarness::program()
{
    return QStringLiteral(QUILLET_SYNC_SERVER);
}

int ServerHarness::freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QString ServerHarness::origin() const
{
    return m_apiUrl.chopped(4);
}

qint64 ServerHarness::servicePid() const
{
    return m_service ? m_service->processId() : 0;
}

QByteArray ServerHarness::serviceLog()
{
    QFile file(m_dir.filePath(u"service.log"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray ServerHarness::brokerLog()
{
    QFile file(m_dir.filePath(u"broker.log"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList ServerHarness::portArguments() const
{
    QStringList arguments{u"--mqtt-port"_s, QString::number(m_mqttPort)};
    if (m_mqttTlsPort > 0)
        arguments << u"--mqtt-tls-port"_s << QString::number(m_mqttTlsPort);
    if (!m_options.tlsCert.isEmpty())
        arguments << u"--tls-cert"_s << m_options.tlsCert << u"--tls-key"_s << m_options.tlsKey;
    return arguments;
}

bool ServerHarness::start(const Options &options)
{
    // The service refuses an oversized body before reading it and closes the connection; a
    // test client still writing it must see an error, not die of SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    m_options = options;
    // The broker's port is chosen free, then let go before the broker binds it; another test
    // running beside this one may take it in between. The broker then ends at once, and the
    // set-up is tried again on another port.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!startBroker())
            return false;
        if (brokerListens())
            return startServiceOnFreePort();
        qWarning() << "the broker could not listen on" << m_mqttPort << "; trying another port";
    }
    return false;
}

bool ServerHarness::brokerListens()
{
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!deadline.hasExpired()) {
        if (m_broker->state() == QProcess::NotRunning)
            return false;
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(m_mqttPort));
        // Connected, and still running: the listener is this broker's, not another test's.
        if (probe.waitForConnected(200))
            return !m_broker->waitForFinished(100);
        m_broker->waitForFinished(50);
    }
    return false;
}

bool ServerHarness::startBroker()
{
    m_mqttPort = freePort();
    m_mqttTlsPort = m_options.brokerTls ? freePort() : 0;
    QJsonObject config = m_options.config;
    if (m_storageUrl.isEmpty()
        && (m_options.postgres || qEnvironmentVariable("QUILLET_TEST_STORAGE") == u"postgresql"_s)) {
        QString why;
        const auto url = PgTestServer::createDatabase(&why);
        if (!url) {
            // ctest reports the test as skipped (SKIP_RETURN_CODE), with this line in its output.
            std::fprintf(stderr, "SKIP: the PostgreSQL tests need a PostgreSQL server: %s\n",
                         qPrintable(why));
            std::exit(77);
        }
        m_storageUrl = *url;
    }
    if (!m_storageUrl.isEmpty())
        config.insert(u"storage"_s, m_storageUrl);
    if (!config.contains(u"argon2_mem_kib"_s)) {
        // Cheap password hashing keeps the suite fast; the algorithm is the same.
        config.insert(u"argon2_mem_kib"_s, 8192);
        config.insert(u"argon2_ops"_s, 1);
    }
    // Every test device comes from 127.0.0.1: the per-address limits of accounts and mails are
    // lifted unless a test sets them.
    for (const QString &key : {u"registrations_per_address_per_hour"_s, u"resets_per_address_per_hour"_s,
                               u"resets_per_account_per_hour"_s, u"bad_requests_per_address_per_second"_s}) {
        if (!config.contains(key))
            config.insert(key, 100000);
    }
    // Reset mails name the service by its public address only; the service gets a fixed port so
    // that the address is known before it starts.
    m_servicePort = 0;
    if (!config.contains(u"public_url"_s)) {
        m_servicePort = freePort();
        config.insert(u"public_url"_s,
                      u"%1://127.0.0.1:%2/api"_s.arg(m_options.tlsCert.isEmpty() ? u"http"_s : u"https"_s)
                          .arg(m_servicePort));
    }
    if (!writeConfig(config))
        return false;
    QProcess setup;
    setup.start(program(), QStringList{u"--data-dir"_s, dataDir(), u"--setup-only"_s} + portArguments());
    if (!setup.waitForFinished(kStartTimeoutMs) || setup.exitCode() != 0) {
        qWarning() << "setup failed:" << setup.readAllStandardError();
        return false;
    }
    return launchBroker();
}

bool ServerHarness::launchBroker()
{
    m_broker = std::make_unique<QProcess>();
    endWithParent(*m_broker);
    QStringList arguments{u"-c"_s, dataDir() + u"/broker/mosquitto.conf"_s};
    if (m_options.brokerLog) {
        arguments << u"-v"_s;
        m_broker->setStandardErrorFile(m_dir.filePath(u"broker.log"_s), QIODevice::Append);
    } else {
        m_broker->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    m_broker->start(u"mosquitto"_s, arguments);
    return m_broker->waitForStarted(kStartTimeoutMs);
}

bool ServerHarness::startServiceOnFreePort()
{
    // The service's port, too, is chosen before the service binds it (its public address names
    // it): when another test took it meanwhile, the service is started on another one.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startService())
            return true;
        if (m_servicePort == 0)
            return false;
        QJsonObject config = readConfig();
        m_servicePort = freePort();
        const QString url = config.value(u"public_url"_s).toString().section(u':', 0, 1) + u':'
                            + QString::number(m_servicePort) + u"/api"_s;
        config.insert(u"public_url"_s, url);
        if (!writeConfig(config))
            return false;
        qWarning() << "the service could not listen; trying port" << m_servicePort;
    }
    return false;
}

bool ServerHarness::startService()
{
    return launchService(m_service, m_servicePort, &m_apiUrl);
}

bool ServerHarness::startSecondService()
{
    // Its "api:" line names the public address, the first service's: its own port is chosen here.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_secondPort = freePort();
        if (launchService(m_second, m_secondPort, &m_secondApiUrl))
            return true;
    }
    return false;
}

QString ServerHarness::secondOrigin() const
{
    return u"%1://127.0.0.1:%2"_s.arg(m_options.tlsCert.isEmpty() ? u"http"_s : u"https"_s).arg(m_secondPort);
}

bool ServerHarness::launchService(std::unique_ptr<QProcess> &service, int port, QString *apiUrl)
{
    service = std::make_unique<QProcess>();
    endWithParent(*service);
    service->setStandardErrorFile(m_dir.filePath(u"service.log"_s), QIODevice::Append);
    service->start(program(), QStringList{u"--data-dir"_s, dataDir(), u"--port"_s, QString::number(port)}
                                  + portArguments());
    QByteArray out;
    bool api = false;
    bool mqtt = false;
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!(api && mqtt) && !deadline.hasExpired() && service->state() != QProcess::NotRunning) {
        service->waitForReadyRead(200);
        out += service->readAllStandardOutput();
        for (const QByteArray &line : out.split('\n')) {
            if (line.startsWith("api: ")) {
                *apiUrl = QString::fromUtf8(line.mid(5)).trimmed();
                api = true;
            }
            // With a TLS listener, its own line follows, in the form the devices type.
            if (line.startsWith("mqtt: "))
                mqtt = mqtt || m_mqttTlsPort == 0
                       || line == "mqtt: mqtts://127.0.0.1:" + QByteArray::number(m_mqttTlsPort) + " (TLS)";
        }
    }
    if (!(api && mqtt)) {
        qWarning() << "the service did not start:" << out << serviceLog();
        return false;
    }
    return true;
}

bool ServerHarness::restartService()
{
    if (m_service) {
        m_service->terminate();
        m_service->waitForFinished(kStartTimeoutMs);
    }
    return startService();
}

bool ServerHarness::restartService(const QJsonObject &settings)
{
    QJsonObject config = readConfig();
    for (auto it = settings.begin(); it != settings.end(); ++it)
        config.insert(it.key(), it.value());
    return writeConfig(config) && restartService();
}

QJsonObject ServerHarness::readConfig() const
{
    QFile file(dataDir() + u"/config.json"_s);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

bool ServerHarness::writeConfig(const QJsonObject &config) const
{
    QFile file(dataDir() + u"/config.json"_s);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(QJsonDocument(config).toJson()) > 0;
}

void ServerHarness::killService()
{
    if (!m_service)
        return;
    m_service->kill();
    m_service->waitForFinished(kStartTimeoutMs);
}

void ServerHarness::killBroker()
{
    if (m_broker) {
        m_broker->kill();
        m_broker->waitForFinished(kStartTimeoutMs);
    }
}

bool ServerHarness::restartBroker()
{
    killBroker();
    return launchBroker() && brokerListens();
}

void ServerHarness::stop()
{
    for (auto *process : {m_second.get(), m_service.get(), m_broker.get()}) {
        if (process && process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }
}

QByteArray ServerHarness::storedBytes() const
{
    QByteArray bytes;
    const QDir data(dataDir());
    for (const QString &name : {u"sync.sqlite"_s, u"sync.sqlite-wal"_s}) {
        QFile file(data.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            bytes += file.readAll();
    }
    QDirIterator objects(data.filePath(u"objects"_s), QDir::Files, QDirIterator::Subdirectories);
    while (objects.hasNext()) {
        QFile file(objects.next());
        if (file.open(QIODevice::ReadOnly))
            bytes += file.readAll();
    }
    return bytes;
}

std::optional<QStringList> ServerHarness::storageQuery(const QString &sql, const QVariantList &params) const
{
    if (!m_storageUrl.isEmpty())
        return PgTestServer::query(m_storageUrl, sql, params);
    // The shared wrapper binds a fixed list: the tests pass at most two values.
    const auto value = [&params](int i) {
        const QVariant &param = params.at(i);
        return param.typeId() == QMetaType::QString ? SqlValue(param.toString())
                                                    : SqlValue(param.toLongLong());
    };
    Database db(dataDir() + u"/sync.sqlite"_s);
    const QByteArray text = sql.toUtf8();
    SqlQuery rows = params.isEmpty()     ? db.query(text.constData())
                    : params.size() == 1 ? db.query(text.constData(), {value(0)})
                                         : db.query(text.constData(), {value(0), value(1)});
    QStringList first;
    while (rows.next())
        first.append(rows.text(0).value_or(QString()));
    if (rows.failed())
        return std::nullopt;
    return first;
}
