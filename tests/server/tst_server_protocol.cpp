// The whole sync protocol walked by two devices of one user against a real service and broker.

#include "MqttListener.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include "support/Database.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QTest>

namespace {

const QString kEmail = QStringLiteral("walk@example.org");
const QString kPassword = QStringLiteral("correct horse");

bool hasNotice(const MqttListener::Message &m, const QString &protocol, const QString &device)
{
    return m.json.value(QStringLiteral("protocol")).toString() == protocol
           && m.json.value(QStringLiteral("data")).toObject().value(QStringLiteral("device_token")).toString()
                  == device;
}

QJsonObject findRecord(const QJsonArray &records, const QString &fileHash)
{
    for (const QJsonValue &v : records) {
        if (v.toObject().value(QStringLiteral("file_hash")).toString() == fileHash)
            return v.toObject();
    }
    return {};
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
    options.config = {{QStringLiteral("version"), QStringLiteral("2.2")},
                      {QStringLiteral("update_info"), QStringLiteral("faster sync")},
                      {QStringLiteral("download_url"), QStringLiteral("https://example.org/get")},
                      {QStringLiteral("homepage"), QStringLiteral("https://example.org/")}};
    QVERIFY(m_server.start(options));
    m_a = std::make_unique<SyncClient>(m_server.origin(), QStringLiteral("deviceA0001"));
    m_b = std::make_unique<SyncClient>(m_server.origin(), QStringLiteral("deviceB0002"));
    QCOMPARE(m_a->registerUser(kEmail, kPassword).code(), 0);
    QCOMPARE(m_b->login(kEmail, kPassword).code(), 0);
    QCOMPARE(m_a->userId(), m_b->userId());
    QVERIFY(m_a->userToken() != m_b->userToken());
    QCOMPARE(m_a->mqttUser(), QString::number(m_a->userId()));

    const QString topic = QStringLiteral("user_id_") + QString::number(m_a->userId());
    QCOMPARE(m_listenerA.connect(m_server.mqttPort(), m_a->mqttUser(), m_a->mqttPassword()), 0);
    QCOMPARE(m_listenerB.connect(m_server.mqttPort(), m_b->mqttUser(), m_b->mqttPassword()), 0);
    QCOMPARE(m_listenerA.subscribe(topic), 1);
    QCOMPARE(m_listenerB.subscribe(topic), 1);
    m_secrets << m_a->userToken() << m_b->userToken() << m_a->mqttPassword() << kEmail
              << SyncClient::md5Hex(kPassword.toUtf8());
}

void TestServerProtocol::accounts()
{
    SyncClient other(m_server.origin(), QStringLiteral("deviceX"));
    // Registering a taken address (in any letter case) is the protocol's 1001, on a 200 reply.
    const HttpReply taken = other.registerUser(QStringLiteral("Walk@Example.org"), QStringLiteral("x"));
    QCOMPARE(taken.status, 200);
    QCOMPARE(taken.code(), 1001);
    const HttpReply wrong = other.login(kEmail, QStringLiteral("wrong"));
    QVERIFY(wrong.code() != 0);
    QCOMPARE(wrong.status, 401);
    QVERIFY(!wrong.json.contains(QStringLiteral("token")));

    const HttpReply init =
        m_a->get(QStringLiteral("/init/"), QStringLiteral("&device_name=Anna%27s+Mac+mini"));
    QCOMPARE(init.code(), 0);
    QCOMPARE(init.json.value(QStringLiteral("data")).toObject().value(QStringLiteral("homepage")).toString(),
             QStringLiteral("https://example.org/"));
    const HttpReply signedOut = other.get(QStringLiteral("/init/"), QStringLiteral("&device_name=x"), false);
    QCOMPARE(signedOut.code(), 0);
    other.setUserToken(QString(64, QLatin1Char('a')));
    const HttpReply unknown = other.get(QStringLiteral("/init/"), QStringLiteral("&device_name=x"));
    QCOMPARE(unknown.status, 200);
    QVERIFY(unknown.code() != 0);
    QCOMPARE(unknown.json.value(QStringLiteral("token_expire")).toInt(), 1);
}

void TestServerProtocol::pushAndPullWithCursor()
{
    // A device that holds nothing (cursor 0) gets every record, its own included.
    const QJsonObject first =
        m_b->pushRecord(SyncClient::textRecord(QStringLiteral("first of all"), 1690000000))
            .json.value(QStringLiteral("history"))
            .toObject();
    const HttpReply full = m_b->pull(0);
    QCOMPARE(full.json.value(QStringLiteral("histories")).toArray().size(), 1);
    QCOMPARE(full.json.value(QStringLiteral("histories")).toArray().first().toObject(), first);
    const qint64 start = full.json.value(QStringLiteral("request_timestamp")).toInteger();
    const qint64 startA = m_a->pull(0).json.value(QStringLiteral("request_timestamp")).toInteger();
    QVERIFY(start > 0);

    QList<QJsonObject> pushed;
    for (int i = 0; i < 3; ++i) {
        const QJsonObject record =
            SyncClient::textRecord(QStringLiteral("walk record %1").arg(i), 1700000000 + i);
        const HttpReply reply = m_a->pushRecord(record);
        QCOMPARE(reply.code(), 0);
        const QJsonObject stored = reply.json.value(QStringLiteral("history")).toObject();
        QVERIFY(stored.value(QStringLiteral("history_id")).toInteger() > 0);
        QVERIFY(stored.value(QStringLiteral("file_id")).toInteger() > 0);
        QCOMPARE(stored.value(QStringLiteral("file_ready")).toInt(), 0);
        QCOMPARE(stored.value(QStringLiteral("content")).toString(),
                 record.value(QStringLiteral("content")).toString());
        pushed << stored;
        m_secrets << record.value(QStringLiteral("content")).toString();
    }

    // B gets A's records; A does not get its own back.
    const HttpReply pullB = m_b->pull(start);
    QCOMPARE(pullB.code(), 0);
    const QJsonArray histories = pullB.json.value(QStringLiteral("histories")).toArray();
    QCOMPARE(histories.size(), 3);
    for (const QJsonObject &stored : pushed)
        QCOMPARE(findRecord(histories, stored.value(QStringLiteral("file_hash")).toString()), stored);
    const qint64 cursor = pullB.json.value(QStringLiteral("request_timestamp")).toInteger();
    QVERIFY(cursor > start);
    QVERIFY(m_a->pull(startA).json.value(QStringLiteral("histories")).toArray().isEmpty());

    // Nothing new: same cursor, nothing returned.
    const HttpReply again = m_b->pull(cursor);
    QVERIFY(again.json.value(QStringLiteral("histories")).toArray().isEmpty());
    QCOMPARE(again.json.value(QStringLiteral("request_timestamp")).toInteger(), cursor);

    // A PUT (without content) updates the record; B sees the change after its cursor.
    QJsonObject changed = pushed[0];
    changed.remove(QStringLiteral("content"));
    changed.insert(QStringLiteral("timestamp"), 1800000000);
    QCOMPARE(m_a->put(QStringLiteral("/push/"), {{QStringLiteral("history"), changed}}).code(), 0);
    const QJsonArray afterPut = m_b->pull(cursor).json.value(QStringLiteral("histories")).toArray();
    QCOMPARE(afterPut.size(), 1);
    QCOMPARE(afterPut[0].toObject().value(QStringLiteral("timestamp")).toInteger(), 1800000000);
    QCOMPARE(afterPut[0].toObject().value(QStringLiteral("content")).toString(),
             pushed[0].value(QStringLiteral("content")).toString());

    // The same clip captured on B is the same record; an older capture time does not win.
    const QJsonObject sameClip = SyncClient::textRecord(QStringLiteral("walk record 1"), 1600000000);
    const QJsonObject merged = m_b->pushRecord(sameClip).json.value(QStringLiteral("history")).toObject();
    QCOMPARE(merged.value(QStringLiteral("history_id")), pushed[1].value(QStringLiteral("history_id")));
    QCOMPARE(merged.value(QStringLiteral("timestamp")).toInteger(), 1700000001);

    // GET by id and hash.
    const QString id = QString::number(pushed[2].value(QStringLiteral("history_id")).toInteger());
    const HttpReply got =
        m_b->get(QStringLiteral("/push/"), QStringLiteral("&history_id=") + id + QStringLiteral("&file_hash=")
                                               + pushed[2].value(QStringLiteral("file_hash")).toString());
    QCOMPARE(got.code(), 0);
    QCOMPARE(got.json.value(QStringLiteral("history")).toObject(), pushed[2]);

    // PUT of a record the service does not know: the device makes its clip local only.
    QJsonObject unknown = SyncClient::textRecord(QStringLiteral("never pushed"), 1700000000);
    unknown.insert(QStringLiteral("history_id"), 987654);
    const HttpReply gone = m_a->put(QStringLiteral("/push/"), {{QStringLiteral("history"), unknown}});
    QCOMPARE(gone.status, 200);
    QCOMPARE(gone.code(), -10);
}

void TestServerProtocol::favouritesBothWays()
{
    const QJsonObject x = m_a->pushRecord(SyncClient::textRecord(QStringLiteral("favourite x"), 1700000100))
                              .json.value(QStringLiteral("history"))
                              .toObject();
    const QJsonObject y = m_a->pushRecord(SyncClient::textRecord(QStringLiteral("favourite y"), 1700000101))
                              .json.value(QStringLiteral("history"))
                              .toObject();
    const qint64 xId = x.value(QStringLiteral("history_id")).toInteger();
    const qint64 yId = y.value(QStringLiteral("history_id")).toInteger();
    const qint64 t = 1750000000;

    QJsonObject marked = x;
    marked.insert(QStringLiteral("favourite"), t);
    const HttpReply set =
        m_a->post(QStringLiteral("/set_favourite/"), QJsonObject{{QStringLiteral("history"), marked}});
    QCOMPARE(set.code(), 0);
    QCOMPARE(
        set.json.value(QStringLiteral("history")).toObject().value(QStringLiteral("favourite")).toInteger(),
        t);

    // B holds no favourites: it receives X.
    const HttpReply bFavs = m_b->post(QStringLiteral("/get_favourite/"),
                                      QJsonObject{{QStringLiteral("favourites"), QJsonObject{}}});
    QCOMPARE(bFavs.code(), 0);
    QCOMPARE(findRecord(bFavs.json.value(QStringLiteral("histories")).toArray(),
                        x.value(QStringLiteral("file_hash")).toString())
                 .value(QStringLiteral("favourite"))
                 .toInteger(),
             t);

    // B withdraws later; A, still holding X, learns of it. A holds Y as a favourite the service
    // did not know: the service takes it.
    QJsonObject withdrawn = x;
    withdrawn.insert(QStringLiteral("favourite"), -(t + 10));
    QCOMPARE(m_b->post(QStringLiteral("/set_favourite/"), QJsonObject{{QStringLiteral("history"), withdrawn}})
                 .code(),
             0);
    // An older decision does not override it.
    QJsonObject stale = x;
    stale.insert(QStringLiteral("favourite"), t + 5);
    QCOMPARE(m_a->post(QStringLiteral("/set_favourite/"), QJsonObject{{QStringLiteral("history"), stale}})
                 .json.value(QStringLiteral("history"))
                 .toObject()
                 .value(QStringLiteral("favourite"))
                 .toInteger(),
             -(t + 10));

    const QJsonObject held{{QString::number(xId), QJsonObject{{QStringLiteral("favourite"), t}}},
                           {QString::number(yId), QJsonObject{{QStringLiteral("favourite"), t + 20}}},
                           {QStringLiteral("999999"), QJsonObject{{QStringLiteral("favourite"), t}}}};
    const HttpReply aFavs =
        m_a->post(QStringLiteral("/get_favourite/"), QJsonObject{{QStringLiteral("favourites"), held}});
    QCOMPARE(aFavs.code(), 0);
    const QJsonArray unfav = aFavs.json.value(QStringLiteral("unfavourites")).toArray();
    QCOMPARE(unfav.size(), 1);
    QCOMPARE(unfav[0].toObject().value(QStringLiteral("history_id")).toInteger(), xId);
    QCOMPARE(unfav[0].toObject().value(QStringLiteral("favourite")).toInteger(), -(t + 10));
    const QJsonArray del = aFavs.json.value(QStringLiteral("delfavourites")).toArray();
    QCOMPARE(del.size(), 1);
    QCOMPARE(del[0].toObject().value(QStringLiteral("history_id")).toInteger(), 999999);
    QVERIFY(findRecord(aFavs.json.value(QStringLiteral("histories")).toArray(),
                       y.value(QStringLiteral("file_hash")).toString())
                .isEmpty());

    // B now receives Y as a favourite.
    const HttpReply bAgain = m_b->post(QStringLiteral("/get_favourite/"),
                                       QJsonObject{{QStringLiteral("favourites"), QJsonObject{}}});
    const QJsonArray bRecords = bAgain.json.value(QStringLiteral("histories")).toArray();
    QCOMPARE(findRecord(bRecords, y.value(QStringLiteral("file_hash")).toString())
                 .value(QStringLiteral("favourite"))
                 .toInteger(),
             t + 20);
    QVERIFY(findRecord(bRecords, x.value(QStringLiteral("file_hash")).toString()).isEmpty());

    // A clip the account does not have: -4, on a 200 reply.
    const HttpReply missing = m_a->post(
        QStringLiteral("/set_favourite/"),
        QJsonObject{{QStringLiteral("history"), SyncClient::textRecord(QStringLiteral("nowhere"), 1)}});
    QCOMPARE(missing.status, 200);
    QCOMPARE(missing.code(), -4);
}

void TestServerProtocol::uploadDownloadAndNotice()
{
    QByteArray payload(300 * 1024, Qt::Uninitialized);
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char((i * 7919) >> 3);
    const QString hash = SyncClient::md5Hex(payload);
    QJsonObject record{{QStringLiteral("content"), QStringLiteral("thumbnail")},
                       {QStringLiteral("timestamp"), 1700000200},
                       {QStringLiteral("file_hash"), hash},
                       {QStringLiteral("type"), QStringLiteral("image_data+zip")},
                       {QStringLiteral("device_name"), QStringLiteral("A")}};
    const QJsonObject stored = m_a->pushRecord(record).json.value(QStringLiteral("history")).toObject();
    const qint64 fileId = stored.value(QStringLiteral("file_id")).toInteger();
    const qint64 historyId = stored.value(QStringLiteral("history_id")).toInteger();

    // Not uploaded yet: nothing to download.
    QCOMPARE(m_b->download(hash, fileId).status, 404);

    const HttpReply uploaded = m_a->upload(hash, fileId, payload);
    QCOMPARE(uploaded.status, 200);
    QCOMPARE(uploaded.code(), 0);

    const auto isUploadNotice = [&](const MqttListener::Message &m) {
        const QJsonObject data = m.json.value(QStringLiteral("data")).toObject();
        return hasNotice(m, QStringLiteral("history_upload_file"), m_a->deviceToken())
               && data.value(QStringLiteral("file_hash")).toString() == hash
               && data.value(QStringLiteral("history_id")).toInteger() == historyId
               && data.value(QStringLiteral("file_id")).toInteger() == fileId;
    };
    QVERIFY(m_listenerB.waitFor(isUploadNotice));
    // The causing device receives it too, with its own token, and so ignores it.
    QVERIFY(m_listenerA.waitFor(isUploadNotice));

    const HttpReply downloaded = m_b->download(hash, fileId);
    QCOMPARE(downloaded.status, 200);
    QCOMPARE(downloaded.body, payload);
    // The wrong file id for the hash gives nothing.
    QCOMPARE(m_b->download(hash, fileId + 1000).status, 404);

    // The record is file-ready for everyone, with its size (what GET hands to a notified device).
    const HttpReply got =
        m_b->get(QStringLiteral("/push/"), QStringLiteral("&history_id=") + QString::number(historyId)
                                               + QStringLiteral("&file_hash=") + hash);
    QCOMPARE(got.json.value(QStringLiteral("history")).toObject().value(QStringLiteral("file_ready")).toInt(),
             1);
    QCOMPARE(
        got.json.value(QStringLiteral("history")).toObject().value(QStringLiteral("file_size")).toInteger(),
        payload.size());
    // A later POST of the same clip from B reports it ready, so B does not upload it again.
    QCOMPARE(m_b->pushRecord(record)
                 .json.value(QStringLiteral("history"))
                 .toObject()
                 .value(QStringLiteral("file_ready"))
                 .toInt(),
             1);
}

void TestServerProtocol::deleteAndClear()
{
    const qint64 cursor = m_b->pull(0).json.value(QStringLiteral("request_timestamp")).toInteger();
    const QJsonObject doomed =
        m_a->pushRecord(SyncClient::textRecord(QStringLiteral("to be deleted"), 1700000300))
            .json.value(QStringLiteral("history"))
            .toObject();
    const qint64 doomedId = doomed.value(QStringLiteral("history_id")).toInteger();
    QCOMPARE(
        m_a->del(QStringLiteral("/push/"), QStringLiteral("&history_id=") + QString::number(doomedId)).code(),
        0);
    QVERIFY(m_listenerB.waitFor([&](const MqttListener::Message &m) {
        return hasNotice(m, QStringLiteral("history_delete"), m_a->deviceToken())
               && m.json.value(QStringLiteral("data"))
                          .toObject()
                          .value(QStringLiteral("file_hash"))
                          .toString()
                      == doomed.value(QStringLiteral("file_hash")).toString();
    }));
    const HttpReply afterDelete = m_b->pull(cursor);
    const QJsonArray actions = afterDelete.json.value(QStringLiteral("action")).toArray();
    QCOMPARE(actions.size(), 1);
    QCOMPARE(actions[0].toObject().value(QStringLiteral("action")).toString(), QStringLiteral("del"));
    QCOMPARE(actions[0].toObject().value(QStringLiteral("history_id")).toInteger(), doomedId);
    QVERIFY(findRecord(afterDelete.json.value(QStringLiteral("histories")).toArray(),
                       doomed.value(QStringLiteral("file_hash")).toString())
                .isEmpty());
    // Deleting it again is not an error.
    QCOMPARE(
        m_b->del(QStringLiteral("/push/"), QStringLiteral("&history_id=") + QString::number(doomedId)).code(),
        0);

    // Clear: every non-favourite record goes, favourites stay; the count says how many went.
    const qint64 beforeClear = afterDelete.json.value(QStringLiteral("request_timestamp")).toInteger();
    const QJsonObject keep =
        m_a->pushRecord(SyncClient::textRecord(QStringLiteral("kept favourite"), 1700000400))
            .json.value(QStringLiteral("history"))
            .toObject();
    QJsonObject keepFav = keep;
    keepFav.insert(QStringLiteral("favourite"), 1760000000);
    QCOMPARE(m_a->post(QStringLiteral("/set_favourite/"), QJsonObject{{QStringLiteral("history"), keepFav}})
                 .code(),
             0);
    SyncClient counter(m_server.origin(), QStringLiteral("deviceCount"));
    counter.setUserToken(m_a->userToken());
    const QJsonArray all = counter.pull(0).json.value(QStringLiteral("histories")).toArray();
    int nonFavourites = 0;
    for (const QJsonValue &v : all)
        nonFavourites += v.toObject().value(QStringLiteral("favourite")).toInteger() <= 0 ? 1 : 0;
    QVERIFY(nonFavourites > 0);

    const HttpReply cleared = m_a->get(QStringLiteral("/clear_history/"));
    QCOMPARE(cleared.code(), 0);
    QCOMPARE(cleared.json.value(QStringLiteral("count")).toInt(), nonFavourites);
    QVERIFY(m_listenerB.waitFor([&](const MqttListener::Message &m) {
        return hasNotice(m, QStringLiteral("history_clear"), m_a->deviceToken())
               && m.json.value(QStringLiteral("data"))
                          .toObject()
                          .value(QStringLiteral("timestamp"))
                          .toInteger()
                      > 0;
    }));
    const HttpReply afterClear = m_b->pull(beforeClear);
    QVERIFY(afterClear.json.value(QStringLiteral("clear_all_ts")).toInteger() > 0);
    const HttpReply fullPull = counter.pull(0);
    // A device that holds nothing has nothing to delete.
    QVERIFY(!fullPull.json.contains(QStringLiteral("clear_all_ts")));
    QVERIFY(fullPull.json.value(QStringLiteral("action")).toArray().isEmpty());
    const QJsonArray left = fullPull.json.value(QStringLiteral("histories")).toArray();
    QVERIFY(!left.isEmpty());
    for (const QJsonValue &v : left)
        QVERIFY(v.toObject().value(QStringLiteral("favourite")).toInteger() > 0);
    QVERIFY(!findRecord(left, keep.value(QStringLiteral("file_hash")).toString()).isEmpty());
    // The uploaded payload of a cleared record is gone from the object store.
    QDir objects(m_server.dataDir() + QStringLiteral("/objects/") + QString::number(m_a->userId()));
    QCOMPARE(objects.entryList(QDir::Files).size(), 0);
}

void TestServerProtocol::versionPluginsAndPasswordMail()
{
    const HttpReply version = m_a->get(QStringLiteral("/check_version/"), {}, false);
    QCOMPARE(version.code(), 0);
    const QJsonObject data = version.json.value(QStringLiteral("data")).toObject();
    QCOMPARE(data.value(QStringLiteral("version")).toString(), QStringLiteral("2.2"));
    QCOMPARE(data.value(QStringLiteral("update_info")).toString(), QStringLiteral("faster sync"));
    QCOMPARE(data.value(QStringLiteral("download_url")).toString(),
             QStringLiteral("https://example.org/get"));

    const QString store = m_server.dataDir() + QStringLiteral("/plugins/");
    QFile package(store + QStringLiteral("upper.cpk"));
    QVERIFY(package.open(QIODevice::WriteOnly));
    package.write("PK package bytes");
    package.close();
    QFile info(store + QStringLiteral("upper.json"));
    QVERIFY(info.open(QIODevice::WriteOnly));
    info.write(
        R"({"name":"Upper","desc":"to upper case","version":"1.10","author":"Q","bundle_id":"org.example.upper"})");
    info.close();
    const HttpReply list = m_a->get(QStringLiteral("/plugins/"), {}, false);
    QCOMPARE(list.code(), 0);
    const QString url = list.json.value(QStringLiteral("plugin_url"))
                            .toObject()
                            .value(QStringLiteral("org.example.upper"))
                            .toString();
    QCOMPARE(url, m_server.apiUrl() + QStringLiteral("/plugin_files/upper.cpk"));
    const QJsonObject entry = list.json.value(QStringLiteral("plugin_dict"))
                                  .toObject()
                                  .value(QStringLiteral("org.example.upper"))
                                  .toObject();
    QCOMPARE(entry.value(QStringLiteral("version")).toString(), QStringLiteral("1.10"));
    QCOMPARE(entry.value(QStringLiteral("name")).toString(), QStringLiteral("Upper"));
    const HttpReply bytes = m_a->get(QStringLiteral("/plugin_files/upper.cpk"), {}, false);
    QCOMPARE(bytes.status, 200);
    QCOMPARE(bytes.body, QByteArray("PK package bytes"));
    QCOMPARE(m_a->get(QStringLiteral("/plugin_files/upper.json"), {}, false).status, 404);
    QCOMPARE(m_a->get(QStringLiteral("/plugin_files/..%2Fconfig.json"), {}, false).status, 404);

    const HttpReply unknown =
        m_a->get(QStringLiteral("/forget_pwd/"), QStringLiteral("&user_email=nobody@example.org"), false);
    QCOMPARE(unknown.status, 200);
    QCOMPARE(unknown.code(), 1002);
    const HttpReply sent =
        m_a->get(QStringLiteral("/forget_pwd/"), QStringLiteral("&user_email=") + kEmail, false);
    QCOMPARE(sent.code(), 0);
    const QDir outbox(m_server.dataDir() + QStringLiteral("/outbox"));
    const QStringList mails = outbox.entryList(QDir::Files);
    QCOMPARE(mails.size(), 1);
    QFile mail(outbox.filePath(mails.first()));
    QVERIFY(mail.open(QIODevice::ReadOnly));
    QVERIFY(mail.readAll().contains(QByteArray("To: " + kEmail.toUtf8())));
}

void TestServerProtocol::expiredTokens()
{
    SyncClient c(m_server.origin(), QStringLiteral("deviceC0003"));
    QCOMPARE(c.login(kEmail, kPassword).code(), 0);
    Database db(m_server.dataDir() + QStringLiteral("/sync.sqlite"));
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(c.userToken().toUtf8(), QCryptographicHash::Sha256).toHex());
    const auto expiry = [&db, &digest] {
        SqlQuery row = db.query("select expires from tokens where digest = ?", {digest});
        return row.next() ? row.int64(0) : -1;
    };
    // A token in use stays valid: its expiry moves forward.
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QVERIFY(db.exec("update tokens set expires = ? where digest = ?", {now + 100, digest}));
    QCOMPARE(c.pull(0).code(), 0);
    QVERIFY(expiry() > now + 29 * 24 * 3600);

    QVERIFY(db.exec("update tokens set expires = 1 where digest = ?", {digest}));
    QCOMPARE(db.changes(), 1);
    const HttpReply init = c.get(QStringLiteral("/init/"), QStringLiteral("&device_name=C"));
    QCOMPARE(init.status, 200);
    QCOMPARE(init.json.value(QStringLiteral("token_expire")).toInt(), 1);
    QVERIFY(init.code() != 0);
    const QString file =
        QStringLiteral("&file_hash=") + QString(32, QLatin1Char('0')) + QStringLiteral("&file_id=1");
    QCOMPARE(c.get(QStringLiteral("/get_upload_token/"), file).status, 401);
    QCOMPARE(c.get(QStringLiteral("/download_file/"), file).status, 401);
    QCOMPARE(c.pull(0).status, 401);
    // The other devices' sign-ins are untouched.
    QCOMPARE(m_a->pull(0).code(), 0);
}

void TestServerProtocol::administratorSetsPassword()
{
    const auto setPassword = [this](const QString &email) {
        QProcess tool;
        tool.start(ServerHarness::program(), {QStringLiteral("--data-dir"), m_server.dataDir(),
                                              QStringLiteral("--set-password"), email});
        tool.write("a new password\n");
        tool.closeWriteChannel();
        return tool.waitForFinished(20000) ? tool.exitCode() : -1;
    };
    QCOMPARE(setPassword(QStringLiteral("nobody@example.org")), 1);
    QCOMPARE(setPassword(QStringLiteral("WALK@example.org")), 0);
    m_secrets << SyncClient::md5Hex("a new password");

    // Every sign-in of the user ends; the old password no longer works, the new one does.
    QCOMPARE(m_a->pull(0).status, 401);
    SyncClient d(m_server.origin(), QStringLiteral("deviceD0004"));
    QCOMPARE(d.login(kEmail, kPassword).status, 401);
    QCOMPARE(d.login(kEmail, QStringLiteral("a new password")).code(), 0);
    QCOMPARE(d.pull(0).code(), 0);
}

void TestServerProtocol::logHoldsNoSecrets()
{
    const QByteArray log = m_server.serviceLog();
    QVERIFY(log.contains("/api/pull/"));
    for (const QString &secret : std::as_const(m_secrets))
        QVERIFY2(!log.contains(secret.toUtf8()),
                 qPrintable(QStringLiteral("the log holds a secret: ") + secret.left(8)));
    // Nor do the stored password hashes or token digests.
    Database db(m_server.dataDir() + QStringLiteral("/sync.sqlite"));
    SqlQuery rows = db.query("select password_hash from users");
    while (rows.next())
        QVERIFY(!log.contains(rows.text(0).value_or(QString()).toUtf8()));
}

QTEST_GUILESS_MAIN(TestServerProtocol)
#include "tst_server_protocol.moc"
