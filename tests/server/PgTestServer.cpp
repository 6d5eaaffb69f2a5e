#include "PgTestServer.h"

#include "ServerHarness.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QtDebug>

#include <libpq-fe.h>

#include <cstdio>
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

    ~Cluster()
    {
        if (postgres)
            pclose(postgres);
    }
};

QString shellQuoted(const QString &text)
{
    return u"'"_s + QString(text).replace(u"'"_s, u"'\\''"_s) + u"'"_s;
}

QString adminUrl(int port, const QString &database = u"postgres"_s)
{
    return u"postgresql://quillet@127.0.0.1:%1/%2"_s.arg(port).arg(database);
}

bool startCluster(Cluster &cluster)
{
    const QStringList versions =
        QDir(u"/usr/lib/postgresql"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    const QString bin = u"/usr/lib/postgresql/%1/bin/"_s.arg(versions.value(versions.size() - 1));
    if (!QFile::exists(bin + u"initdb"_s)) {
        cluster.error = u"PostgreSQL is not installed; scripts/install-deps.sh installs it"_s;
        return false;
    }
    // postgres never runs as root: the cluster belongs to the "postgres" user then.
    QString asUser;
    if (::geteuid() == 0) {
        const passwd *user = ::getpwnam("postgres");
        if (!user
            || ::chown(QFile::encodeName(cluster.dir.path()).constData(), user->pw_uid, user->pw_gid) != 0) {
            cluster.error = u"running as root, and the cluster cannot be handed to a \"postgres\" user"_s;
            return false;
        }
        asUser = u"setpriv --reuid=postgres --regid=postgres --clear-groups -- "_s;
    }
    const QString data = shellQuoted(cluster.dir.path() + u"/data"_s);
    const QString log = cluster.dir.path() + u"/postgres.log"_s;
    QProcess initdb;
    initdb.start(u"sh"_s,
                 {u"-c"_s, asUser + shellQuoted(bin + u"initdb"_s) + u" -D "_s + data
                               + u" -U quillet -A trust -E UTF8 --locale=C --no-sync --no-instructions"_s});
    if (!initdb.waitForFinished(60000) || initdb.exitCode() != 0) {
        cluster.error = u"initdb failed: "_s + QString::fromLocal8Bit(initdb.readAllStandardError());
        return false;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        cluster.port = ServerHarness::freePort();
        // Durability is not what these tests are about: no fsync keeps the suite quick.
        const QString server = shellQuoted(bin + u"postgres"_s) + u" -D "_s + data + u" -p "_s
                               + QString::number(cluster.port)
                               + u" -c listen_addresses=127.0.0.1 -c unix_socket_directories= -c fsync=off"
                                 u" -c synchronous_commit=off -c full_page_writes=off -c shared_buffers=32MB"
                                 u" -c max_connections=200"_s;
        const QString wrapper =
            server + u" 2>>"_s + shellQuoted(log) + u" & pid=$!; read _ignored; kill -INT $pid; wait $pid"_s;
        cluster.postgres = ::popen((asUser + u"sh -c "_s + shellQuoted(wrapper)).toUtf8().constData(), "w");
        const QDeadlineTimer deadline(20000);
        while (cluster.postgres && !deadline.hasExpired()) {
            if (PQping(adminUrl(cluster.port).toUtf8().constData()) == PQPING_OK)
                return true;
            QThread::msleep(50);
        }
        // Another test took the port meanwhile, perhaps: once more on another one.
        if (cluster.postgres)
            pclose(cluster.postgres);
        cluster.postgres = nullptr;
    }
    QFile logFile(log);
    logFile.open(QIODevice::ReadOnly);
    cluster.error = u"postgres did not start: "_s + QString::fromLocal8Bit(logFile.readAll());
    return false;
}

} // namespace

std::optional<QString> PgTestServer::createDatabase(QString *why)
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    // Ended when the process exits (a static's destructor).
    static Cluster cluster;
    static const bool started = startCluster(cluster);
    const QString name = u"harness%1"_s.arg(++cluster.databases);
    if (!started || !query(adminUrl(cluster.port), u"create database "_s + name)) {
        *why = started ? u"cannot create a database"_s : cluster.error;
        return std::nullopt;
    }
    return adminUrl(cluster.port, name);
}

std::optional<QStringList> PgTestServer::query(const QString &url, const QString &sql)
{
    PGconn *conn = PQconnectdb(url.toUtf8().constData());
    PGresult *result = PQstatus(conn) == CONNECTION_OK ? PQexec(conn, sql.toUtf8().constData()) : nullptr;
    std::optional<QStringList> rows;
    if (PQresultStatus(result) == PGRES_TUPLES_OK || PQresultStatus(result) == PGRES_COMMAND_OK) {
        rows.emplace();
        for (int i = 0; i < PQntuples(result); ++i)
            rows->append(QString::fromUtf8(PQgetvalue(result, i, 0)));
    } else {
        qWarning() << "query failed:" << PQerrorMessage(conn);
    }
    PQclear(result);
    PQfinish(conn);
    return rows;
}
