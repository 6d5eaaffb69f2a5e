#include "ServerHarness.h"

#include "PgTestServer.h"

#include "support/Database.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtDebug>

#include <csignal>
#include <cstdio>
#include <cstdlib>
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

QString ServerHarness::secondOrigin() const
{
    return originOn(m_secondPort);
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
    if (options.postgres || qEnvironmentVariable("QUILLET_TEST_STORAGE") == u"postgresql"_s) {
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
    // The ports are chosen free, then let go before the broker and the service bind them;
    // another test running beside this one may take one in between. The set-up is then tried
    // again on other ports.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!setUp())
            return false;
        if (launchBroker() && brokerListens() && startService())
            return true;
        stop();
        qWarning() << "the broker or the service could not listen; trying other ports";
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

bool ServerHarness::setUp()
{
    m_mqttPort = freePort();
    m_mqttTlsPort = m_options.brokerTls ? freePort() : 0;
    m_servicePort = freePort();
    // Cheap password hashing keeps the suite fast; the algorithm is the same. Every test device
    // comes from 127.0.0.1: the per-address limits of accounts and mails are lifted. Reset mails
    // name the service by its public address, so the service's port is fixed beforehand.
    QJsonObject config{{u"argon2_mem_kib"_s, 8192},
                       {u"argon2_ops"_s, 1},
                       {u"registrations_per_address_per_hour"_s, 100000},
                       {u"resets_per_address_per_hour"_s, 100000},
                       {u"resets_per_account_per_hour"_s, 100000},
                       {u"bad_requests_per_address_per_second"_s, 100000},
                       {u"public_url"_s, QString(originOn(m_servicePort) + u"/api"_s)}};
    if (!m_storageUrl.isEmpty())
        config.insert(u"storage"_s, m_storageUrl);
    for (auto it = m_options.config.begin(); it != m_options.config.end(); ++it)
        config.insert(it.key(), it.value());
    if (!writeConfig(config))
        return false;
    QProcess setup;
    setup.start(program(), QStringList{u"--data-dir"_s, dataDir(), u"--setup-only"_s} + portArguments());
    if (!setup.waitForFinished(kStartTimeoutMs) || setup.exitCode() != 0) {
        qWarning() << "setup failed:" << setup.readAllStandardError();
        return false;
    }
    return true;
}
bool ServerHarness::launchBroker()
{
    m_broker = std::make_unique<QProcess>();
    endWithParent(*m_broker);
    QStringList arguments{u"-c"_s, dataDir() + u"/broker/mosquitto.conf"_s};
    if (m_options.brokerLog)
        arguments << u"-v"_s;
    m_broker->setStandardErrorFile(m_dir.filePath(u"broker.log"_s), QIODevice::Append);
    m_broker->start(u"mosquitto"_s, arguments);
    return m_broker->waitForStarted(kStartTimeoutMs);
}

bool ServerHarness::startService()
{
    m_apiUrl = launchService(m_service, m_servicePort);
    return !m_apiUrl.isEmpty();
}

bool ServerHarness::startSecondService(int port)
{
    // Its "api:" line names the public address, the first service's: its own port is chosen here.
    for (int attempt = 0; attempt < (port > 0 ? 1 : 3); ++attempt) {
        m_secondPort = port > 0 ? port : freePort();
        if (!launchService(m_second, m_secondPort).isEmpty())
            return true;
    }
    return false;
}

QString ServerHarness::originOn(int port) const
{
    return u"%1://127.0.0.1:%2"_s.arg(m_options.tlsCert.isEmpty() ? u"http"_s : u"https"_s).arg(port);
}

QString ServerHarness::launchService(std::unique_ptr<QProcess> &service, int port)
{
    service = std::make_unique<QProcess>();
    endWithParent(*service);
    service->setStandardErrorFile(m_dir.filePath(u"service.log"_s), QIODevice::Append);
    service->start(program(), QStringList{u"--data-dir"_s, dataDir(), u"--port"_s, QString::number(port)}
                                  + portArguments());
    // With a TLS listener, its own "mqtt:" line follows, in the form the devices type.
    const QByteArray mqtt = m_mqttTlsPort == 0
                                ? QByteArray("mqtt: ")
                                : "mqtt: mqtts://127.0.0.1:" + QByteArray::number(m_mqttTlsPort) + " (TLS)";
    static const QRegularExpression api(u"^api: (\\S+)$"_s, QRegularExpression::MultilineOption);
    QByteArray out;
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!deadline.hasExpired() && service->state() != QProcess::NotRunning) {
        service->waitForReadyRead(200);
        out += service->readAllStandardOutput();
        const QRegularExpressionMatch url = api.match(QString::fromUtf8(out));
        if (url.hasMatch() && out.contains(mqtt))
            return url.captured(1);
    }
    qWarning() << "the service did not start:" << out << serviceLog();
    return {};
}

bool ServerHarness::restartService(const QJsonObject &settings)
{
    if (m_service) {
        m_service->terminate();
        m_service->waitForFinished(kStartTimeoutMs);
    }
    if (!settings.isEmpty()) {
        QFile file(dataDir() + u"/config.json"_s);
        QJsonObject config =
            file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
        for (auto it = settings.begin(); it != settings.end(); ++it)
            config.insert(it.key(), it.value());
        if (!writeConfig(config))
            return false;
    }
    return startService();
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
    QDirIterator files(dataDir(), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        const QString path = file.fileName().mid(dataDir().size());
        if ((path.startsWith(u"/objects/"_s) || path.startsWith(u"/sync.sqlite"_s))
            && file.open(QIODevice::ReadOnly))
            bytes += file.readAll();
    }
    return bytes;
}

std::optional<QStringList> ServerHarness::storageQuery(const QString &sql) const
{
    if (!m_storageUrl.isEmpty())
        return PgTestServer::query(m_storageUrl, sql);
    Database db(dataDir() + u"/sync.sqlite"_s);
    SqlQuery rows = db.query(sql.toUtf8().constData());
    QStringList first;
    while (rows.next())
        first.append(rows.text(0).value_or(QString()));
    if (rows.failed())
        return std::nullopt;
    return first;
}
