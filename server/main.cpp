// quillet-sync-server: the self-hostable sync service of Quillet.

#include "BrokerAccounts.h"
#include "BrokerSetup.h"
#include "HttpFront.h"
#include "MosquittoNotifier.h"
#include "Secrets.h"
#include "ServerConfig.h"
#include "ServerLog.h"
#include "StorageSetup.h"
#include "SyncService.h"

#include "support/Md5.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <malloc.h>
#include <pthread.h>
#include <thread>

namespace {

void printLine(const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

QString defaultDataDir()
{
    const QString env = qEnvironmentVariable("QUILLET_SERVER_DIR");
    if (!env.isEmpty())
        return env;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/quillet-server");
}

// How long the service waits for the broker when it must reach it before going on.
constexpr int kBrokerWaitMs = 10000;

BrokerAccounts brokerAccounts(const ServerConfig &config)
{
    return BrokerAccounts(config.mqttHost, config.mqttPort, QLatin1String(BrokerSetup::kServiceUser),
                          config.mqttServicePassword);
}

int setPassword(SyncStorage &storage, const ServerConfig &config, const QString &email)
{
    QTextStream in(stdin);
    std::fputs("New password: ", stderr);
    const QString password = in.readLine();
    if (password.isEmpty())
        return 1;
    // Devices send the MD5 of the password; the stored hash is made from that value.
    const QString hash =
        Secrets::hashPassword(md5_hex(password).toLatin1(), {config.argon2Ops, config.argon2MemKib * 1024});
    const auto user = storage.findUser(email.toLower());
    if (hash.isEmpty() || !user || !storage.setPasswordHash(email.toLower(), hash)) {
        std::fputs("no such user\n", stderr);
        return 1;
    }
    // The sign-ins are over; so are the broker accounts of the user's devices, whose passwords
    // a lost device may still hold. The broker lists them, so a second run finishes the job.
    BrokerAccounts accounts = brokerAccounts(config);
    if (!accounts.start() || !accounts.waitReady(kBrokerWaitMs) || !accounts.removeUser(user->id)) {
        std::fputs("password changed, but the broker cannot be reached: the devices' broker accounts "
                   "remain; run this again once the broker runs\n",
                   stderr);
        return 1;
    }
    std::fputs("password changed; the user's devices must sign in again\n", stderr);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // SIGINT and SIGTERM are taken by a thread of their own (below), in every thread.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Replies of megabytes are made on many worker threads; with an allocator arena per thread,
    // the memory each gives back stays with its arena. A few shared arenas keep the service's
    // memory near what it is using.
    mallopt(M_ARENA_MAX, 2);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillet-sync-server"));
    // Every log line says when it happened (QT_MESSAGE_PATTERN, when set, still wins).
    qSetMessagePattern(
        QStringLiteral("%{time yyyy-MM-dd HH:mm:ss.zzz t} %{if-category}%{category}: %{endif}%{message}"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The Quillet sync service."));
    parser.addHelpOption();
    const QCommandLineOption dataDirOption(QStringLiteral("data-dir"), QStringLiteral("Data folder."),
                                           QStringLiteral("dir"), defaultDataDir());
    const QCommandLineOption configOption(
        QStringLiteral("config"), QStringLiteral("Settings file (default: config.json in the data folder)."),
        QStringLiteral("file"), qEnvironmentVariable("QUILLET_SERVER_CONFIG"));
    const QCommandLineOption hostOption(QStringLiteral("host"), QStringLiteral("Address to listen on."),
                                        QStringLiteral("host"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("HTTP port (0: any free port)."),
                                        QStringLiteral("port"), qEnvironmentVariable("QUILLET_SERVER_PORT"));
    const QCommandLineOption mqttPortOption(QStringLiteral("mqtt-port"), QStringLiteral("Broker port."),
                                            QStringLiteral("port"),
                                            qEnvironmentVariable("QUILLET_SERVER_MQTT_PORT"));
    const QCommandLineOption mqttTlsPortOption(
        QStringLiteral("mqtt-tls-port"),
        QStringLiteral("Port of the broker's TLS listener for the devices (needs --tls-cert and --tls-key)."),
        QStringLiteral("port"));
    const QCommandLineOption certOption(
        QStringLiteral("tls-cert"), QStringLiteral("Certificate (PEM) for HTTPS."), QStringLiteral("file"));
    const QCommandLineOption keyOption(
        QStringLiteral("tls-key"), QStringLiteral("Private key (PEM) for HTTPS."), QStringLiteral("file"));
    const QCommandLineOption setupOption(
        QStringLiteral("setup-only"),
        QStringLiteral("Write the configuration and the broker's files, then exit."));
    const QCommandLineOption passwordOption(
        QStringLiteral("set-password"), QStringLiteral("Set a user's password (read from standard input)."),
        QStringLiteral("email"));
    parser.addOptions({dataDirOption, configOption, hostOption, portOption, mqttPortOption, mqttTlsPortOption,
                       certOption, keyOption, setupOption, passwordOption});
    parser.process(app);

    if (!Secrets::initialise()) {
        qCCritical(lcServer) << "libsodium cannot be initialised";
        return 1;
    }
    QString error;
    auto loaded = ServerConfig::loadOrCreate(parser.value(dataDirOption), parser.value(configOption), &error);
    if (!loaded) {
        qCCritical(lcServer).noquote() << error;
        return 1;
    }
    ServerConfig config = *loaded;
    if (parser.isSet(hostOption))
        config.listenHost = parser.value(hostOption);
    if (!parser.value(portOption).isEmpty())
        config.port = parser.value(portOption).toInt();
    if (!parser.value(mqttPortOption).isEmpty())
        config.mqttPort = parser.value(mqttPortOption).toInt();
    if (parser.isSet(mqttTlsPortOption))
        config.mqttTlsPort = parser.value(mqttTlsPortOption).toInt();
    if (parser.isSet(certOption))
        config.tlsCert = parser.value(certOption);
    if (parser.isSet(keyOption))
        config.tlsKey = parser.value(keyOption);

    // The environment names the storage of a service whose processes share it.
    if (const QString storage = qEnvironmentVariable("QUILLET_SERVER_STORAGE"); !storage.isEmpty())
        config.storage = storage;
    auto opened = StorageSetup::open(config);
    if (!opened)
        return 1;
    SyncStorage &storage = *opened->storage;
    if (parser.isSet(passwordOption))
        return setPassword(storage, config, parser.value(passwordOption));

    std::optional<BrokerSetup::Listener> tlsListener;
    if (config.mqttTlsPort > 0) {
        if (!config.tlsEnabled()) {
            qCCritical(lcServer) << "the broker's TLS listener needs tls_cert and tls_key";
            return 1;
        }
        tlsListener =
            BrokerSetup::Listener{config.brokerTlsBind(), config.mqttTlsPort, config.tlsCert, config.tlsKey};
    }
    // The broker's files are made by the set-up step only: a running service writes nothing for
    // the broker, which may as well run on another machine.
    if (parser.isSet(setupOption)) {
        BrokerSetup broker(config.brokerDir(), config.mqttServicePassword);
        if (!broker.write({config.mqttBind, config.mqttPort, {}, {}}, tlsListener, &error)) {
            qCCritical(lcServer).noquote() << error;
            return 1;
        }
        printLine(QStringLiteral("broker: ") + broker.configPath());
        return 0;
    }

    MosquittoNotifier notifier(config.mqttHost, config.mqttPort, QLatin1String(BrokerSetup::kServiceUser),
                               config.mqttServicePassword);
    BrokerAccounts accounts = brokerAccounts(config);
    SyncService service(config, storage, *opened->objects, notifier, &accounts, *opened->limits);
    HttpFront front(config, service);
    if (!front.isValid()) {
        qCCritical(lcServer) << "cannot use the TLS certificate or key";
        return 1;
    }
    const int port = front.bind();
    if (port <= 0) {
        qCCritical(lcServer) << "cannot listen on" << config.listenHost << config.port;
        return 1;
    }

    std::thread signalWaiter([&front, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        front.stop();
    });
    accounts.start();
    std::atomic<bool> stopping{false};
    // The devices reach the TLS listener under the service's own host name, which its
    // certificate names.
    QString devicesBroker;
    if (tlsListener) {
        QUrl address;
        address.setScheme(QStringLiteral("mqtts"));
        address.setHost(QUrl(front.apiUrl(port)).host());
        address.setPort(config.mqttTlsPort);
        devicesBroker = address.toString();
    }
    std::thread brokerWatcher([&notifier, &accounts, &config, &stopping, &devicesBroker] {
        // The broker may start after the service; its line is printed once the service is in.
        for (int waited = 1; !stopping && !accounts.waitReady(1000); ++waited) {
            if (waited % 10 == 0)
                qCWarning(lcServer) << "waiting for the broker at" << config.mqttHost << config.mqttPort;
        }
        if (stopping)
            return;
        if (!accounts.prepare())
            qCWarning(lcServer) << "cannot set up the roles of the broker's accounts";
        // Notices and the service's status go out once the service may publish them.
        notifier.start();
        for (int waited = 1; !stopping && !notifier.waitConnected(1000); ++waited) {
            if (waited % 10 == 0)
                qCWarning(lcServer) << "waiting for the broker at" << config.mqttHost << config.mqttPort;
        }
        if (stopping)
            return;
        printLine(QStringLiteral("mqtt: ") + config.mqttHost + QLatin1Char(':')
                  + QString::number(config.mqttPort));
        if (!devicesBroker.isEmpty())
            printLine(QStringLiteral("mqtt: ") + devicesBroker + QStringLiteral(" (TLS)"));
    });

    printLine(QStringLiteral("api: ") + front.apiUrl(port));
    const bool served = front.serve();
    // Unblocks the signal thread when serving ended for another reason.
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    stopping = true;
    brokerWatcher.join();
    return served ? 0 : 1;
}
