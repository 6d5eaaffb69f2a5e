// Bad input of every kind gets a clear refusal ("code" non-zero, HTTP 400/404/413) and changes
// nothing. The HTTP front against slow and hostile clients over real sockets: connections that
// trickle hold no thread and cannot make the service unreachable; each address may hold only a
// few; a request head has a deadline and a size; chunked bodies are cut off at their limit;
// ambiguous lengths are refused; pipelined requests are each answered; bad input is slowed.

#include "RawHttp.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

// A connection from `from` that has sent the start of a request head and nothing more.
std::unique_ptr<QTcpSocket> stalledConnection(const QString &from, quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    if (!socket->bind(QHostAddress(from)))
        return nullptr;
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(5000))
        return nullptr;
    socket->write("GET /api/pull/?device_token=slow&user_token=");
    socket->waitForBytesWritten(5000);
    return socket;
}

} // namespace

class TestServerInput final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusals_data();
    void refusals();
    void nothingChanged();
    void slowClientsDoNotMakeTheServiceUnreachable();
    void requestHeadHasADeadline();
    void requestHeadIsBounded();
    void bodiesAreCutOffAtTheirLimit();
    void ambiguousLengthsAreRefused();
    void pipelinedRequestsAreEachAnswered();
    void badInputFromOneAddressIsAnsweredSlowly();

private:
    QByteArray snapshot();
    quint16 port() const { return quint16(QUrl(m_server.origin()).port()); }

    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_device;
    std::unique_ptr<SyncClient> m_observer;
    QByteArray m_before;
};

void TestServerInput::initTestCase()
{
    ServerHarness::Options options;
    options.config = {{u"request_head_seconds"_s, 3},
                      {u"max_connections_per_address"_s, 16},
                      {u"bad_requests_per_address_per_second"_s, 5}};
    QVERIFY(m_server.start(options));
    m_device = std::make_unique<SyncClient>(m_server.origin(), u"front"_s);
    m_observer = std::make_unique<SyncClient>(m_server.origin(), u"observer"_s);
    QCOMPARE(m_device->registerUser(u"front@example.org"_s, u"pw"_s).code(), 0);
    QCOMPARE(m_observer->login(u"front@example.org"_s, u"pw"_s).code(), 0);
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
    QTest::addColumn<bool>("get"); // else POST
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QByteArray>("data"); // GET: query pairs; POST: body
    QTest::addColumn<int>("status");
    const QByteArray hash = SyncClient::md5Hex("new clip").toLatin1();
    const auto history = [&hash](const QByteArray &fields) -> QByteArray {
        return "{\"history\":{\"file_hash\":\"" + hash + "\"" + fields + "}}";
    };
    const auto row = [](const char *tag, bool get, const char *endpoint, const QByteArray &data,
                        int status = 400) {
        QTest::newRow(tag) << get << QString::fromLatin1(endpoint) << data << status;
    };
    row("push: not JSON", false, "/push/", "history=1");
    row("push: history a string", false, "/push/", R"({"history":"x"})");
    row("push: upper-case hash", false, "/push/",
        R"({"history":{"file_hash":"0123456789ABCDEF0123456789ABCDEF"}})");
    row("push: timestamp a string", false, "/push/", history(",\"timestamp\":\"now\""));
    row("push: huge favourite", false, "/push/", history(",\"favourite\":-1e20"));
    row("push: huge history id", false, "/push/", history(",\"history_id\":1099511627776"));
    row("push: over-long content", false, "/push/",
        history(",\"content\":\"" + QByteArray(300 * 1024, 'c') + "\""));
    row("push: deep nesting", false, "/push/", QByteArray(100000, '[') + QByteArray(100000, ']'));
    row("push: body over the limit", false, "/push/",
        history(",\"content\":\"" + QByteArray(2 << 20, 'c') + "\""), 413);
    row("get_favourite: key not an id", false, "/get_favourite/",
        R"({"favourites":{"abc":{"favourite":1}}})");
    row("get: huge id", true, "/push/", "&history_id=99999999999999999999&file_hash=" + hash);
    row("pull: negative cursor", true, "/pull/", "&last_request_timestamp=-5");
    row("pull: too many pairs", true, "/pull/", QByteArray("&a=1").repeated(40));
    row("download: path as hash", true, "/download_file/", "&file_hash=..%2F..%2Fsecrets.json&file_id=1");
    row("login: short password hash", true, "/login/", "&username=a@example.org&pwd_hash=zz");
    row("register: over-long e-mail", true, "/register/",
        "&username=" + QByteArray(300, 'a') + "@example.org&pwd_hash=" + hash);
    row("init: over-long device name", true, "/init/", "&device_name=" + QByteArray(1000, 'n'));
    row("unknown endpoint", true, "/nothing/", {}, 404);
}

void TestServerInput::refusals()
{
    QFETCH(bool, get);
    QFETCH(QString, endpoint);
    QFETCH(QByteArray, data);
    QFETCH(int, status);
    const HttpReply reply =
        get ? m_device->get(endpoint, QString::fromLatin1(data)) : m_device->post(endpoint, data);
    QCOMPARE(reply.status, status);
    QVERIFY2(reply.code() != 0 && reply.code() != -999, reply.body.constData());
}

void TestServerInput::nothingChanged()
{
    QCOMPARE(snapshot(), m_before);
    QCOMPARE(m_device->pushRecord(SyncClient::textRecord(u"after the refusals"_s, 1700000001)).code(), 0);
}

void TestServerInput::slowClientsDoNotMakeTheServiceUnreachable()
{
    // 200 connections stuck in their request heads, 16 (the most one address may hold) from
    // 127.0.15.1 and 8 from each of 23 others: one more from there is closed unanswered,
    // everyone else is served.
    std::vector<std::unique_ptr<QTcpSocket>> stalled;
    for (int i = 0; i < 200; ++i) {
        stalled.push_back(
            stalledConnection(i < 16 ? u"127.0.15.1"_s : u"127.0.5.%1"_s.arg(1 + i % 23), port()));
        QVERIFY(stalled.back());
    }
    QCOMPARE(RawHttp::get(u"127.0.15.1"_s, port(), u"/check_version/"_s).status, -1);
    QCOMPARE(RawHttp::get(u"127.0.5.100"_s, port(), u"/check_version/"_s).code(), 0);
    QCOMPARE(m_device->pull(0).code(), 0);
}

void TestServerInput::requestHeadHasADeadline()
{
    // A client that keeps trickling its head is cut off at the deadline (3 s here).
    auto socket = stalledConnection(u"127.0.6.1"_s, port());
    QVERIFY(socket);
    const auto trickle = [&socket] {
        if (socket->state() == QAbstractSocket::ConnectedState) {
            socket->write("a");
            socket->waitForBytesWritten(100);
            socket->waitForReadyRead(200);
        }
        return socket->state() != QAbstractSocket::ConnectedState;
    };
    QTRY_VERIFY_WITH_TIMEOUT(trickle(), 20000);
}

void TestServerInput::requestHeadIsBounded()
{
    QByteArray many = "GET /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (int i = 0; i < 200; ++i)
        many += "X-Header-" + QByteArray::number(i) + ": v\r\n";
    QCOMPARE(RawHttp::exchange(u"127.0.7.1"_s, port(), many + "\r\n").status, 431);
}

void TestServerInput::bodiesAreCutOffAtTheirLimit()
{
    // Chunks announce no length: the service stops reading at the limit (1 MiB for JSON).
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write(
        "POST /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n");
    const QByteArray chunk = QByteArray::number(64 * 1024, 16) + "\r\n" + QByteArray(64 * 1024, 'c') + "\r\n";
    qint64 sent = 0;
    for (int i = 0; i < 1000 && socket.state() == QAbstractSocket::ConnectedState; ++i) {
        if (socket.write(chunk) < 0)
            break;
        socket.waitForBytesWritten(1000);
        sent += chunk.size();
        socket.waitForReadyRead(1);
    }
    if (socket.state() == QAbstractSocket::ConnectedState)
        socket.waitForDisconnected(10000);
    QVERIFY2(sent < 64LL * 1024 * 1024, qPrintable(QString::number(sent)));
}

void TestServerInput::ambiguousLengthsAreRefused()
{
    for (const QByteArray lengths :
         {"Content-Length: 2\r\nContent-Length: 20", "Content-Length: 5\r\nTransfer-Encoding: chunked"})
        QCOMPARE(
            RawHttp::exchange(u"127.0.9.1"_s, port(),
                              "POST /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                                  + lengths + "\r\n\r\n0\r\n\r\n")
                .status,
            400);
}

void TestServerInput::pipelinedRequestsAreEachAnswered()
{
    const QByteArray request = "GET /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const QByteArray last =
        "GET /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    const HttpReply replies = RawHttp::exchange(u"127.0.10.1"_s, port(), request + request + last);
    QCOMPARE(replies.status, 200);
    QCOMPARE(replies.body.count("HTTP/1.1 200"), 2);
}

void TestServerInput::badInputFromOneAddressIsAnsweredSlowly()
{
    // 20 bad requests in a row from one address, 5 a second allowed: every one is answered, and
    // the last ones only in later seconds (a lower bound, which load can only lengthen).
    QTcpSocket socket;
    QVERIFY(socket.bind(QHostAddress(u"127.0.12.1"_s)));
    socket.connectToHost(QHostAddress::LocalHost, port());
    QVERIFY(socket.waitForConnected(5000));
    const QByteArray bad = "POST /api/push/?device_token=bad&user_token=" + QByteArray(64, 'e')
                           + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 9\r\n\r\n{not json";
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < 20; ++i) {
        socket.write(bad);
        QByteArray reply;
        QTRY_VERIFY_WITH_TIMEOUT((reply += socket.readAll()).endsWith('}'), 10000);
    }
    QVERIFY2(elapsed.elapsed() >= 2000, qPrintable(QString::number(elapsed.elapsed())));
    // Another address is answered at once meanwhile.
    QCOMPARE(RawHttp::get(u"127.0.12.2"_s, port(), u"/check_version/"_s).code(), 0);
}

QTEST_GUILESS_MAIN(TestServerInput)
#include "tst_server_input.moc"
