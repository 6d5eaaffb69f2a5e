// The signed upload form: forged, expired, out-of-folder, reused and oversized forms are refused
// and store nothing; a service killed in the middle of an upload keeps everything committed and
// nothing half-written.

#include "ServerHarness.h"
#include "SyncClient.h"

#include "support/PayloadLimit.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <ctime>
#include <future>
#include <utime.h>

using namespace Qt::StringLiterals;

class TestServerUploads final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void forgedFormsAreRefused();
    void keysOutsideTheFolderAreRefused();
    void sizeLimit();
    void grantsAreSingleUseAndBoundToTheRecord();
    void killDuringUploadKeepsStoreWhole();

private:
    struct Clip {
        QJsonObject record;
        QByteArray payload;
        QString hash() const { return record.value(u"file_hash"_s).toString(); }
    };
    Clip pushClip(const QByteArray &payload);
    // The form the service grants for the clip; m_host receives where to post it.
    UploadForm grantedForm(const Clip &clip)
    {
        return m_device->uploadForm(clip.hash(), clip.record.value(u"file_id"_s).toInteger(), &m_host);
    }
    int post(const UploadForm &form, const QByteArray &payload)
    {
        return m_device->postForm(m_host, form, payload).status;
    }
    void verifyNotStored(const Clip &clip);
    QString objectPath(const Clip &clip) const
    {
        return m_server.dataDir() + u"/objects/%1/"_s.arg(m_device->userId()) + clip.hash();
    }

    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_device;
    QString m_host;
    int m_counter = 0;
};

void TestServerUploads::initTestCase()
{
    QVERIFY(m_server.start());
    m_device = std::make_unique<SyncClient>(m_server.origin(), u"uploader"_s);
    QCOMPARE(m_device->registerUser(u"up@example.org"_s, u"pw"_s).code(), 0);
}

TestServerUploads::Clip TestServerUploads::pushClip(const QByteArray &payload)
{
    ++m_counter;
    QJsonObject record = SyncClient::textRecord(u"clip %1"_s.arg(m_counter), 1700000000 + m_counter);
    record.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
    return {m_device->pushed(record), payload};
}

void TestServerUploads::verifyNotStored(const Clip &clip)
{
    QVERIFY(!QFile::exists(objectPath(clip)));
    QCOMPARE(m_device->getRecord(clip.record).history().value("file_ready"_L1).toInt(), 0);
}

void TestServerUploads::forgedFormsAreRefused()
{
    const Clip clip = pushClip("forged target");
    const UploadForm form = grantedForm(clip);
    // A policy widened by the sender, or one signed anew for a past expiry.
    const QJsonObject granted =
        QJsonDocument::fromJson(QByteArray::fromBase64(field(form, u"policy"_s))).object();
    QJsonObject policy = granted;
    policy.insert(u"max_size"_s, 1LL << 40);
    const QByteArray widened = QJsonDocument(policy).toJson(QJsonDocument::Compact).toBase64();
    QCOMPARE(post(withField(form, u"policy"_s, widened), clip.payload), 403);
    QFile secrets(m_server.dataDir() + u"/secrets.json"_s);
    QVERIFY(secrets.open(QIODevice::ReadOnly));
    const QByteArray key = QJsonDocument::fromJson(secrets.readAll())["signing_key"_L1].toString().toUtf8();
    const auto signedFor = [&](qint64 expiration) {
        QJsonObject policy = granted;
        policy.insert(u"expiration"_s, expiration);
        const QByteArray encoded = QJsonDocument(policy).toJson(QJsonDocument::Compact).toBase64();
        const QByteArray signature = QMessageAuthenticationCode::hash(
            encoded + '\n' + field(form, u"callback"_s), key, QCryptographicHash::Sha256);
        return withField(withField(form, u"policy"_s, encoded), u"signature"_s, signature.toBase64());
    };
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QCOMPARE(post(signedFor(now - 5), clip.payload), 403);
    QCOMPARE(post(withoutField(form, u"signature"_s), clip.payload), 400);
    // Content that does not match its hash.
    QCOMPARE(post(form, "something else"), 400);
    verifyNotStored(clip);
    // Only the expiry made the difference.
    QCOMPARE(post(signedFor(now + 60), clip.payload), 200);
}

void TestServerUploads::keysOutsideTheFolderAreRefused()
{
    const Clip clip = pushClip("folder target");
    const Clip elsewhere = pushClip("another clip");
    const UploadForm form = grantedForm(clip);
    const QByteArray dir = "users/" + QByteArray::number(m_device->userId());
    const QByteArray hash = clip.hash().toUtf8();
    for (const QByteArray &key :
         QList<QByteArray>{"users/999/" + hash, dir + "/../999/" + hash, dir + "/sub/" + hash,
                           dir + '/' + elsewhere.hash().toUtf8(), "/" + dir + '/' + hash})
        QCOMPARE(post(withField(form, u"key"_s, key), clip.payload), 403);
    verifyNotStored(clip);
    verifyNotStored(elsewhere);
}

void TestServerUploads::sizeLimit()
{
    QByteArray largest(int(kMaxPayloadBytes), 'x');
    const Clip atLimit = pushClip(largest);
    QCOMPARE(post(grantedForm(atLimit), atLimit.payload), 200);
    largest.append('y');
    const Clip over = pushClip(largest);
    QCOMPARE(post(grantedForm(over), over.payload), 413);
    verifyNotStored(over);
}

void TestServerUploads::grantsAreSingleUseAndBoundToTheRecord()
{
    const Clip clip = pushClip("replayed payload");
    const UploadForm form = grantedForm(clip);
    // Posted several times at once, one form stores the file once; the others are refused.
    std::vector<std::future<int>> posts;
    for (int i = 0; i < 8; ++i)
        posts.push_back(std::async(std::launch::async, [&] { return post(form, clip.payload); }));
    QCOMPARE(std::ranges::count_if(posts, [](auto &posted) { return posted.get() == 200; }), 1);
    // Deleted and pushed again, the clip is another record: grants of the old one are void.
    const UploadForm beforeDelete = grantedForm(clip);
    QCOMPARE(m_device->deleteRecord(clip.record).code(), 0);
    const QJsonObject again = m_device->pushed(clip.record);
    QCOMPARE(post(beforeDelete, clip.payload), 404);
    QCOMPARE(m_device->getRecord(again).history().value("file_ready"_L1).toInt(), 0);
}

void TestServerUploads::killDuringUploadKeepsStoreWhole()
{
    const Clip committed = pushClip(QByteArray(200 * 1024, 'c'));
    QCOMPARE(post(grantedForm(committed), committed.payload), 200);
    const Clip interrupted = pushClip(QByteArray(3 * 1024 * 1024, 'i'));
    // The form, sent by hand so that the service gets only half of it.
    QByteArray body;
    for (const auto &[name, value] : grantedForm(interrupted))
        body += "--b0undary\r\nContent-Disposition: form-data; name=\"" + name.toUtf8() + "\"\r\n\r\n" + value
                + "\r\n";
    body += "--b0undary\r\nContent-Disposition: form-data; name=\"file\"; filename=\"payload\"\r\n\r\n"
            + interrupted.payload + "\r\n--b0undary--\r\n";
    const QUrl url(m_host);
    QTcpSocket socket;
    socket.connectToHost(u"127.0.0.1"_s, quint16(url.port()));
    QVERIFY(socket.waitForConnected(5000));
    socket.write("POST " + url.path().toUtf8()
                 + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; "
                   "boundary=b0undary\r\nContent-Length: "
                 + QByteArray::number(body.size()) + "\r\n\r\n" + body.left(body.size() / 2));
    while (socket.bytesToWrite() > 0)
        QVERIFY(socket.waitForBytesWritten(5000));
    m_server.killService();

    // A write cut off inside the object store leaves its temporary file: an hour old it goes at
    // the next start; a young one may be another process's write and stays.
    const QString leftover = objectPath(interrupted) + u".Ab12Cd"_s;
    QFile young(objectPath(interrupted) + u".Young1"_s);
    QVERIFY(QFile(leftover).open(QIODevice::WriteOnly) && young.open(QIODevice::WriteOnly));
    const utimbuf anHourAgo{::time(nullptr) - 3600, ::time(nullptr) - 3600};
    QCOMPARE(::utime(QFile::encodeName(leftover).constData(), &anHourAgo), 0);
    QVERIFY(m_server.restartService());
    m_device = std::make_unique<SyncClient>(m_server.origin(), u"uploader"_s);
    QCOMPARE(m_device->login(u"up@example.org"_s, u"pw"_s).code(), 0);
    QVERIFY(!QFile::exists(leftover));
    QVERIFY(young.remove());
    verifyNotStored(interrupted);
    QCOMPARE(m_device->download(committed.record).body, committed.payload);
    // The interrupted upload can simply be repeated.
    QCOMPARE(post(grantedForm(interrupted), interrupted.payload), 200);
}

QTEST_GUILESS_MAIN(TestServerUploads)
#include "tst_server_uploads.moc"
