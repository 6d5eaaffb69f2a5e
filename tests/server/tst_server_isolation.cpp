// Two users of one service: whatever ids, hashes or forms the second one sends, it can read,
// change, delete, download or upload nothing of the first, on any endpoint or on the broker.
// The signed upload form: forged, expired, out-of-folder, reused and oversized forms are refused
// and store nothing; a service killed in the middle of an upload keeps everything committed and
// nothing half-written. For one user's devices, what the client suites do not see: records of
// its own never come back to a device, a clear removes the payloads, sign-ins end with their
// broker accounts, the broker and the service come back, the log holds no secrets.
// Many devices at once, on a server of their own: two users' four devices each push (every fifth
// record a favourite, every tenth with a payload, some clips captured by all of them), pull
// between their pushes and delete one record at the end. With PostgreSQL, half of them talk to a
// second service process on the same database (payloads in it too) and broker. Every record
// reaches each other device of its user once (a deleted one perhaps not) and never a device of
// the other user; a new device gets exactly the user's records, each once; every file is served
// by either process; every notice arrives once at every device of the user.

#include "MqttListener.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include "support/PayloadLimit.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QSet>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

#include <future>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

const QString kEmail = u"intruder@example.org"_s;
const QString kPassword = u"correct horse"_s;

QString digestOf(const QString &token)
{
    return QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QByteArray field(const UploadForm &form, const QString &name)
{
    return std::ranges::find(form, name, &std::pair<QString, QByteArray>::first)->second;
}

// The form with one field's value replaced.
UploadForm withField(UploadForm form, const QString &name, const QByteArray &value)
{
    std::ranges::find(form, name, &std::pair<QString, QByteArray>::first)->second = value;
    return form;
}

// One of the many devices of devicesOfTwoUsersAtOnce.
struct Device {
    std::unique_ptr<SyncClient> client;
    MqttListener notices;
    qint64 cursor = 0;
    QList<QString> pulled; // file hashes
    QSet<qint64> deleted;
    QList<QJsonObject> pushed;
    QList<QJsonObject> files; // pushed records with an uploaded payload
    bool failed = false;

    bool pull()
    {
        const auto pages = client->pullAll(&cursor);
        for (const HttpReply &page : pages.value_or(QList<HttpReply>())) {
            for (const QJsonValue &v : page.histories())
                pulled << v["file_hash"_L1].toString();
            for (const QJsonValue &action : page.value("action").toArray())
                deleted.insert(action["history_id"_L1].toInteger());
        }
        return pages.has_value();
    }
};

} // namespace

class TestServerIsolation final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recordsCannotBeReadOrChanged();
    void filesCannotBeFetchedOrReplaced();
    void brokerKeepsTopicsApart();
    void forgedFormsAreRefused();
    void keysOutsideTheFolderAreRefused();
    void sizeLimit();
    void grantsAreSingleUseAndBoundToTheRecord();
    void ownRecordsDoNotComeBack();
    void clearKeepsFavouritesOnly();
    void logoutEndsTheSignInAndItsBrokerConnection();
    void administratorSetsPassword();
    void logHoldsNoSecrets();
    // These restart the service or the broker.
    void killDuringUploadKeepsStoreWhole();
    void expiredSignInsEnd();
    void signInNeedsTheBroker();
    void devicesLearnWhenTheServiceIsBack();
    void devicesOfTwoUsersAtOnce();
    // After every case: the first user's records and file are exactly as they were.
    void cleanup();

private:
    // A record of the victim's with this payload to upload.
    QJsonObject pushClip(const QByteArray &payload)
    {
        const int clip = ++m_clips;
        QJsonObject record = SyncClient::textRecord(u"clip %1"_s.arg(clip), 1700000100 + clip);
        record.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
        return m_victim->pushed(record);
    }
    // The form the service grants the victim for the record; m_host receives where to post it.
    UploadForm grantedForm(const QJsonObject &record)
    {
        return m_victim->uploadForm(record["file_hash"_L1].toString(), record["file_id"_L1].toInteger(),
                                    &m_host);
    }
    int post(const UploadForm &form, const QByteArray &payload)
    {
        return m_victim->postForm(m_host, form, payload).status;
    }
    void verifyNotStored(const QJsonObject &record)
    {
        QVERIFY(!QFile::exists(m_server.dataDir() + u"/objects/%1/"_s.arg(m_victim->userId())
                               + record["file_hash"_L1].toString()));
        QCOMPARE(m_victim->getRecord(record).history().value("file_ready"_L1).toInt(), 0);
    }

    qint64 tokenRows(const QString &token) const
    {
        const auto rows =
            m_server.storageQuery(u"select count(*) from tokens where digest = '%1'"_s.arg(digestOf(token)));
        return rows && rows->size() == 1 ? rows->first().toLongLong() : -1;
    }

    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_victim;
    std::unique_ptr<SyncClient> m_intruder;
    QList<QJsonObject> m_records; // a text, a favourite, a file
    QByteArray m_payload{4096, 'v'};
    QString m_host;
    int m_clips = 0;
    std::unique_ptr<SyncClient> m_b; // the intruder's second device
    QStringList m_secrets;
};

void TestServerIsolation::initTestCase()
{
    QVERIFY(m_server.start());
    m_victim = std::make_unique<SyncClient>(m_server.origin(), u"victimDevice"_s);
    m_intruder = std::make_unique<SyncClient>(m_server.origin(), u"intruderDevice"_s);
    QCOMPARE(m_victim->registerUser(u"victim@example.org"_s, u"pw1"_s).code(), 0);
    QCOMPARE(m_intruder->registerUser(kEmail, kPassword).code(), 0);
    QJsonObject favourite = SyncClient::textRecord(u"victim favourite"_s, 1700000001);
    favourite.insert(u"favourite"_s, 1750000000);
    QJsonObject file = SyncClient::textRecord(u"victim file"_s, 1700000002);
    file.insert(u"file_hash"_s, SyncClient::md5Hex(m_payload));
    for (const QJsonObject &record : {SyncClient::textRecord(u"victim text"_s, 1700000000), favourite, file})
        m_records << m_victim->pushed(record);
    QCOMPARE(m_victim->upload(m_records[2], m_payload).code(), 0);
    m_records[2].insert(u"file_ready"_s, 1);
    m_records[2].insert(u"file_size"_s, m_payload.size());
    m_b = std::make_unique<SyncClient>(m_server.origin(), u"deviceB0002"_s);
    QCOMPARE(m_b->login(kEmail, kPassword).code(), 0);
    m_secrets << m_intruder->userToken() << m_b->userToken() << m_intruder->mqttPassword() << kEmail
              << SyncClient::md5Hex(kPassword.toUtf8());
}

void TestServerIsolation::cleanup()
{
    for (const QJsonObject &record : std::as_const(m_records))
        QCOMPARE(m_victim->getRecord(record).history(), record);
    QCOMPARE(m_victim->download(m_records[2]).body, m_payload);
}

void TestServerIsolation::recordsCannotBeReadOrChanged()
{
    QCOMPARE(m_intruder->getRecord(m_records[0]).status, 404);
    QVERIFY(m_intruder->pull(0).histories().isEmpty());
    // Unknown to this user: -10, so that the device makes its clip local only.
    QJsonObject changed = m_records[0];
    changed.insert(u"timestamp"_s, 1900000000);
    changed.remove(u"content"_s);
    QCOMPARE(m_intruder->put(u"/push/"_s, {{u"history"_s, changed}}).code(), -10);
    // Posting the same hash makes the intruder's own record, not a change of the victim's.
    QJsonObject same = m_records[0];
    same.insert(u"content"_s, u"overwritten"_s);
    QVERIFY(m_intruder->pushed(same).value(u"history_id"_s) != m_records[0].value(u"history_id"_s));
    for (const QJsonObject &record : std::as_const(m_records))
        QCOMPARE(m_intruder->deleteRecord(record).code(), 0);
    QJsonObject withdraw = m_records[1];
    withdraw.insert(u"favourite"_s, -1900000000);
    QCOMPARE(m_intruder->setFavourite(withdraw).code(), -4);
    // For this user the victim's favourite does not exist: to be deleted, and none handed out.
    const HttpReply reconciled =
        m_intruder->getFavourites({{QString::number(m_records[1].value(u"history_id"_s).toInteger()),
                                    QJsonObject{{u"favourite"_s, 1900000000}}}});
    QCOMPARE(reconciled.json.value(u"delfavourites"_s).toArray().size(), 1);
    QVERIFY(reconciled.histories().isEmpty());
    QCOMPARE(m_intruder->get(u"/clear_history/"_s).code(), 0);
}

void TestServerIsolation::filesCannotBeFetchedOrReplaced()
{
    QCOMPARE(m_intruder->get(u"/get_upload_token/"_s, SyncClient::fileQuery(m_records[2])).status, 404);
    QCOMPARE(m_intruder->download(m_records[2]).status, 404);
    QCOMPARE(m_intruder->get(u"/plugin_files/..%2Fconfig.json"_s, {}, false).status, 404);
    // The intruder's own grant, pointed at the victim's file and rewritten to name the victim.
    const QJsonObject mine = m_intruder->pushed(SyncClient::textRecord(u"intruder file"_s, 1700000000));
    QString host;
    const UploadForm form = m_intruder->uploadForm(mine.value("file_hash"_L1).toString(),
                                                   mine.value("file_id"_L1).toInteger(), &host);
    const QByteArray victimKey = "users/" + QByteArray::number(m_victim->userId()) + '/'
                                 + m_records[2].value("file_hash"_L1).toString().toUtf8();
    QCOMPARE(m_intruder->postForm(host, withField(form, u"key"_s, victimKey), "replaced").status, 403);
    QJsonObject callback =
        QJsonDocument::fromJson(QByteArray::fromBase64(field(form, u"callback"_s))).object();
    callback.insert(u"user_id"_s, m_victim->userId());
    callback.insert(u"file_hash"_s, m_records[2].value(u"file_hash"_s));
    callback.insert(u"file_id"_s, m_records[2].value(u"file_id"_s));
    const QByteArray forged = QJsonDocument(callback).toJson(QJsonDocument::Compact).toBase64();
    const UploadForm rewritten = withField(withField(form, u"key"_s, victimKey), u"callback"_s, forged);
    QCOMPARE(m_intruder->postForm(host, rewritten, "replaced").status, 403);
}

void TestServerIsolation::brokerKeepsTopicsApart()
{
    const QString victimTopic = u"user_id_"_s + QString::number(m_victim->userId());
    const int port = m_server.mqttPort();
    // Nobody signs in without the service's credentials, as another user, or under another
    // device's client id (which would push that device off).
    QVERIFY(MqttListener().connect(port, QString(), QString()) != 0);
    QVERIFY(MqttListener().connect(port, m_victim->mqttUser(), m_intruder->mqttPassword()) != 0);
    QVERIFY(MqttListener().connect(port, u"pubclient"_s, u"3c9e5a17"_s) != 0);
    QVERIFY(MqttListener(m_victim->deviceToken())
                .connect(port, m_intruder->mqttUser(), m_intruder->mqttPassword())
            != 0);

    MqttListener victim;
    QCOMPARE(victim.connect(port, *m_victim), 0);
    QCOMPARE(victim.subscribe(victimTopic), 1);
    MqttListener intruder;
    QCOMPARE(intruder.connect(port, *m_intruder), 0);
    // mosquitto grants these subscriptions but delivers nothing the access list forbids; a device
    // may not publish at all, not even the service's status.
    intruder.subscribe(victimTopic);
    intruder.subscribe(u"#"_s);
    QCOMPARE(intruder.subscribe(u"user_id_"_s + QString::number(m_intruder->userId())), 1);
    QVERIFY(intruder.publish(victimTopic, R"({"protocol":"history_clear","data":{"timestamp":9999999999}})"));
    QVERIFY(intruder.publish(u"quillet_service"_s, R"({"status":"offline"})"));
    // A notice for each user; notices arrive in order, so anything forged or foreign came before.
    for (SyncClient *user : {m_victim.get(), m_intruder.get()})
        QCOMPARE(user->deleteRecord(user->pushed(SyncClient::textRecord(u"note"_s, 1))).code(), 0);
    const auto isDelete = [](const MqttListener::Message &m) {
        return m.json.value(u"protocol"_s).toString() == "history_delete"_L1;
    };
    QVERIFY(victim.waitFor(isDelete) && intruder.waitFor(isDelete));
    for (MqttListener *listener : {&victim, &intruder}) {
        for (const auto &m : listener->messages())
            QVERIFY((m.topic == u"quillet_service"_s && m.json.value(u"status"_s) == u"online"_s)
                    || (isDelete(m) && (listener == &victim) == (m.topic == victimTopic)));
    }
}

void TestServerIsolation::forgedFormsAreRefused()
{
    const QJsonObject clip = pushClip("forged target");
    const UploadForm form = grantedForm(clip);
    // A policy widened by the sender, or one signed anew for a past expiry.
    const QJsonObject granted =
        QJsonDocument::fromJson(QByteArray::fromBase64(field(form, u"policy"_s))).object();
    QJsonObject policy = granted;
    policy.insert(u"max_size"_s, 1LL << 40);
    const QByteArray widened = QJsonDocument(policy).toJson(QJsonDocument::Compact).toBase64();
    QCOMPARE(post(withField(form, u"policy"_s, widened), "forged target"), 403);
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
    QCOMPARE(post(signedFor(now - 5), "forged target"), 403);
    // Content that does not match its hash.
    QCOMPARE(post(form, "something else"), 400);
    verifyNotStored(clip);
    // Only the expiry made the difference.
    QCOMPARE(post(signedFor(now + 60), "forged target"), 200);
}

void TestServerIsolation::keysOutsideTheFolderAreRefused()
{
    const QJsonObject clip = pushClip("folder target");
    const QJsonObject elsewhere = pushClip("another clip");
    const UploadForm form = grantedForm(clip);
    const QByteArray dir = "users/" + QByteArray::number(m_victim->userId());
    const QByteArray hash = clip["file_hash"_L1].toString().toUtf8();
    for (const QByteArray &key :
         QList<QByteArray>{dir + "/../999/" + hash, dir + '/' + elsewhere["file_hash"_L1].toString().toUtf8(),
                           "/" + dir + '/' + hash})
        QCOMPARE(post(withField(form, u"key"_s, key), "folder target"), 403);
    verifyNotStored(clip);
    verifyNotStored(elsewhere);
}

void TestServerIsolation::sizeLimit()
{
    QByteArray largest(int(kMaxPayloadBytes), 'x');
    QCOMPARE(post(grantedForm(pushClip(largest)), largest), 200);
    largest.append('y');
    const QJsonObject over = pushClip(largest);
    QCOMPARE(post(grantedForm(over), largest), 413);
    verifyNotStored(over);
}

void TestServerIsolation::grantsAreSingleUseAndBoundToTheRecord()
{
    const QJsonObject clip = pushClip("replayed payload");
    const UploadForm form = grantedForm(clip);
    // Posted several times at once, one form stores the file once; the others are refused.
    std::vector<std::future<int>> posts;
    for (int i = 0; i < 8; ++i)
        posts.push_back(std::async(std::launch::async, [&] { return post(form, "replayed payload"); }));
    QCOMPARE(std::ranges::count_if(posts, [](auto &posted) { return posted.get() == 200; }), 1);
    // Deleted and pushed again, the clip is another record: grants of the old one are void.
    const UploadForm beforeDelete = grantedForm(clip);
    QCOMPARE(m_victim->deleteRecord(clip).code(), 0);
    const QJsonObject again = m_victim->pushed(clip);
    QCOMPARE(post(beforeDelete, "replayed payload"), 404);
    QCOMPARE(m_victim->getRecord(again).history().value("file_ready"_L1).toInt(), 0);
}

void TestServerIsolation::ownRecordsDoNotComeBack()
{
    const QJsonObject pushed = m_intruder->pushed(SyncClient::textRecord(u"walk record"_s, 1700000000));
    m_secrets << pushed.value("content"_L1).toString();
    const qint64 startA = m_intruder->pull(0).cursor();
    QCOMPARE(m_intruder->pushRecord(SyncClient::textRecord(u"second record"_s, 1700000001)).code(), 0);
    QVERIFY(m_intruder->pull(startA).histories().isEmpty());
    // The same clip captured on B is the same record; an older capture time does not win.
    const QJsonObject merged = m_b->pushed(SyncClient::textRecord(u"walk record"_s, 1600000000));
    QCOMPARE(merged.value("history_id"_L1), pushed.value("history_id"_L1));
    QCOMPARE(merged.value("timestamp"_L1).toInteger(), 1700000000);
}

void TestServerIsolation::clearKeepsFavouritesOnly()
{
    const QByteArray payload(1024, 'u');
    QJsonObject file = SyncClient::textRecord(u"with a file"_s, 1700000200);
    file.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
    QCOMPARE(m_intruder->upload(m_intruder->pushed(file), payload).status, 200);
    QJsonObject keep = SyncClient::textRecord(u"kept"_s, 1700000400);
    keep.insert(u"favourite"_s, 1760000000);
    keep = m_intruder->pushed(keep);
    QCOMPARE(m_intruder->get(u"/clear_history/"_s).code(), 0);
    SyncClient fresh(m_server.origin(), u"deviceFresh"_s);
    fresh.setUserToken(m_intruder->userToken());
    QCOMPARE(fresh.pull(0).histories(), QJsonArray{keep});
    QVERIFY(QDir(m_server.dataDir() + u"/objects/%1"_s.arg(m_intruder->userId())).isEmpty(QDir::Files));
}

void TestServerIsolation::logoutEndsTheSignInAndItsBrokerConnection()
{
    SyncClient e(m_server.origin(), u"deviceE0005"_s);
    QCOMPARE(e.login(kEmail, kPassword).code(), 0);
    // A new sign-in of the device gets a new broker password; the earlier one is over.
    const QString earlier = e.mqttPassword();
    const QString earlierToken = e.userToken();
    QCOMPARE(e.login(kEmail, kPassword).code(), 0);
    QCOMPARE(tokenRows(earlierToken), 0);
    QVERIFY(MqttListener(e.deviceToken()).connect(m_server.mqttPort(), e.mqttUser(), earlier) != 0);
    MqttListener session;
    QCOMPARE(session.connect(m_server.mqttPort(), e), 0);
    // Signing out removes the device's broker account, which ends its connection, and its token.
    QCOMPARE(e.get(u"/logout/"_s).code(), 0);
    QVERIFY(session.waitForDisconnect());
    QVERIFY(MqttListener().connect(m_server.mqttPort(), e) != 0);
    QCOMPARE(e.pull(0).status, 401);
    QCOMPARE(m_b->pull(0).code(), 0);
}

void TestServerIsolation::administratorSetsPassword()
{
    MqttListener session;
    QCOMPARE(session.connect(m_server.mqttPort(), *m_intruder), 0);
    QProcess tool;
    tool.start(ServerHarness::program(), {u"--data-dir"_s, m_server.dataDir(), u"--mqtt-port"_s,
                                          QString::number(m_server.mqttPort()), u"--set-password"_s, kEmail});
    tool.write("a new password\n");
    tool.closeWriteChannel();
    QVERIFY(tool.waitForFinished(20000) && tool.exitCode() == 0);
    m_secrets << SyncClient::md5Hex("a new password");
    // Every sign-in and broker account of the user ends: a lost device cannot read on.
    QCOMPARE(m_intruder->pull(0).status, 401);
    QVERIFY(session.waitForDisconnect());
    QVERIFY(MqttListener().connect(m_server.mqttPort(), *m_b) != 0);
    QCOMPARE(SyncClient(m_server.origin(), u"deviceD"_s).login(kEmail, u"a new password"_s).code(), 0);
}

void TestServerIsolation::logHoldsNoSecrets()
{
    const QByteArray log = m_server.serviceLog();
    QVERIFY(log.contains("/api/"));
    const auto hashes = m_server.storageQuery(u"select password_hash from users"_s);
    QVERIFY(hashes && !hashes->isEmpty());
    for (const QString &secret : m_secrets + *hashes)
        QVERIFY2(!log.contains(secret.toUtf8()), qPrintable(u"the log holds a secret: "_s + secret.left(8)));
}

void TestServerIsolation::killDuringUploadKeepsStoreWhole()
{
    const QByteArray whole(200 * 1024, 'c');
    const QJsonObject committed = pushClip(whole);
    QCOMPARE(post(grantedForm(committed), whole), 200);
    const QByteArray payload(3 * 1024 * 1024, 'i');
    const QJsonObject interrupted = pushClip(payload);
    // The form, sent by hand so that the service gets only half of it.
    QByteArray body;
    for (const auto &[name, value] : grantedForm(interrupted))
        body += "--b0undary\r\nContent-Disposition: form-data; name=\"" + name.toUtf8() + "\"\r\n\r\n" + value
                + "\r\n";
    body += "--b0undary\r\nContent-Disposition: form-data; name=\"file\"; filename=\"payload\"\r\n\r\n"
            + payload + "\r\n--b0undary--\r\n";
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

    // A write cut off inside the object store leaves its temporary file, which the next start
    // sweeps away once old; a young one may be another process's write and stays.
    QFile young(m_server.dataDir() + u"/objects/%1/"_s.arg(m_victim->userId())
                + interrupted["file_hash"_L1].toString() + u".Young1"_s);
    QVERIFY(young.open(QIODevice::WriteOnly));
    QVERIFY(m_server.restartService());
    QVERIFY(young.remove());
    verifyNotStored(interrupted);
    QCOMPARE(m_victim->download(committed).body, whole);
    // The interrupted upload can simply be repeated.
    QCOMPARE(post(grantedForm(interrupted), payload), 200);
}

void TestServerIsolation::expiredSignInsEnd()
{
    SyncClient c(m_server.origin(), u"deviceC0003"_s);
    QCOMPARE(c.login(kEmail, u"a new password"_s).code(), 0);
    MqttListener notices;
    QCOMPARE(notices.connect(m_server.mqttPort(), c), 0);
    QVERIFY(m_server.storageQuery(
        u"update tokens set expires = 1 where digest = '%1'"_s.arg(digestOf(c.userToken()))));
    QCOMPARE(c.pull(0).status, 401);
    // The service sweeps at its first request after a start, then every hour; the device's
    // broker account goes with the sign-in.
    QVERIFY(m_server.restartService());
    QCOMPARE(SyncClient(m_server.origin(), u"probe"_s).get(u"/check_version/"_s, {}, false).code(), 0);
    QTRY_COMPARE(tokenRows(c.userToken()), 0);
    QVERIFY(notices.waitForDisconnect());
}

// Broker accounts are made at sign-in: without the broker a sign-in or registration is refused
// (a device without notices would never know what it misses) and leaves nothing behind.
void TestServerIsolation::signInNeedsTheBroker()
{
    SyncClient device(m_server.origin(), u"brokerless"_s);
    SyncClient newcomer(m_server.origin(), u"newcomer"_s);
    m_server.killBroker();
    QCOMPARE(device.login(kEmail, u"a new password"_s).status, 503);
    QCOMPARE(newcomer.registerUser(u"newcomer@example.org"_s, u"pw"_s).status, 503);
    const auto left =
        m_server.storageQuery(u"select (select count(*) from tokens where device_token = 'brokerless') "
                              "+ (select count(*) from users where email = 'newcomer@example.org')"_s);
    QCOMPARE(left.value_or(QStringList()), QStringList{u"0"_s});
    // The service finds the broker again by itself.
    QVERIFY(m_server.restartBroker());
    QTRY_COMPARE_WITH_TIMEOUT(device.login(kEmail, u"a new password"_s).code(), 0, 15000);
    QCOMPARE(MqttListener().connect(m_server.mqttPort(), device), 0);
}

// Every device may read whether the service is up: "online" (kept by the broker for devices that
// subscribe later) once it is connected, "offline" from the broker when the service dies.
void TestServerIsolation::devicesLearnWhenTheServiceIsBack()
{
    SyncClient device(m_server.origin(), u"waiting-device"_s);
    QCOMPARE(device.login(kEmail, u"a new password"_s).code(), 0);
    // The listener hears that topic only.
    const auto status = [](const char *value) {
        return [value](const MqttListener::Message &m) {
            return m.json.value(u"status"_s) == QLatin1String(value);
        };
    };
    MqttListener listener;
    QCOMPARE(listener.connect(m_server.mqttPort(), device), 0);
    QCOMPARE(listener.subscribe(u"quillet_service"_s), 1);
    QVERIFY(listener.waitFor(status("online")));
    m_server.killService();
    QVERIFY(listener.waitFor(status("offline"), 10000));
    QVERIFY(m_server.restartService());
    QTRY_COMPARE_WITH_TIMEOUT(std::ranges::count_if(listener.messages(), status("online")), 2, 10000);
}

void TestServerIsolation::devicesOfTwoUsersAtOnce()
{
    constexpr int kRecords = 30;
    const bool twoProcesses = qEnvironmentVariable("QUILLET_TEST_STORAGE") == u"postgresql"_s;
    ServerHarness server;
    // Small pages, so that paging is part of the run.
    QJsonObject config{{u"max_pull_records"_s, 20}};
    if (twoProcesses)
        config.insert(u"objects"_s, u"database"_s);
    QVERIFY(server.start({.config = config}));
    QVERIFY(!twoProcesses || server.startSecondService());
    std::vector<Device> devices(8);
    for (int d = 0; d < 8; ++d) {
        Device &device = devices[size_t(d)];
        const QString origin = twoProcesses && d >= 4 ? server.secondOrigin() : server.origin();
        device.client = std::make_unique<SyncClient>(origin, u"device%1"_s.arg(d));
        const QString email = u"user%1@example.org"_s.arg(d % 2);
        QCOMPARE((d < 2 ? device.client->registerUser(email, u"pw"_s) : device.client->login(email, u"pw"_s))
                     .code(),
                 0);
        QCOMPARE(device.notices.connect(server.mqttPort(), *device.client), 0);
        QCOMPARE(device.notices.subscribe(u"user_id_%1"_s.arg(device.client->userId())), 1);
        QVERIFY(device.pull());
    }
    std::vector<std::thread> threads;
    for (int d = 0; d < 8; ++d) {
        threads.emplace_back([&device = devices[size_t(d)], d] {
            for (int i = 0; i < kRecords && !device.failed; ++i) {
                const QByteArray payload = QByteArray::number(d) + " payload " + QByteArray::number(i);
                // Every seventh clip all devices of the user capture: it stays one record.
                const QString text =
                    i % 7 == 6 ? u"shared %1 of %2"_s.arg(i).arg(d % 2) : u"clip %1 of %2"_s.arg(i).arg(d);
                QJsonObject record = SyncClient::textRecord(text, 1700000000 + i);
                if (i % 10 == 3)
                    record.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
                if (i % 5 == 1)
                    record.insert(u"favourite"_s, 1700000000 + i);
                device.pushed << device.client->pushed(record);
                device.failed = device.pushed.last().isEmpty();
                if (i % 10 == 3) {
                    device.failed =
                        device.failed || device.client->upload(device.pushed.last(), payload).status != 200;
                    device.files << device.pushed.last();
                }
                if (i % 4 == 0)
                    device.failed = device.failed || !device.pull();
            }
            device.failed = device.failed || device.client->deleteRecord(device.pushed.first()).code() != 0;
        });
    }
    for (std::thread &thread : threads)
        thread.join();

    for (int d = 0; d < 8; ++d) {
        Device &device = devices[size_t(d)];
        QVERIFY(!device.failed);
        QVERIFY(device.pull());
        QSet<QString> users;
        for (int other = d % 2; other < 8; other += 2) {
            const Device &source = devices[size_t(other)];
            for (const QJsonObject &record : source.pushed)
                users << record["file_hash"_L1].toString();
            if (other == d)
                continue;
            for (const QJsonObject &record : source.pushed) {
                if (record["content"_L1].toString().startsWith("shared"_L1))
                    continue;
                // A record with a payload changes twice (pushed, then its file stored): it may
                // come with each change, any other exactly once (the deleted one perhaps not).
                const qsizetype times = device.pulled.count(record["file_hash"_L1].toString());
                const qsizetype most = source.files.contains(record) ? 2 : 1;
                QVERIFY2(times <= most && (times >= 1 || record == source.pushed.first()),
                         qPrintable(record["file_hash"_L1].toString()));
            }
            QVERIFY(device.deleted.contains(source.pushed.first()["history_id"_L1].toInteger()));
            for (const QJsonObject &file : source.files)
                QCOMPARE(device.client->download(file).status, 200);
        }
        QVERIFY(QSet<QString>(device.pulled.begin(), device.pulled.end()).subtract(users).isEmpty());
        // Every notice of every device of the user arrives, once.
        QTRY_COMPARE_WITH_TIMEOUT(device.notices.messages().size(), 4 * (kRecords / 5 + kRecords / 10 + 1),
                                  10000);
        if (d >= 2)
            continue;
        // A new device of the user gets each of the user's records once (the deleted ones not).
        Device fresh;
        fresh.client = std::make_unique<SyncClient>(server.origin(), u"fresh%1"_s.arg(d));
        QCOMPARE(fresh.client->login(u"user%1@example.org"_s.arg(d), u"pw"_s).code(), 0);
        QVERIFY(fresh.pull());
        for (int other = d; other < 8; other += 2)
            users.remove(devices[size_t(other)].pushed.first()["file_hash"_L1].toString());
        QCOMPARE(QSet<QString>(fresh.pulled.begin(), fresh.pulled.end()), users);
        QCOMPARE(fresh.pulled.size(), users.size());
    }
}

QTEST_GUILESS_MAIN(TestServerIsolation)
#include "tst_server_isolation.moc"
