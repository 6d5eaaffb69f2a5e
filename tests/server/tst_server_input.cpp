// Bad input of every kind gets a clear refusal ("code" non-zero, HTTP 400/404/413) and changes
// nothing, while the service keeps serving everyone else; repeated failed sign-ins are slowed.

#include "ServerHarness.h"
#include "SyncClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

class TestServerInput final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusals_data();
    void refusals();
    void nothingChangedAndStillServing();
    void stalledClientDoesNotBlockOthers();
    void repeatedFailedSignInsAreSlowed();

private:
    QByteArray snapshot();

    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_device;
    std::unique_ptr<SyncClient> m_observer;
    QByteArray m_before;
};

void TestServerInput::initTestCase()
{
    QVERIFY(m_server.start());
    m_device = std::make_unique<SyncClient>(m_server.origin(), QStringLiteral("inputDevice"));
    m_observer = std::make_unique<SyncClient>(m_server.origin(), QStringLiteral("observer"));
    QCOMPARE(m_device->registerUser(QStringLiteral("input@example.org"), QStringLiteral("pw")).code(), 0);
    QCOMPARE(m_observer->login(QStringLiteral("input@example.org"), QStringLiteral("pw")).code(), 0);
    QCOMPARE(m_device->pushRecord(SyncClient::textRecord(QStringLiteral("existing"), 1700000000)).code(), 0);
    m_before = snapshot();
}

QByteArray TestServerInput::snapshot()
{
    const HttpReply pulled = m_observer->pull(0);
    const HttpReply favourites = m_observer->post(QStringLiteral("/get_favourite/"),
                                                  QJsonObject{{QStringLiteral("favourites"), QJsonObject{}}});
    return QJsonDocument(pulled.json).toJson() + QJsonDocument(favourites.json).toJson();
}

void TestServerInput::refusals_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    const QByteArray hash = SyncClient::md5Hex("new clip").toUtf8();
    const auto history = [&hash](const QByteArray &fields) -> QByteArray {
        return "{\"history\":{\"file_hash\":\"" + hash + "\"" + fields + "}}";
    };
    const QString post = QStringLiteral("POST");
    const QString get = QStringLiteral("GET");
    const QString push = QStringLiteral("/push/");

    QTest::newRow("push: not JSON") << post << push << QString() << QByteArray("history=1") << 400;
    QTest::newRow("push: an array") << post << push << QString() << QByteArray("[1,2]") << 400;
    QTest::newRow("push: no history") << post << push << QString() << QByteArray("{}") << 400;
    QTest::newRow("push: history a string")
        << post << push << QString() << QByteArray(R"({"history":"x"})") << 400;
    QTest::newRow("push: no file_hash")
        << post << push << QString() << QByteArray(R"({"history":{"content":"x"}})") << 400;
    QTest::newRow("push: upper-case hash")
        << post << push << QString()
        << QByteArray(R"({"history":{"file_hash":"0123456789ABCDEF0123456789ABCDEF"}})") << 400;
    QTest::newRow("push: hash a number")
        << post << push << QString() << QByteArray(R"({"history":{"file_hash":12}})") << 400;
    QTest::newRow("push: content a number") << post << push << QString() << history(",\"content\":5") << 400;
    QTest::newRow("push: timestamp a string")
        << post << push << QString() << history(",\"timestamp\":\"now\"") << 400;
    QTest::newRow("push: huge timestamp")
        << post << push << QString() << history(",\"timestamp\":1e300") << 400;
    QTest::newRow("push: huge favourite")
        << post << push << QString() << history(",\"favourite\":-1e20") << 400;
    QTest::newRow("push: huge history id")
        << post << push << QString() << history(",\"history_id\":1099511627776") << 400;
    QTest::newRow("push: file_ready 7") << post << push << QString() << history(",\"file_ready\":7") << 400;
    QTest::newRow("push: over-long content")
        << post << push << QString() << history(",\"content\":\"" + QByteArray(300 * 1024, 'c') + "\"")
        << 400;
    QTest::newRow("push: over-long type")
        << post << push << QString() << history(",\"type\":\"" + QByteArray(1000, 't') + "\"") << 400;
    QTest::newRow("push: deep nesting")
        << post << push << QString() << QByteArray(100000, '[') + QByteArray(100000, ']') << 400;
    QTest::newRow("push: body over the limit")
        << post << push << QString() << history(",\"content\":\"" + QByteArray(2 * 1024 * 1024, 'c') + "\"")
        << 413;
    QTest::newRow("put: no history id")
        << QStringLiteral("PUT") << push << QString() << history(QByteArray()) << 400;
    QTest::newRow("get: id not a number")
        << get << push << QStringLiteral("&history_id=abc&file_hash=") + QString::fromLatin1(hash)
        << QByteArray() << 400;
    QTest::newRow("get: negative id")
        << get << push << QStringLiteral("&history_id=-1&file_hash=") + QString::fromLatin1(hash)
        << QByteArray() << 400;
    QTest::newRow("get: huge id") << get << push
                                  << QStringLiteral("&history_id=99999999999999999999&file_hash=")
                                         + QString::fromLatin1(hash)
                                  << QByteArray() << 400;
    QTest::newRow("get: no hash") << get << push << QStringLiteral("&history_id=1") << QByteArray() << 400;
    QTest::newRow("delete: no id") << QStringLiteral("DELETE") << push << QString() << QByteArray() << 400;
    QTest::newRow("pull: cursor not a number")
        << get << QStringLiteral("/pull/") << QStringLiteral("&last_request_timestamp=abc") << QByteArray()
        << 400;
    QTest::newRow("pull: negative cursor")
        << get << QStringLiteral("/pull/") << QStringLiteral("&last_request_timestamp=-5") << QByteArray()
        << 400;
    QTest::newRow("pull: huge cursor")
        << get << QStringLiteral("/pull/")
        << QStringLiteral("&last_request_timestamp=") + QString(40, QLatin1Char('9')) << QByteArray() << 400;
    QTest::newRow("pull: count 0") << get << QStringLiteral("/pull/")
                                   << QStringLiteral("&last_request_timestamp=0&count=0") << QByteArray()
                                   << 400;
    QTest::newRow("pull: too many pairs")
        << get << QStringLiteral("/pull/") << QStringLiteral("&a=1").repeated(40) << QByteArray() << 400;
    QTest::newRow("get_favourite: array") << post << QStringLiteral("/get_favourite/") << QString()
                                          << QByteArray(R"({"favourites":[]})") << 400;
    QTest::newRow("get_favourite: key not an id")
        << post << QStringLiteral("/get_favourite/") << QString()
        << QByteArray(R"({"favourites":{"abc":{"favourite":1}}})") << 400;
    QTest::newRow("get_favourite: value a string")
        << post << QStringLiteral("/get_favourite/") << QString()
        << QByteArray(R"({"favourites":{"1":{"favourite":"x"}}})") << 400;
    QTest::newRow("set_favourite: favourite a string")
        << post << QStringLiteral("/set_favourite/") << QString() << history(",\"favourite\":\"yes\"") << 400;
    QTest::newRow("upload token: file id not a number")
        << get << QStringLiteral("/get_upload_token/")
        << QStringLiteral("&file_hash=") + QString::fromLatin1(hash) + QStringLiteral("&file_id=x")
        << QByteArray() << 400;
    QTest::newRow("download: path as hash")
        << get << QStringLiteral("/download_file/")
        << QStringLiteral("&file_hash=..%2F..%2Fsecrets.json&file_id=1") << QByteArray() << 400;
    QTest::newRow("login: not an e-mail")
        << get << QStringLiteral("/login/")
        << QStringLiteral("&username=nobody&pwd_hash=") + SyncClient::md5Hex("x") << QByteArray() << 400;
    QTest::newRow("login: short password hash")
        << get << QStringLiteral("/login/") << QStringLiteral("&username=a@example.org&pwd_hash=zz")
        << QByteArray() << 400;
    QTest::newRow("register: over-long e-mail")
        << get << QStringLiteral("/register/")
        << QStringLiteral("&username=") + QString(300, QLatin1Char('a'))
               + QStringLiteral("@example.org&pwd_hash=") + SyncClient::md5Hex("x")
        << QByteArray() << 400;
    QTest::newRow("forget_pwd: not an e-mail")
        << get << QStringLiteral("/forget_pwd/") << QStringLiteral("&user_email=x") << QByteArray() << 400;
    QTest::newRow("init: over-long device name")
        << get << QStringLiteral("/init/")
        << QStringLiteral("&device_name=") + QString(1000, QLatin1Char('n')) << QByteArray() << 400;
    QTest::newRow("unknown endpoint")
        << get << QStringLiteral("/nothing/") << QString() << QByteArray() << 404;
}

void TestServerInput::refusals()
{
    QFETCH(QString, method);
    QFETCH(QString, endpoint);
    QFETCH(QString, extra);
    QFETCH(QByteArray, body);
    QFETCH(int, status);

    HttpReply reply;
    if (method == QLatin1String("GET"))
        reply = m_device->get(endpoint, extra);
    else if (method == QLatin1String("POST"))
        reply = m_device->post(endpoint, body, extra);
    else if (method == QLatin1String("PUT"))
        reply = m_device->put(endpoint, QJsonDocument::fromJson(body).object());
    else
        reply = m_device->del(endpoint, extra);
    QCOMPARE(reply.status, status);
    QVERIFY2(reply.code() != 0 && reply.code() != -999, reply.body.constData());
}

void TestServerInput::nothingChangedAndStillServing()
{
    QCOMPARE(snapshot(), m_before);
    QCOMPARE(m_device->get(QStringLiteral("/check_version/"), {}, false).code(), 0);
    QCOMPARE(
        m_device->pushRecord(SyncClient::textRecord(QStringLiteral("after the refusals"), 1700000001)).code(),
        0);
}

void TestServerInput::stalledClientDoesNotBlockOthers()
{
    // Connections that never finish their request hold a worker each, not the service.
    QList<QTcpSocket *> stalled;
    for (int i = 0; i < 10; ++i) {
        auto *socket = new QTcpSocket(this);
        socket->connectToHost(QStringLiteral("127.0.0.1"), quint16(QUrl(m_server.origin()).port()));
        QVERIFY(socket->waitForConnected(5000));
        socket->write("GET /api/pull/?device_token=slow&user_token=");
        QVERIFY(socket->waitForBytesWritten(5000));
        stalled << socket;
    }
    QCOMPARE(m_observer->pull(0).code(), 0);
    qDeleteAll(stalled);
}

void TestServerInput::repeatedFailedSignInsAreSlowed()
{
    SyncClient guesser(m_server.origin(), QStringLiteral("guesser"));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(guesser.login(QStringLiteral("input@example.org"), QStringLiteral("guess %1").arg(i)).status,
                 401);
    // Now even the right password has to wait.
    const HttpReply slowed = guesser.login(QStringLiteral("input@example.org"), QStringLiteral("pw"));
    QCOMPARE(slowed.status, 429);
    QVERIFY(slowed.code() != 0);
    QVERIFY(slowed.json.value(QStringLiteral("retry_after")).toInteger() >= 1);
    QVERIFY(guesser.userToken().isEmpty());
    // Signed-in devices are not affected.
    QCOMPARE(m_observer->pull(0).code(), 0);
}

QTEST_GUILESS_MAIN(TestServerInput)
#include "tst_server_input.moc"
