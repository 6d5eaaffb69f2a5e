// The whole sync protocol walked by two devices of one user against a real service and broker.

#include "MqttListener.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kEmail = u"walk@example.org"_s;
const QString kPassword = u"correct horse"_s;

bool hasNotice(const MqttListener::Message &m, const QString &protocol, const QString &device)
{
    return m.json.value("protocol"_L1).toString() == protocol
           && m.json["data"_L1]["device_token"_L1].toString() == device;
}

QJsonObject findRecord(const QJsonArray &records, const QJsonObject &like)
{
    for (const QJsonValue &v : records) {
        if (v["file_hash"_L1] == like.value("file_hash"_L1))
            return v.toObject();
    }
    return {};
}

qint64 integer(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toInteger();
}

QJsonObject with(QJsonObject record, const char *key, const QJsonValue &value)
{
    record.insert(QLatin1String(key), value);
    return record;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestServerProtocol final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void accounts();
    void pushAndPullWithCursor();
    void favouritesBothWays();
    void uploadDownloadAndNotice();
    void deleteAndClear();
    void versionPluginsAndPasswordMail();
    void expiredTokens();
    void logoutEndsTheSignInAndItsBrokerConnection();
    void favouriteChangesAreAnnounced();
    void administratorSetsPassword();
    void logHoldsNoSecrets();

private:
    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_a;
    std::unique_ptr<SyncClient> m_b;
    MqttListener m_listenerA;
    MqttListener m_listenerB;
    QStringList m_secrets;
};

void TestServerProtocol::initTestCase()
{
    ServerHarness::Options options;
    options.config = {{u"version"_s, u"2.2"_s},
                      {u"update_info"_s, u"faster sync"_s},
                      {u"download_url"_s, u"https://example.org/get"_s},
                      {u"homepage"_s, u"https://example.org/"_s}};
    QVERIFY(m_server.start(options));
    m_a = std::make_unique<SyncClient>(m_server.origin(), u"deviceA0001"_s);
    m_b = std::make_unique<SyncClient>(m_server.origin(), u"deviceB0002"_s);
    QCOMPARE(m_a->registerUser(kEmail, kPassword).code(), 0);
    QCOMPARE(m_b->login(kEmail, kPassword).code(), 0);
    QCOMPARE(m_a->userId(), m_b->userId());
    QVERIFY(m_a->userToken() != m_b->userToken());
    // Each device has a broker account of its own.
    QVERIFY(m_a->mqttUser() != m_b->mqttUser());
    QVERIFY(m_a->mqttPassword() != m_b->mqttPassword());

    const QString topic = u"user_id_"_s + QString::number(m_a->userId());
    QCOMPARE(m_listenerA.connect(m_server.mqttPort(), *m_a), 0);
    QCOMPARE(m_listenerB.connect(m_server.mqttPort(), *m_b), 0);
    QCOMPARE(m_listenerA.subscribe(topic), 1);
    QCOMPARE(m_listenerB.subscribe(topic), 1);
    m_secrets << m_a->userToken() << m_b->userToken() << m_a->mqttPassword() << kEmail
              << SyncClient::md5Hex(kPassword.toUtf8());
}

void TestServerProtocol::accounts()
{
    SyncClient other(m_server.origin(), u"deviceX"_s);
    // Registering a taken address (in any letter case) is the protocol's 1001, on a 200 reply.
    const HttpReply taken = other.registerUser(u"Walk@Example.org"_s, u"x"_s);
    QCOMPARE(taken.status, 200);
    QCOMPARE(taken.code(), 1001);
    const HttpReply wrong = other.login(kEmail, u"wrong"_s);
    QCOMPARE(wrong.status, 401);
    QVERIFY(wrong.code() != 0 && !wrong.json.contains("token"_L1));

    const HttpReply init = m_a->get(u"/init/"_s, u"&device_name=Anna%27s+Mac+mini"_s);
    QCOMPARE(init.code(), 0);
    QCOMPARE(init.json["data"_L1]["homepage"_L1].toString(), u"https://example.org/"_s);
    QCOMPARE(other.get(u"/init/"_s, u"&device_name=x"_s, false).code(), 0);
    other.setUserToken(QString(64, QLatin1Char('a')));
    const HttpReply unknown = other.get(u"/init/"_s, u"&device_name=x"_s);
    QCOMPARE(unknown.status, 200);
    QVERIFY(unknown.code() != 0);
    QCOMPARE(unknown.value("token_expire").toInt(), 1);
}

void TestServerProtocol::pushAndPullWithCursor()
{
    // A device that holds nothing (cursor 0) gets every record, its own included.
    const QJsonObject first = m_b->pushed(SyncClient::textRecord(u"first of all"_s, 1690000000));
    const HttpReply full = m_b->pull(0);
    QCOMPARE(full.histories(), QJsonArray{first});
    const qint64 start = full.cursor();
    const qint64 startA = m_a->pull(0).cursor();
    QVERIFY(start > 0);

    QList<QJsonObject> pushed;
    for (int i = 0; i < 3; ++i) {
        const QJsonObject record = SyncClient::textRecord(u"walk record %1"_s.arg(i), 1700000000 + i);
        const HttpReply reply = m_a->pushRecord(record);
        QCOMPARE(reply.code(), 0);
        const QJsonObject stored = reply.history();
        QVERIFY(integer(stored, "history_id") > 0 && integer(stored, "file_id") > 0);
        QCOMPARE(stored.value("file_ready"_L1).toInt(), 0);
        QCOMPARE(stored.value("content"_L1), record.value("content"_L1));
        pushed << stored;
        m_secrets << record.value("content"_L1).toString();
    }

    // B gets A's records; A does not get its own back.
    const HttpReply pullB = m_b->pull(start);
    QCOMPARE(pullB.code(), 0);
    QCOMPARE(pullB.histories().size(), 3);
    for (const QJsonObject &stored : pushed)
        QCOMPARE(findRecord(pullB.histories(), stored), stored);
    const qint64 cursor = pullB.cursor();
    QVERIFY(cursor > start);
    QVERIFY(m_a->pull(startA).histories().isEmpty());

    // Nothing new: same cursor, nothing returned.
    const HttpReply again = m_b->pull(cursor);
    QVERIFY(again.histories().isEmpty());
    QCOMPARE(again.cursor(), cursor);

    // A PUT (without content) updates the record; B sees the change after its cursor.
    QJsonObject changed = with(pushed[0], "timestamp", 1800000000);
    changed.remove("content"_L1);
    QCOMPARE(m_a->put(u"/push/"_s, {{u"history"_s, changed}}).code(), 0);
    const QJsonArray afterPut = m_b->pull(cursor).histories();
    QCOMPARE(afterPut.size(), 1);
    QCOMPARE(afterPut[0]["timestamp"_L1].toInteger(), 1800000000);
    QCOMPARE(afterPut[0]["content"_L1], pushed[0].value("content"_L1));

    // The same clip captured on B is the same record; an older capture time does not win.
    const QJsonObject merged = m_b->pushed(SyncClient::textRecord(u"walk record 1"_s, 1600000000));
    QCOMPARE(merged.value("history_id"_L1), pushed[1].value("history_id"_L1));
    QCOMPARE(integer(merged, "timestamp"), 1700000001);
    // GET by id and hash, and a PUT of an id this user does not have: tst_server_isolation.
}

void TestServerProtocol::favouritesBothWays()
{
    const QJsonObject x = m_a->pushed(SyncClient::textRecord(u"favourite x"_s, 1700000100));
    const QJsonObject y = m_a->pushed(SyncClient::textRecord(u"favourite y"_s, 1700000101));
    const qint64 t = 1750000000;

    const HttpReply set = m_a->setFavourite(with(x, "favourite", t));
    QCOMPARE(set.code(), 0);
    QCOMPARE(integer(set.history(), "favourite"), t);

    // B holds no favourites: it receives X.
    const HttpReply bFavs = m_b->getFavourites();
    QCOMPARE(bFavs.code(), 0);
    QCOMPARE(integer(findRecord(bFavs.histories(), x), "favourite"), t);

    // B withdraws later; an older decision from A does not override it.
    QCOMPARE(m_b->setFavourite(with(x, "favourite", -(t + 10))).code(), 0);
    QCOMPARE(integer(m_a->setFavourite(with(x, "favourite", t + 5)).history(), "favourite"), -(t + 10));

    // A, still holding X, learns of the withdrawal. A holds Y as a favourite the service did not
    // know: the service takes it. An id the service does not have is to be deleted.
    const auto mark = [](qint64 when) { return QJsonObject{{u"favourite"_s, when}}; };
    const HttpReply aFavs = m_a->getFavourites({{QString::number(integer(x, "history_id")), mark(t)},
                                                {QString::number(integer(y, "history_id")), mark(t + 20)},
                                                {u"999999"_s, mark(t)}});
    QCOMPARE(aFavs.code(), 0);
    const QJsonArray unfav = aFavs.value("unfavourites").toArray();
    QCOMPARE(unfav.size(), 1);
    QCOMPARE(unfav[0]["history_id"_L1].toInteger(), integer(x, "history_id"));
    QCOMPARE(unfav[0]["favourite"_L1].toInteger(), -(t + 10));
    const QJsonArray del = aFavs.value("delfavourites").toArray();
    QCOMPARE(del.size(), 1);
    QCOMPARE(del[0]["history_id"_L1].toInteger(), 999999);
    QVERIFY(findRecord(aFavs.histories(), y).isEmpty());

    // B now receives Y as a favourite.
    const QJsonArray bRecords = m_b->getFavourites().histories();
    QCOMPARE(integer(findRecord(bRecords, y), "favourite"), t + 20);
    QVERIFY(findRecord(bRecords, x).isEmpty());

    // A clip the account does not have: -4, on a 200 reply.
    const HttpReply missing = m_a->setFavourite(SyncClient::textRecord(u"nowhere"_s, 1));
    QCOMPARE(missing.status, 200);
    QCOMPARE(missing.code(), -4);
}

void TestServerProtocol::uploadDownloadAndNotice()
{
    QByteArray payload(300 * 1024, Qt::Uninitialized);
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char((quint32(i) * 7919u) >> 3);
    const QString hash = SyncClient::md5Hex(payload);
    const QJsonObject record{{u"content"_s, u"thumbnail"_s},
                             {u"timestamp"_s, 1700000200},
                             {u"file_hash"_s, hash},
                             {u"type"_s, u"image_data+zip"_s},
                             {u"device_name"_s, u"A"_s}};
    const QJsonObject stored = m_a->pushed(record);

    // Not uploaded yet: nothing to download.
    QCOMPARE(m_b->download(stored).status, 404);
    const HttpReply uploaded = m_a->upload(stored, payload);
    QCOMPARE(uploaded.status, 200);
    QCOMPARE(uploaded.code(), 0);

    const auto isUploadNotice = [&](const MqttListener::Message &m) {
        const QJsonObject data = m.json.value("data"_L1).toObject();
        return hasNotice(m, u"history_upload_file"_s, m_a->deviceToken())
               && data.value("file_hash"_L1).toString() == hash
               && integer(data, "history_id") == integer(stored, "history_id")
               && integer(data, "file_id") == integer(stored, "file_id");
    };
    QVERIFY(m_listenerB.waitFor(isUploadNotice));
    // The causing device receives it too, with its own token, and so ignores it.
    QVERIFY(m_listenerA.waitFor(isUploadNotice));

    const HttpReply downloaded = m_b->download(stored);
    QCOMPARE(downloaded.status, 200);
    QCOMPARE(downloaded.body, payload);
    // The wrong file id for the hash gives nothing.
    QCOMPARE(m_b->download(hash, integer(stored, "file_id") + 1000).status, 404);

    // The record is file-ready for everyone, with its size (what GET hands to a notified device).
    const QJsonObject got = m_b->getRecord(stored).history();
    QCOMPARE(got.value("file_ready"_L1).toInt(), 1);
    QCOMPARE(integer(got, "file_size"), payload.size());
    // A later POST of the same clip from B reports it ready, so B does not upload it again.
    QCOMPARE(m_b->pushed(record).value("file_ready"_L1).toInt(), 1);
}

void TestServerProtocol::deleteAndClear()
{
    const qint64 cursor = m_b->pull(0).cursor();
    const QJsonObject doomed = m_a->pushed(SyncClient::textRecord(u"to be deleted"_s, 1700000300));
    QCOMPARE(m_a->deleteRecord(doomed).code(), 0);
    QVERIFY(m_listenerB.waitFor([&](const MqttListener::Message &m) {
        return hasNotice(m, u"history_delete"_s, m_a->deviceToken())
               && m.json["data"_L1]["file_hash"_L1] == doomed.value("file_hash"_L1);
    }));
    const HttpReply afterDelete = m_b->pull(cursor);
    const QJsonArray actions = afterDelete.value("action").toArray();
    QCOMPARE(actions.size(), 1);
    QCOMPARE(actions[0]["action"_L1].toString(), u"del"_s);
    QCOMPARE(actions[0]["history_id"_L1].toInteger(), integer(doomed, "history_id"));
    QVERIFY(findRecord(afterDelete.histories(), doomed).isEmpty());
    // Deleting it again is not an error.
    QCOMPARE(m_b->deleteRecord(doomed).code(), 0);

    // Clear: every non-favourite record goes, favourites stay; the count says how many went.
    const QJsonObject keep = m_a->pushed(SyncClient::textRecord(u"kept favourite"_s, 1700000400));
    QCOMPARE(m_a->setFavourite(with(keep, "favourite", 1760000000)).code(), 0);
    SyncClient counter(m_server.origin(), u"deviceCount"_s);
    counter.setUserToken(m_a->userToken());
    int nonFavourites = 0;
    for (const QJsonValue &v : counter.pull(0).histories())
        nonFavourites += v["favourite"_L1].toInteger() <= 0 ? 1 : 0;
    QVERIFY(nonFavourites > 0);

    const HttpReply cleared = m_a->get(u"/clear_history/"_s);
    QCOMPARE(cleared.code(), 0);
    QCOMPARE(cleared.value("count").toInt(), nonFavourites);
    QVERIFY(m_listenerB.waitFor([&](const MqttListener::Message &m) {
        return hasNotice(m, u"history_clear"_s, m_a->deviceToken())
               && m.json["data"_L1]["timestamp"_L1].toInteger() > 0;
    }));
    QVERIFY(m_b->pull(afterDelete.cursor()).value("clear_all_ts").toInteger() > 0);
    const HttpReply fullPull = counter.pull(0);
    // A device that holds nothing has nothing to delete.
    QVERIFY(!fullPull.json.contains("clear_all_ts"_L1));
    QVERIFY(fullPull.value("action").toArray().isEmpty());
    const QJsonArray left = fullPull.histories();
    QVERIFY(!left.isEmpty());
    for (const QJsonValue &v : left)
        QVERIFY(v["favourite"_L1].toInteger() > 0);
    QVERIFY(!findRecord(left, keep).isEmpty());
    // The uploaded payload of a cleared record is gone from the object store.
    QDir objects(m_server.dataDir() + u"/objects/"_s + QString::number(m_a->userId()));
    QCOMPARE(objects.entryList(QDir::Files).size(), 0);
}

void TestServerProtocol::versionPluginsAndPasswordMail()
{
    const HttpReply version = m_a->get(u"/check_version/"_s, {}, false);
    QCOMPARE(version.code(), 0);
    const QJsonValue data = version.value("data");
    QCOMPARE(data["version"_L1].toString(), u"2.2"_s);
    // (A service whose config.json names no version offers its own: tst_server_housekeeping.)
    QCOMPARE(data["update_info"_L1].toString(), u"faster sync"_s);
    QCOMPARE(data["download_url"_L1].toString(), u"https://example.org/get"_s);

    // The store's list and package downloads (tst_plugin_store reads the list in depth); the
    // descriptions and anything outside the store folder are not served.
    const QString store = m_server.dataDir() + u"/plugins/"_s;
    QVERIFY(writeFile(store + u"upper.cpk"_s, "PK package bytes"));
    QVERIFY(writeFile(
        store + u"upper.json"_s,
        R"({"name":"Upper","desc":"to upper case","version":"1.10","author":"Q","bundle_id":"org.example.upper"})"));
    const HttpReply list = m_a->get(u"/plugins/"_s, {}, false);
    QCOMPARE(list.code(), 0);
    QCOMPARE(list.json["plugin_url"_L1]["org.example.upper"_L1].toString(),
             m_server.apiUrl() + u"/plugin_files/upper.cpk"_s);
    QCOMPARE(list.json["plugin_dict"_L1]["org.example.upper"_L1]["version"_L1].toString(), u"1.10"_s);
    const HttpReply bytes = m_a->get(u"/plugin_files/upper.cpk"_s, {}, false);
    QCOMPARE(bytes.status, 200);
    QCOMPARE(bytes.body, QByteArray("PK package bytes"));
    QCOMPARE(m_a->get(u"/plugin_files/upper.json"_s, {}, false).status, 404);
    QCOMPARE(m_a->get(u"/plugin_files/..%2Fconfig.json"_s, {}, false).status, 404);

    // (An unknown address is 1002: tst_sync_requests.)
    QCOMPARE(m_a->get(u"/forget_pwd/"_s, u"&user_email="_s + kEmail, false).code(), 0);
    const QDir outbox(m_server.dataDir() + u"/outbox"_s);
    const QStringList mails = outbox.entryList(QDir::Files);
    QCOMPARE(mails.size(), 1);
    QFile mail(outbox.filePath(mails.first()));
    QVERIFY(mail.open(QIODevice::ReadOnly));
    QVERIFY(mail.readAll().contains(QByteArray("To: " + kEmail.toUtf8())));
}

void TestServerProtocol::expiredTokens()
{
    SyncClient c(m_server.origin(), u"deviceC0003"_s);
    QCOMPARE(c.login(kEmail, kPassword).code(), 0);
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(c.userToken().toUtf8(), QCryptographicHash::Sha256).toHex());
    const auto expiry = [this, &digest] {
        const auto rows = m_server.storageQuery(u"select expires from tokens where digest = ?"_s, {digest});
        return rows && rows->size() == 1 ? rows->first().toLongLong() : -1;
    };
    // A token in use stays valid: its expiry moves forward.
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QVERIFY(m_server.storageQuery(u"update tokens set expires = ? where digest = ?"_s, {now + 100, digest}));
    QCOMPARE(c.pull(0).code(), 0);
    QVERIFY(expiry() > now + 29 * 24 * 3600);

    QVERIFY(m_server.storageQuery(u"update tokens set expires = 1 where digest = ?"_s, {digest}));
    QCOMPARE(expiry(), 1);
    // "/init/" answers token_expire (tst_sync_requests); the other endpoints refuse.
    const QString file = u"&file_hash="_s + QString(32, QLatin1Char('0')) + u"&file_id=1"_s;
    QCOMPARE(c.get(u"/get_upload_token/"_s, file).status, 401);
    QCOMPARE(c.get(u"/download_file/"_s, file).status, 401);
    QCOMPARE(c.pull(0).status, 401);
    // The other devices' sign-ins are untouched.
    QCOMPARE(m_a->pull(0).code(), 0);
}

void TestServerProtocol::logoutEndsTheSignInAndItsBrokerConnection()
{
    SyncClient e(m_server.origin(), u"deviceE0005"_s);
    QCOMPARE(e.login(kEmail, kPassword).code(), 0);
    // A new sign-in of the device gets a new broker password; the earlier one is over.
    const QString earlier = e.mqttPassword();
    QCOMPARE(e.login(kEmail, kPassword).code(), 0);
    QVERIFY(e.mqttPassword() != earlier);
    QVERIFY(MqttListener(e.deviceToken()).connect(m_server.mqttPort(), e.mqttUser(), earlier) != 0);
    MqttListener session;
    QCOMPARE(session.connect(m_server.mqttPort(), e), 0);
    QCOMPARE(e.pull(0).code(), 0);

    // Signing out removes the device's broker account, which ends its connection.
    QCOMPARE(e.get(u"/logout/"_s).code(), 0);
    QVERIFY(session.waitForDisconnect());
    QVERIFY(MqttListener().connect(m_server.mqttPort(), e) != 0);
    // The old token no longer pulls anything, and the next start learns it is over.
    QCOMPARE(e.pull(0).status, 401);
    QCOMPARE(e.get(u"/init/"_s, u"&device_name=x"_s).value("token_expire").toInt(), 1);
    QCOMPARE(e.get(u"/logout/"_s).status, 401);
    // The user's other sign-ins, and their notices, go on.
    QCOMPARE(m_b->pull(0).code(), 0);
    const QJsonObject record = m_b->pushed(SyncClient::textRecord(u"after a logout"_s, 1700000900));
    QCOMPARE(m_b->deleteRecord(record).code(), 0);
    QVERIFY(m_listenerA.waitFor([&](const MqttListener::Message &m) {
        return hasNotice(m, u"history_delete"_s, m_b->deviceToken())
               && m.json["data"_L1]["file_hash"_L1] == record.value("file_hash"_L1);
    }));
}

// A favourite decision the service takes is announced to the other devices with the record;
// one it does not take (older than the stored one) is not.
void TestServerProtocol::favouriteChangesAreAnnounced()
{
    const QJsonObject clip = m_a->pushed(SyncClient::textRecord(u"liked live"_s, 1700000950));
    const qint64 t = 1760000000;
    const auto isFavouriteNotice = [&](qint64 favourite) {
        return [&clip, favourite, this](const MqttListener::Message &m) {
            const QJsonObject history = m.json["data"_L1]["history"_L1].toObject();
            return hasNotice(m, u"history_favourite"_s, m_a->deviceToken())
                   && history.value("file_hash"_L1) == clip.value("file_hash"_L1)
                   && history.value("history_id"_L1) == clip.value("history_id"_L1)
                   && history.value("favourite"_L1).toInteger() == favourite;
        };
    };
    QCOMPARE(m_a->setFavourite(with(clip, "favourite", t)).code(), 0);
    QVERIFY(m_listenerB.waitFor(isFavouriteNotice(t)));
    QCOMPARE(m_a->setFavourite(with(clip, "favourite", -(t + 1))).code(), 0);
    QVERIFY(m_listenerB.waitFor(isFavouriteNotice(-(t + 1))));
    // An older decision changes nothing; a clip first sent as a favourite is announced too.
    QCOMPARE(m_a->setFavourite(with(clip, "favourite", t - 5)).code(), 0);
    const QJsonObject marked =
        m_a->pushed(with(SyncClient::textRecord(u"sent as a favourite"_s, 1700000951), "favourite", t + 2));
    QVERIFY(m_listenerB.waitFor([&](const MqttListener::Message &m) {
        return hasNotice(m, u"history_favourite"_s, m_a->deviceToken())
               && m.json["data"_L1]["history"_L1]["file_hash"_L1] == marked.value("file_hash"_L1);
    }));
    // Notices of one topic arrive in order: the older decision, sent before, was not announced.
    QVERIFY(!m_listenerB.waitFor(isFavouriteNotice(t - 5), 0));
    // A later decision handed over at a reconciliation is announced as well.
    const QJsonObject held{
        {QString::number(clip.value("history_id"_L1).toInteger()), QJsonObject{{u"favourite"_s, t + 3}}}};
    QCOMPARE(m_a->getFavourites(held).code(), 0);
    QVERIFY(m_listenerB.waitFor(isFavouriteNotice(t + 3)));
}

void TestServerProtocol::administratorSetsPassword()
{
    const auto setPassword = [this](const QString &email) {
        QProcess tool;
        tool.start(ServerHarness::program(),
                   {u"--data-dir"_s, m_server.dataDir(), u"--mqtt-port"_s,
                    QString::number(m_server.mqttPort()), u"--set-password"_s, email});
        tool.write("a new password\n");
        tool.closeWriteChannel();
        return tool.waitForFinished(20000) ? tool.exitCode() : -1;
    };
    QCOMPARE(setPassword(u"nobody@example.org"_s), 1);
    QCOMPARE(setPassword(u"WALK@example.org"_s), 0);
    m_secrets << SyncClient::md5Hex("a new password");

    // Every sign-in of the user ends, and so does every device's broker account: a lost device
    // cannot read on with the broker password it holds.
    QCOMPARE(m_a->pull(0).status, 401);
    QVERIFY(m_listenerA.waitForDisconnect());
    QVERIFY(MqttListener().connect(m_server.mqttPort(), *m_a) != 0);
    QVERIFY(MqttListener().connect(m_server.mqttPort(), *m_b) != 0);
    SyncClient d(m_server.origin(), u"deviceD0004"_s);
    QCOMPARE(d.login(kEmail, kPassword).status, 401);
    QCOMPARE(d.login(kEmail, u"a new password"_s).code(), 0);
    QCOMPARE(d.pull(0).code(), 0);
}

void TestServerProtocol::logHoldsNoSecrets()
{
    const QByteArray log = m_server.serviceLog();
    QVERIFY(log.contains("/api/pull/"));
    for (const QString &secret : std::as_const(m_secrets))
        QVERIFY2(!log.contains(secret.toUtf8()), qPrintable(u"the log holds a secret: "_s + secret.left(8)));
    // Nor do the stored password hashes or token digests.
    const auto hashes = m_server.storageQuery(u"select password_hash from users"_s);
    QVERIFY(hashes && !hashes->isEmpty());
    for (const QString &hash : *hashes)
        QVERIFY(!log.contains(hash.toUtf8()));
}

QTEST_GUILESS_MAIN(TestServerProtocol)
#include "tst_server_protocol.moc"
