// The Debian packages installed on this machine as a user installs them: the installed service
// started as its systemd unit starts it (its command lines, user and environment; only the
// ports are free ones) stores a client's record and payload as its own user; `quillet
// --version` runs; the packages purge without anything of theirs left running. Needs root and
// the packages that scripts/package.sh builds; skips otherwise.
#include "ServerHarness.h"
#include "SyncClient.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 120000;
const QString kUnit = u"/lib/systemd/system/quillet-sync-server.service"_s;
const QString kDataDir = u"/var/lib/quillet-sync-server"_s;

// Runs a command to its end; its exit code, or -1 when it could not run or took too long.
int run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DEBIAN_FRONTEND"_s, u"noninteractive"_s);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(kWaitMs))
        return -1;
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// The values of one key of the unit's [Service] section, in order.
QStringList unitValues(const QString &unit, const QString &key)
{
    QStringList values;
    for (const QString &line : unit.split(u'\n')) {
        if (line.startsWith(key + u'='))
            values.append(line.mid(key.size() + 1));
    }
    return values;
}

bool processesOf(const QString &user)
{
    return run(u"pgrep"_s, {u"-u"_s, user}) == 0;
}

} // namespace

class TestPackages final : public QObject
{
    Q_OBJECT

private:
    QStringList m_packages;
    QProcess m_service;

    void stopService()
    {
        if (m_service.state() == QProcess::NotRunning)
            return;
        // setsid made the service's process group; the broker beside it goes too, as with the
        // unit's KillMode=control-group.
        ::kill(-pid_t(m_service.processId()), SIGTERM);
        if (!m_service.waitForFinished(10000)) {
            ::kill(-pid_t(m_service.processId()), SIGKILL);
            m_service.waitForFinished(10000);
        }
    }

private slots:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("installing packages needs root");
        const QDir folder(QStringLiteral(QUILLET_PACKAGE_DIR));
        for (const QString &name : {u"quillet_*.deb"_s, u"quillet-sync-server_*.deb"_s}) {
            const QStringList found = folder.entryList({name}, QDir::Files);
            if (found.size() != 1)
                QSKIP(qPrintable(u"no packages in "_s + folder.path() + u": run scripts/package.sh"_s));
            m_packages.append(folder.filePath(found.first()));
        }
        if (run(u"dpkg-query"_s, {u"-W"_s, u"quillet"_s}) == 0
            || run(u"dpkg-query"_s, {u"-W"_s, u"quillet-sync-server"_s}) == 0)
            QSKIP("Quillet's packages are installed on this machine already; they are left alone");

        QByteArray output;
        const int installed =
            run(u"apt-get"_s, QStringList{u"install"_s, u"-y"_s, u"--no-install-recommends"_s} + m_packages,
                &output);
        QVERIFY2(installed == 0, output.constData());
    }

    void cleanupTestCase()
    {
        if (m_packages.isEmpty())
            return;
        stopService();
        QByteArray output;
        QCOMPARE(run(u"apt-get"_s, {u"purge"_s, u"-y"_s, u"quillet"_s, u"quillet-sync-server"_s}, &output),
                 0);
        QVERIFY(!processesOf(u"quillet"_s));
        QVERIFY(!QFile::exists(u"/usr/bin/quillet"_s));
        QVERIFY(!QFile::exists(u"/usr/bin/quillet-sync-server"_s));
        QVERIFY(!QFile::exists(kUnit));
        QVERIFY(!QFileInfo::exists(kDataDir));
    }

    void programsAreInstalledWithTheirFiles()
    {
        QByteArray output;
        QCOMPARE(run(u"/usr/bin/quillet"_s, {u"--version"_s}, &output), 0);
        QCOMPARE(output.trimmed(), QByteArray("quillet ") + QUILLET_VERSION);
        QVERIFY(
            !QDir(u"/usr/share/quillet/plugins"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());

        // The service's user, its data folder (its own) and its settings (readable by it only).
        const passwd *user = getpwnam("quillet");
        QVERIFY(user);
        struct stat data {
        };
        QCOMPARE(stat(QFile::encodeName(kDataDir).constData(), &data), 0);
        QCOMPARE(data.st_uid, user->pw_uid);
        QCOMPARE(data.st_mode & 0777, mode_t(0700));
        struct stat config {
        };
        QCOMPARE(stat("/etc/quillet-sync-server/config.json", &config), 0);
        QCOMPARE(config.st_mode & 0007, mode_t(0));
    }

    void installedServiceAnswersAClient()
    {
        QFile unitFile(kUnit);
        QVERIFY(unitFile.open(QIODevice::ReadOnly));
        const QString unit = QString::fromUtf8(unitFile.readAll());
        const QString user = unitValues(unit, u"User"_s).value(0);
        const QString before = unitValues(unit, u"ExecStartPre"_s).value(0);
        const QString start = unitValues(unit, u"ExecStart"_s).value(0);
        QVERIFY(!user.isEmpty() && !before.isEmpty() && !start.isEmpty());

        const int port = ServerHarness::freePort();
        const int mqttPort = ServerHarness::freePort();
        QStringList environment{u"PATH=/usr/sbin:/usr/bin:/sbin:/bin"_s};
        environment += unitValues(unit, u"Environment"_s);
        environment +=
            {u"QUILLET_SERVER_PORT=%1"_s.arg(port), u"QUILLET_SERVER_MQTT_PORT=%1"_s.arg(mqttPort)};
        m_service.setProcessChannelMode(QProcess::MergedChannels);
        m_service.start(u"setsid"_s, QStringList{u"runuser"_s, u"-u"_s, user, u"--"_s, u"env"_s, u"-i"_s}
                                         + environment
                                         + QStringList{u"sh"_s, u"-c"_s, before + u" && exec "_s + start});
        QVERIFY(m_service.waitForStarted());
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT((log += m_service.readAll()).contains("api: "), 20000);
        SyncClient client(u"http://127.0.0.1:%1"_s.arg(port), u"package-device"_s);
        QCOMPARE(client.registerUser(u"pkg@example.org"_s, u"secret"_s).code(), 0);
        const QString text = u"a payload of the packaged service"_s;
        const QJsonObject stored = client.pushed(SyncClient::textRecord(text, 1800000000));
        QCOMPARE(client.upload(stored, text.toUtf8()).status, 200);
        QCOMPARE(client.download(stored).body, text.toUtf8());

        // The service keeps its data where the unit says, as its user.
        const passwd *owner = getpwnam(qPrintable(user));
        QVERIFY(owner);
        struct stat database {
        };
        QCOMPARE(stat(QFile::encodeName(kDataDir + u"/sync.sqlite"_s).constData(), &database), 0);
        QCOMPARE(database.st_uid, owner->pw_uid);
        QVERIFY(processesOf(user));
        stopService();
    }
};

QTEST_GUILESS_MAIN(TestPackages)
#include "tst_packages.moc"
