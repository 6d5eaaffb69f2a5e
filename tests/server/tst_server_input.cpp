// Bad input of every kind gets a clear refusal ("code" non-zero, HTTP 400/404/413) and changes
// nothing, while the service keeps serving everyone else; repeated failed sign-ins are slowed.

#include "ServerHarness.h"
#include "SyncClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

class TestServerInput final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusals_data();
    void refusals();
    void nothingChangedAndStillServing();
    void stalledClientDoesNotBlockOthers();

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
    m_device = std::make_unique<SyncClient>(m_server.origin(), u"inputDevice"_s);
    m_observer = std::make_unique<SyncClient>(m_server.origin(), u"observer"_s);
    QCOMPARE(m_device->registerUser(u"input@example.org"_s, u"pw"_s).code(), 0);
    QCOMPARE(m_observer->login(u"input@example.org"_s, u"pw"_s).code(), 0);
    QCOMPARE(m_device->pushRecord(SyncClient::textRecord(u"existing"_s, 1700000000)).code(), 0);
    m_before = snapshot();
}

QByteArray TestServerInput::snapshot()
{
    const HttpReply pulled = m_observer->pull(0);
    const HttpReply favourites = m_observer->getFavourites();
    return QJsonDocument(pulled.json).toJson() + QJsonDocument(favourites.json).toJson();
}

void TestServerInput::refusals_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    const QString hash = SyncClient::md5Hex("new clip");
    const auto history = [&hash](const QByteArray &fields) -> QByteArray {
        return "{\"history\":{\"file_hash\":\"" + hash.toLatin1() + "\"" + fields + "}}";
    };
    const auto post = [](const char *tag, const QString &endpoint, const QByteArray &body, int status = 400) {
        QTest::newRow(tag) << u"POST"_s << endpoint << QString() << body << status;
    };
    const auto push = [&post](const char *tag, const QByteArray &body, int status = 400) {
        post(tag, u"/push/"_s, body, status);
    };
    const auto get = [](const char *tag, const QString &endpoint, const QString &extra, int status = 400) {
        QTest::newRow(tag) << u"GET"_s << endpoint << extra << QByteArray() << status;
    };

    push("push: not JSON", "history=1");
    push("push: an array", "[1,2]");
    push("push: no history", "{}");
    push("push: history a string", R"({"history":"x"})");
    push("push: no file_hash", R"({"history":{"content":"x"}})");
    push("push: upper-case hash", R"({"history":{"file_hash":"0123456789ABCDEF0123456789ABCDEF"}})");
    push("push: hash a number", R"({"history":{"file_hash":12}})");
    push("push: content a number", history(",\"content\":5"));
    push("push: timestamp a string", history(",\"timestamp\":\"now\""));
    push("push: huge timestamp", history(",\"timestamp\":1e300"));
    push("push: huge favourite", history(",\"favourite\":-1e20"));
    push("push: huge history id", history(",\"history_id\":1099511627776"));
    push("push: file_ready 7", history(",\"file_ready\":7"));
    push("push: over-long content", history(",\"content\":\"" + QByteArray(300 * 1024, 'c') + "\""));
    push("push: over-long type", history(",\"type\":\"" + QByteArray(1000, 't') + "\""));
    push("push: deep nesting", QByteArray(100000, '[') + QByteArray(100000, ']'));
    push("push: body over the limit", history(",\"content\":\"" + QByteArray(2 * 1024 * 1024, 'c') + "\""),
         413);
    QTest::newRow("put: no history id") << u"PUT"_s << u"/push/"_s << QString() << history({}) << 400;
    get("get: id not a number", u"/push/"_s, u"&history_id=abc&file_hash="_s + hash);
    get("get: negative id", u"/push/"_s, u"&history_id=-1&file_hash="_s + hash);
    get("get: huge id", u"/push/"_s, u"&history_id=99999999999999999999&file_hash="_s + hash);
    get("get: no hash", u"/push/"_s, u"&history_id=1"_s);
    QTest::newRow("delete: no id") << u"DELETE"_s << u"/push/"_s << QString() << QByteArray() << 400;
    get("pull: cursor not a number", u"/pull/"_s, u"&last_request_timestamp=abc"_s);
    get("pull: negative cursor", u"/pull/"_s, u"&last_request_timestamp=-5"_s);
    get("pull: huge cursor", u"/pull/"_s, u"&last_request_timestamp="_s + QString(40, QLatin1Char('9')));
    get("pull: count 0", u"/pull/"_s, u"&last_request_timestamp=0&count=0"_s);
    get("pull: too many pairs", u"/pull/"_s, u"&a=1"_s.repeated(40));
    post("get_favourite: array", u"/get_favourite/"_s, R"({"favourites":[]})");
    post("get_favourite: key not an id", u"/get_favourite/"_s, R"({"favourites":{"abc":{"favourite":1}}})");
    post("get_favourite: value a string", u"/get_favourite/"_s, R"({"favourites":{"1":{"favourite":"x"}}})");
    post("set_favourite: favourite a string", u"/set_favourite/"_s, history(",\"favourite\":\"yes\""));
    get("upload token: file id not a number", u"/get_upload_token/"_s,
        u"&file_hash="_s + hash + u"&file_id=x"_s);
    get("download: path as hash", u"/download_file/"_s, u"&file_hash=..%2F..%2Fsecrets.json&file_id=1"_s);
    get("login: not an e-mail", u"/login/"_s, u"&username=nobody&pwd_hash="_s + SyncClient::md5Hex("x"));
    get("login: short password hash", u"/login/"_s, u"&username=a@example.org&pwd_hash=zz"_s);
    get("register: over-long e-mail", u"/register/"_s,
        u"&username="_s + QString(300, QLatin1Char('a')) + u"@example.org&pwd_hash="_s
            + SyncClient::md5Hex("x"));
    get("forget_pwd: not an e-mail", u"/forget_pwd/"_s, u"&user_email=x"_s);
    get("init: over-long device name", u"/init/"_s, u"&device_name="_s + QString(1000, QLatin1Char('n')));
    get("unknown endpoint", u"/nothing/"_s, QString(), 404);
}

void TestServerInput::refusals()
{
    QFETCH(QString, method);
    QFETCH(QString, endpoint);
    QFETCH(QString, extra);
    QFETCH(QByteArray, body);
    QFETCH(int, status);

    HttpReply reply;
    if (method == "GET"_L1)
        reply = m_device->get(endpoint, extra);
    else if (method == "POST"_L1)
        reply = m_device->post(endpoint, body, extra);
    else if (method == "PUT"_L1)
        reply = m_device->put(endpoint, QJsonDocument::fromJson(body).object());
    else
        reply = m_device->del(endpoint, extra);
    QCOMPARE(reply.status, status);
    QVERIFY2(reply.code() != 0 && reply.code() != -999, reply.body.constData());
}

void TestServerInput::nothingChangedAndStillServing()
{
    QCOMPARE(snapshot(), m_before);
    QCOMPARE(m_device->get(u"/check_version/"_s, {}, false).code(), 0);
    QCOMPARE(m_device->pushRecord(SyncClient::textRecord(u"after the refusals"_s, 1700000001)).code(), 0);
}

void TestServerInput::stalledClientDoesNotBlockOthers()
{
    // Connections that never finish their request hold a socket each, not the service.
    QList<QTcpSocket *> stalled;
    for (int i = 0; i < 10; ++i) {
        auto *socket = new QTcpSocket(this);
        socket->connectToHost(u"127.0.0.1"_s, quint16(QUrl(m_server.origin()).port()));
        QVERIFY(socket->waitForConnected(5000));
        socket->write("GET /api/pull/?device_token=slow&user_token=");
        QVERIFY(socket->waitForBytesWritten(5000));
        stalled << socket;
    }
    QCOMPARE(m_observer->pull(0).code(), 0);
    qDeleteAll(stalled);
}

QTEST_GUILESS_MAIN(TestServerInput)
#include "tst_server_input.moc"
