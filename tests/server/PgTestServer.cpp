#include "PgTestServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QtDebug>

#include <libpq-fe.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

struct Cluster {
    QTemporaryDir dir{QDir::tempPath() + u"/quillet-pg-XXXXXX"_s};
    int port = 0;
    // The wrapper that runs postgres until its standard input closes: pclose at the end, or the
    // kernel closing the pipe when this process dies.
    FILE *postgres = nullptr;
    QString error;
    int databases = 0;
};

Cluster *g_cluster = nullptr;

QString binDir()
{
    const QStringList versions =
        QDir(u"/usr/lib/postgresql"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (auto it = versions.crbegin(); it != versions.crend(); ++it) {
        const QString bin = u"/usr/lib/postgresql/%1/bin"_s.arg(*it);
        if (QFile::exists(bin + u"/postgres"_s) && QFile::exists(bin + u"/initdb"_s))
            return bin;
    }
    return {};
}

QString shellQuoted(const QString &text)
{
    return u"'"_s + QString(text).replace(u"'"_s, u"'\\''"_s) + u"'"_s;
}

QByteArray adminUrl(int port, const QString &database = u"postgres"_s)
{
    return u"postgresql://quillet@127.0.0.1:%1/%2"_s.arg(port).arg(database).toUtf8();
}

void stopCluster()
{
    if (g_cluster && g_cluster->postgres)
        pclose(g_cluster->postgres);
    delete g_cluster;
    g_cluster = nullptr;
}

bool startCluster(Cluster &cluster)
{
    const QString bin = binDir();
    if (bin.isEmpty()) {
        cluster.error = u"PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/postgres); "
                        u"scripts/install-deps.sh installs it"_s;
        return false;
    }
    // postgres never runs as root: the cluster belongs to the "postgres" user then.
    QString asUser;
    if (::geteuid() == 0) {
        const passwd *user = ::getpwnam("postgres");
        if (!user) {
            cluster.error = u"running as root and there is no unprivileged \"postgres\" user"_s;
            return false;
        }
        if (::chown(QFile::encodeName(cluster.dir.path()).constData(), user->pw_uid, user->pw_gid) != 0) {
            cluster.error = u"cannot hand the cluster's folder to postgres"_s;
            return false;
        }
        asUser = u"setpriv --reuid=postgres --regid=postgres --clear-groups -- "_s;
    }
    const QString data = cluster.dir.path() + u"/data"_s;
    const QString log = cluster.dir.path() + u"/postgres.log"_s;
    QProcess initdb;
    initdb.start(u"sh"_s,
                 {u"-c"_s, asUser + shellQuoted(bin + u"/initdb"_s) + u" -D "_s + shellQuoted(data)
                               + u" -U quillet -A trust -E UTF8 --locale=C --no-sync --no-instructions"_s});
    if (!initdb.waitForFinished(60000) || initdb.exitCode() != 0) {
        cluster.error = u"initdb failed: "_s + QString::fromLocal8Bit(initdb.readAllStandardError());
        return false;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0))
                return false;
            cluster.port = probe.serverPort();
        }
        // Durability is not what these tests are about: no fsync keeps the suite quick.
        const QString server = shellQuoted(bin + u"/postgres"_s) + u" -D "_s + shellQuoted(data) + u" -p "_s
                               + QString::number(cluster.port)
                               + u" -c listen_addresses=127.0.0.1 -c unix_socket_directories= -c fsync=off"
                                 u" -c synchronous_commit=off -c full_page_writes=off -c shared_buffers=32MB"
                                 u" -c max_connections=200"_s;
        const QString wrapper =
            server + u" 2>>"_s + shellQuoted(log) + u" & pid=$!; read _ignored; kill -INT $pid; wait $pid"_s;
        const QByteArray command = (asUser + u"sh -c "_s + shellQuoted(wrapper)).toUtf8();
        cluster.postgres = ::popen(command.constData(), "w");
        if (!cluster.postgres) {
            cluster.error = u"cannot start postgres"_s;
            return false;
        }
        const QByteArray url = adminUrl(cluster.port);
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            if (PQping(url.constData()) == PQPING_OK)
                return true;
            QThread::msleep(50);
        }
        // Another test took the port meanwhile, perhaps: once more on another one.
        pclose(cluster.postgres);
        cluster.postgres = nullptr;
    }
    QFile logFile(log);
    cluster.error =
        u"postgres did not start: "_s
        + QString::fromLocal8Bit(logFile.open(QIODevice::ReadOnly) ? logFile.readAll() : QByteArray());
    return false;
}

struct Connection {
    explicit Connection(const QByteArray &url)
        : conn(PQconnectdb(url.constData()))
    { }
    ~Connection() { PQfinish(conn); }
    PGconn *conn;
};

} // namespace

std::optional<QString> PgTestServer::createDatabase(QString *why)
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    if (!g_cluster) {
        g_cluster = new Cluster;
        if (!startCluster(*g_cluster))
            g_cluster->port = 0;
        std::atexit(stopCluster);
    }
    if (g_cluster->port == 0) {
        *why = g_cluster->error;
        return std::nullopt;
    }
    const QString name = u"harness%1"_s.arg(++g_cluster->databases);
    if (!query(QString::fromUtf8(adminUrl(g_cluster->port)), u"create database "_s + name)) {
        *why = u"cannot create a database"_s;
        return std::nullopt;
    }
    return QString::fromUtf8(adminUrl(g_cluster->port, name));
}

std::optional<QStringList> PgTestServer::query(const QString &url, const QString &sql,
                                               const QVariantList &params)
{
    Connection c(url.toUtf8());
    if (PQstatus(c.conn) != CONNECTION_OK)
        return std::nullopt;
    QString numbered;
    int n = 0;
    for (const QChar ch : sql)
        numbered += ch == u'?' ? u"$"_s + QString::number(++n) : QString(ch);
    std::vector<QByteArray> values;
    std::vector<const char *> pointers;
    for (const QVariant &param : params)
        values.push_back(param.toString().toUtf8());
    for (const QByteArray &value : values)
        pointers.push_back(value.constData());
    PGresult *result = PQexecParams(c.conn, numbered.toUtf8().constData(), int(pointers.size()), nullptr,
                                    pointers.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    std::optional<QStringList> rows;
    if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
        rows.emplace();
        for (int i = 0; i < PQntuples(result); ++i)
            rows->append(QString::fromUtf8(PQgetvalue(result, i, 0)));
    } else {
        qWarning() << "query failed:" << PQresultErrorMessage(result);
    }
    PQclear(result);
    return rows;
}
