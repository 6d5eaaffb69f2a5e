// A full disk loses nothing and is never answered as success: the service's data folder is a
// small tmpfs that the test fills. Uploads are refused with 507 and leave the record not
// ready; config.json and the outbox keep whole files; a registration that cannot be completed
// is undone. Needs the right to mount (root in CI).

#include "ServerHarness.h"
#include "SyncClient.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSet>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestServerFullDisk final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void uploadOnFullDisk();
    void filesStayWholeOnFullDisk();
    void registrationOnFullDisk();
    void storageFailuresAreNeverAnsweredAsSuccess();

private:
    // Fills the file system until the disk refuses another byte; removing m_filler undoes it.
    bool fillDisk();

    QTemporaryDir m_mount;
    const QString m_filler = m_mount.path() + u"/filler"_s;
    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_device;
};

void TestServerFullDisk::initTestCase()
{
    QVERIFY(m_mount.isValid());
    // In a mount namespace of this process the small disk goes with the process, however the
    // test ends (a skip or a crash included); the service started below shares it.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount("tmpfs", QFile::encodeName(m_mount.path()).constData(), "tmpfs", 0, "size=16m,mode=0700")
               != 0)
        QSKIP(qPrintable(u"cannot mount a tmpfs for the full-disk tests (%1); they need root"_s.arg(
            QString::fromLocal8Bit(strerror(errno)))));
    const QString data = m_mount.path() + u"/data"_s;
    QVERIFY(QDir().mkpath(data));
    QVERIFY(m_server.start({.dataDir = data}));
    m_device = std::make_unique<SyncClient>(m_server.origin(), u"disk"_s);
    QCOMPARE(m_device->registerUser(u"disk@example.org"_s, u"pw"_s).code(), 0);
}

void TestServerFullDisk::cleanupTestCase()
{
    m_server.stop();
    ::umount2(QFile::encodeName(m_mount.path()).constData(), MNT_DETACH);
}

bool TestServerFullDisk::fillDisk()
{
    const int fd = ::open(QFile::encodeName(m_filler).constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0)
        return false;
    const QByteArray block(64 * 1024, 'x');
    for (qsizetype size = block.size(); size > 0;) {
        const ssize_t written = ::write(fd, block.constData(), size_t(size));
        if (written < 0 && errno == ENOSPC)
            size /= 2; // the last free blocks, in ever smaller writes
        else if (written < 0)
            break;
    }
    ::close(fd);
    return true;
}

void TestServerFullDisk::uploadOnFullDisk()
{
    const QByteArray payload(512 * 1024, 'p');
    QJsonObject record = SyncClient::textRecord(u"a large clip"_s, 1700000000);
    record.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
    const QJsonObject stored = m_device->pushed(record);
    const QString object =
        m_server.dataDir() + u"/objects/%1/"_s.arg(m_device->userId()) + SyncClient::md5Hex(payload);

    QVERIFY(fillDisk());
    const HttpReply refused = m_device->upload(stored, payload);
    QFile::remove(m_filler);
    QCOMPARE(refused.status, 507);
    QVERIFY(!QFile::exists(object));
    QCOMPARE(m_device->getRecord(stored).history().value("file_ready"_L1).toInt(), 0);
    // With room again the device's next try stores the whole payload.
    QCOMPARE(m_device->upload(stored, payload).status, 200);
    QCOMPARE(m_device->download(stored).body, payload);
}

void TestServerFullDisk::filesStayWholeOnFullDisk()
{
    // A start on a full disk, with a setting missing that the service would write back.
    QFile config(m_server.dataDir() + u"/config.json"_s);
    QVERIFY(config.open(QIODevice::ReadWrite));
    QJsonObject settings = QJsonDocument::fromJson(config.readAll()).object();
    settings.remove(u"homepage"_s);
    const QByteArray trimmed = QJsonDocument(settings).toJson();
    QVERIFY(config.resize(0) && config.seek(0) && config.write(trimmed) == trimmed.size());
    config.close();
    // Ended at once, the service keeps its database files as they are (a clean stop would
    // remove the write-ahead log and free its room).
    m_server.killService();
    QVERIFY(fillDisk());
    m_server.restartService();
    QVERIFY(config.open(QIODevice::ReadOnly));
    QCOMPARE(config.readAll(), trimmed);
    config.close();

    // A reset mail on a full disk fails, and says so.
    const HttpReply reset = m_device->get(u"/forget_pwd/"_s, u"&user_email=disk@example.org"_s, false);
    QVERIFY2(reset.status == 507 || reset.status == 500, reset.body.constData());
    QFile::remove(m_filler);

    // Once there is room, the service starts again.
    QVERIFY(m_server.restartService());
    QCOMPARE(m_device->login(u"disk@example.org"_s, u"pw"_s).code(), 0);
}

void TestServerFullDisk::registrationOnFullDisk()
{
    if (m_server.usesPostgres())
        QSKIP("a registration writes nothing into the data folder when the records live in PostgreSQL");
    SyncClient newcomer(m_server.origin(), u"newcomer"_s);
    QVERIFY(fillDisk());
    const HttpReply refused = newcomer.registerUser(u"newcomer@example.org"_s, u"pw"_s);
    QFile::remove(m_filler);
    QVERIFY2(refused.status == 507 || refused.status == 500, refused.body.constData());
    // The address is free: the registration was undone, not half made.
    QCOMPARE(newcomer.registerUser(u"newcomer@example.org"_s, u"pw"_s).code(), 0);
}

void TestServerFullDisk::storageFailuresAreNeverAnsweredAsSuccess()
{
    if (m_server.usesPostgres())
        QSKIP("the records live in PostgreSQL, on its own disk rather than in the data folder");
    // Records of 250 KiB until the database cannot grow: every push answered 0 is kept, and
    // the first that cannot be stored is answered 507 (or 500), never as success.
    QVERIFY(fillDisk());
    QList<QJsonObject> accepted;
    HttpReply refused;
    for (int i = 0; i < 100 && refused.status < 0; ++i) {
        const QString text(250 * 1024, QChar(u'A' + i % 26));
        QJsonObject record = SyncClient::textRecord(text + QString::number(i), 1700001000 + i);
        record.insert(u"content"_s, text);
        const HttpReply reply = m_device->pushRecord(record);
        if (reply.status == 200 && reply.code() == 0)
            accepted << reply.history();
        else
            refused = reply;
    }
    QVERIFY2(refused.status == 507 || refused.status == 500, refused.body.constData());
    // A crash now, then room again: everything that was acknowledged is there.
    m_server.killService();
    QFile::remove(m_filler);
    QVERIFY(m_server.restartService());
    SyncClient reader(m_server.origin(), u"after-crash"_s);
    QCOMPARE(reader.login(u"disk@example.org"_s, u"pw"_s).code(), 0);
    qint64 cursor = 0;
    QSet<QString> stored;
    for (const HttpReply &page : reader.pullAll(&cursor).value_or(QList<HttpReply>()))
        for (const QJsonValue &v : page.histories())
            stored << v["file_hash"_L1].toString();
    for (const QJsonObject &record : std::as_const(accepted))
        QVERIFY(stored.contains(record.value("file_hash"_L1).toString()));
}

QTEST_GUILESS_MAIN(TestServerFullDisk)
#include "tst_server_full_disk.moc"
