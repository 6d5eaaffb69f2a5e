// The signed upload form: forged, expired, out-of-folder and oversized forms are refused and
// store nothing; a service killed in the middle of an upload keeps everything committed and
// nothing half-written.

#include "ServerHarness.h"
#include "SyncClient.h"

#include "support/PayloadLimit.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

#include <ctime>
#include <utime.h>

using namespace Qt::StringLiterals;

using Form = UploadForm;

class TestServerUploads final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void forgedFormsAreRefused();
    void expiredPolicyIsRefused();
    void keysOutsideTheFolderAreRefused();
    void sizeLimit();
    void grantsAreSingleUseAndBoundToTheRecord();
    void contentMustMatchItsHash();
    void killDuringUploadKeepsStoreWhole();

private:
    struct Clip {
        QJsonObject record;
        QByteArray payload;
        QString hash() const { return record.value(u"file_hash"_s).toString(); }
        qint64 fileId() const { return record.value(u"file_id"_s).toInteger(); }
    };
    Clip pushClip(const QByteArray &payload);
    // A correct form for the clip, as the service grants it.
    Form grantedForm(const Clip &clip, QString *host);
    Form signedForm(const Clip &clip, qint64 expiration);
    void verifyNotStored(const Clip &clip);
    QString objectPath(const Clip &clip) const;

    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_device;
    std::unique_ptr<SyncClient> m_other;
    int m_counter = 0;
};

void TestServerUploads::initTestCase()
{
    QVERIFY(m_server.start());
    m_device = std::make_unique<SyncClient>(m_server.origin(), u"uploader"_s);
    m_other = std::make_unique<SyncClient>(m_server.origin(), u"reader"_s);
    QCOMPARE(m_device->registerUser(u"up@example.org"_s, u"pw"_s).code(), 0);
    QCOMPARE(m_other->login(u"up@example.org"_s, u"pw"_s).code(), 0);
}

TestServerUploads::Clip TestServerUploads::pushClip(const QByteArray &payload)
{
    Clip clip;
    clip.payload = payload;
    ++m_counter;
    QJsonObject record = SyncClient::textRecord(u"clip %1"_s.arg(m_counter), 1700000000 + m_counter);
    record.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
    clip.record = m_device->pushed(record);
    return clip;
}

Form TestServerUploads::grantedForm(const Clip &clip, QString *host)
{
    return m_device->uploadForm(clip.hash(), clip.fileId(), host);
}

// A form signed with the service's own key (read from its data folder) for any expiry.
Form TestServerUploads::signedForm(const Clip &clip, qint64 expiration)
{
    QString host;
    Form form = grantedForm(clip, &host);
    QFile secrets(m_server.dataDir() + u"/secrets.json"_s);
    if (!secrets.open(QIODevice::ReadOnly))
        return {};
    const QByteArray key =
        QJsonDocument::fromJson(secrets.readAll()).object().value(u"signing_key"_s).toString().toUtf8();
    QJsonObject policy = QJsonDocument::fromJson(QByteArray::fromBase64(field(form, u"policy"_s))).object();
    policy.insert(u"expiration"_s, expiration);
    const QByteArray encoded = QJsonDocument(policy).toJson(QJsonDocument::Compact).toBase64();
    const QByteArray signature = QMessageAuthenticationCode::hash(encoded + '\n' + field(form, u"callback"_s),
                                                                  key, QCryptographicHash::Sha256)
                                     .toBase64();
    return withField(withField(form, u"policy"_s, encoded), u"signature"_s, signature);
}

QString TestServerUploads::objectPath(const Clip &clip) const
{
    return m_server.dataDir() + u"/objects/"_s + QString::number(m_device->userId()) + QLatin1Char('/')
           + clip.hash();
}

void TestServerUploads::verifyNotStored(const Clip &clip)
{
    QVERIFY(!QFile::exists(objectPath(clip)));
    QCOMPARE(m_other->getRecord(clip.record).history().value("file_ready"_L1).toInt(), 0);
    QCOMPARE(m_other->download(clip.record).status, 404);
}

void TestServerUploads::forgedFormsAreRefused()
{
    const Clip clip = pushClip("forged target");
    QString host;
    const Form form = grantedForm(clip, &host);

    QByteArray signature = field(form, u"signature"_s);
    signature[3] = signature[3] == 'A' ? 'B' : 'A';
    QCOMPARE(m_device->postForm(host, withField(form, u"signature"_s, signature), clip.payload).status, 403);

    // A policy widened by the sender no longer matches its signature.
    QJsonObject policy = QJsonDocument::fromJson(QByteArray::fromBase64(field(form, u"policy"_s))).object();
    policy.insert(u"max_size"_s, 1LL << 40);
    const QByteArray widened = QJsonDocument(policy).toJson(QJsonDocument::Compact).toBase64();
    QCOMPARE(m_device->postForm(host, withField(form, u"policy"_s, widened), clip.payload).status, 403);
    QCOMPARE(m_device->postForm(host, withField(form, u"OSSAccessKeyID"_s, "someone"), clip.payload).status,
             403);
    for (const QString &name : {u"key"_s, u"policy"_s, u"signature"_s, u"callback"_s}) {
        const HttpReply missing = m_device->postForm(host, withoutField(form, name), clip.payload);
        QCOMPARE(missing.status, 400);
        QVERIFY(missing.code() != 0);
    }
    verifyNotStored(clip);
    // The untouched form is accepted.
    QCOMPARE(m_device->postForm(host, form, clip.payload).status, 200);
    QVERIFY(QFile::exists(objectPath(clip)));
}

void TestServerUploads::grantsAreSingleUseAndBoundToTheRecord()
{
    const Clip clip = pushClip("replayed payload");
    QString host;
    const Form form = grantedForm(clip, &host);
    const Form spare = grantedForm(clip, &host);
    QCOMPARE(m_device->postForm(host, form, clip.payload).status, 200);
    // The same form again, or another grant for a record that is stored, changes nothing.
    QCOMPARE(m_device->postForm(host, form, "replayed payload").status, 409);
    QCOMPARE(m_device->postForm(host, spare, "replayed payload").status, 409);

    // Deleted and pushed again, the clip is another record: grants of the old one are void.
    const Form beforeDelete = grantedForm(clip, &host);
    QCOMPARE(m_device->deleteRecord(clip.record).code(), 0);
    const QJsonObject again = m_device->pushed(clip.record);
    QVERIFY(again.value("history_id"_L1).toInteger() != clip.record.value("history_id"_L1).toInteger());
    QCOMPARE(m_device->postForm(host, beforeDelete, clip.payload).status, 404);
    QCOMPARE(m_other->getRecord(again).history().value("file_ready"_L1).toInt(), 0);
    QCOMPARE(m_device->upload(again, clip.payload).status, 200);
}

void TestServerUploads::contentMustMatchItsHash()
{
    const Clip clip = pushClip("the real payload");
    QString host;
    const Form form = grantedForm(clip, &host);
    QCOMPARE(m_device->postForm(host, form, "something else").status, 400);
    verifyNotStored(clip);
    // A zipped payload is an archive whose hash names its content: it is stored as it comes.
    ++m_counter;
    QJsonObject zipped = SyncClient::textRecord(u"zipped clip"_s, 1700009999);
    zipped.insert(u"type"_s, u"image_data+zip"_s);
    zipped = m_device->pushed(zipped);
    QCOMPARE(m_device->upload(zipped, "PK an archive").status, 200);
}

void TestServerUploads::expiredPolicyIsRefused()
{
    const Clip clip = pushClip("expiry target");
    QString host;
    grantedForm(clip, &host);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const HttpReply expired = m_device->postForm(host, signedForm(clip, now - 5), clip.payload);
    QCOMPARE(expired.status, 403);
    verifyNotStored(clip);
    // The same form with a future expiry is good: only the expiry made the difference.
    QCOMPARE(m_device->postForm(host, signedForm(clip, now + 60), clip.payload).status, 200);
}

void TestServerUploads::keysOutsideTheFolderAreRefused()
{
    const Clip clip = pushClip("folder target");
    const Clip elsewhere = pushClip("another clip");
    QString host;
    const Form form = grantedForm(clip, &host);
    const QByteArray dir = "users/" + QByteArray::number(m_device->userId());
    const QByteArray hash = clip.hash().toUtf8();
    const QList<QByteArray> keys{"users/999/" + hash,
                                 dir + "/../999/" + hash,
                                 dir + "/sub/" + hash,
                                 dir + '/' + elsewhere.hash().toUtf8(),
                                 hash,
                                 "/" + dir + '/' + hash};
    for (const QByteArray &key : keys)
        QCOMPARE(m_device->postForm(host, withField(form, u"key"_s, key), clip.payload).status, 403);
    verifyNotStored(clip);
    verifyNotStored(elsewhere);
}

void TestServerUploads::sizeLimit()
{
    QByteArray largest(int(kMaxPayloadBytes), 'x');
    const Clip atLimit = pushClip(largest);
    QString host;
    QCOMPARE(m_device->postForm(host, grantedForm(atLimit, &host), atLimit.payload).status, 200);
    QCOMPARE(QFileInfo(objectPath(atLimit)).size(), kMaxPayloadBytes);

    largest.append('y');
    const Clip over = pushClip(largest);
    const HttpReply refused = m_device->postForm(host, grantedForm(over, &host), over.payload);
    QCOMPARE(refused.status, 413);
    verifyNotStored(over);
    // Far beyond the limit the service stops reading before the body is in.
    const HttpReply huge =
        m_device->postForm(host, grantedForm(over, &host), QByteArray(8 * 1024 * 1024, 'z'));
    QVERIFY(huge.status == 413 || huge.status == -1);
    verifyNotStored(over);
}

void TestServerUploads::killDuringUploadKeepsStoreWhole()
{
    QByteArray committedBytes(200 * 1024, 'c');
    const Clip committed = pushClip(committedBytes);
    QString host;
    QCOMPARE(m_device->postForm(host, grantedForm(committed, &host), committed.payload).status, 200);

    QByteArray interruptedBytes(3 * 1024 * 1024, 'i');
    const Clip interrupted = pushClip(interruptedBytes);
    const Form form = grantedForm(interrupted, &host);

    // The form, sent by hand so that the service gets only half of it.
    const QByteArray boundary = "----quilletboundary";
    QByteArray body;
    for (const auto &[name, value] : form)
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name.toUtf8() + "\"\r\n\r\n"
                + value + "\r\n";
    body += "--" + boundary
            + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"payload\"\r\n"
              "Content-Type: application/octet-stream\r\n\r\n"
            + interrupted.payload + "\r\n--" + boundary + "--\r\n";
    const QUrl url(host);
    QTcpSocket socket;
    socket.connectToHost(u"127.0.0.1"_s, quint16(url.port()));
    QVERIFY(socket.waitForConnected(5000));
    socket.write("POST " + url.path().toUtf8()
                 + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=" + boundary
                 + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n");
    socket.write(body.left(body.size() / 2));
    while (socket.bytesToWrite() > 0)
        QVERIFY(socket.waitForBytesWritten(5000));

    m_server.killService();
    // A write cut off inside the object store leaves its temporary file behind.
    const QString leftover = objectPath(interrupted) + u".Ab12Cd"_s;
    QFile partial(leftover);
    QVERIFY(partial.open(QIODevice::WriteOnly));
    partial.write(interruptedBytes.left(1000));
    partial.close();
    // Older than any write takes: an hour.
    const utimbuf anHourAgo{::time(nullptr) - 3600, ::time(nullptr) - 3600};
    QCOMPARE(::utime(QFile::encodeName(leftover).constData(), &anHourAgo), 0);
    // A young one may be the write of another service process sharing the folder: it stays.
    QFile young(objectPath(interrupted) + u".Young1"_s);
    QVERIFY(young.open(QIODevice::WriteOnly));
    young.close();

    QVERIFY(m_server.restartService());
    m_device = std::make_unique<SyncClient>(m_server.origin(), u"uploader"_s);
    m_device->login(u"up@example.org"_s, u"pw"_s);
    const QString otherToken = m_other->userToken();
    m_other = std::make_unique<SyncClient>(m_server.origin(), u"reader"_s);
    m_other->setUserToken(otherToken);

    QVERIFY(!QFile::exists(leftover));
    QVERIFY(young.remove());
    verifyNotStored(interrupted);
    const HttpReply kept = m_other->download(committed.hash(), committed.fileId());
    QCOMPARE(kept.status, 200);
    QCOMPARE(kept.body, committed.payload);
    // Every record is still there, and the interrupted upload can simply be repeated.
    QCOMPARE(m_other->pull(0).histories().size(), m_counter);
    const Form again = grantedForm(interrupted, &host);
    QCOMPARE(m_device->postForm(host, again, interrupted.payload).status, 200);
    QCOMPARE(m_other->download(interrupted.hash(), interrupted.fileId()).body, interrupted.payload);
}

QTEST_GUILESS_MAIN(TestServerUploads)
#include "tst_server_uploads.moc"
