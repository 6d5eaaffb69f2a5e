// The HTTP front against slow and hostile clients over real sockets: connections that trickle
// hold no thread and cannot make the service unreachable; each address may hold only a few;
// a request head has a deadline and a size; bodies are cut off at their limit whatever the
// transfer encoding; ambiguous lengths are refused; pipelined requests are each answered.

#include "RawHttp.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include <QElapsedTimer>
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

class TestServerFront final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void slowClientsDoNotMakeTheServiceUnreachable();
    void connectionsPerAddressAreCapped();
    void requestHeadHasADeadline();
    void requestHeadIsBounded();
    void bodiesAreCutOffAtTheirLimit();
    void ambiguousLengthsAreRefused();
    void pipelinedRequestsAreEachAnswered();
    void badInputFromOneAddressIsAnsweredSlowly();

private:
    quint16 port() const { return quint16(QUrl(m_server.origin()).port()); }

    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_device;
};

void TestServerFront::initTestCase()
{
    ServerHarness::Options options;
    options.config = {{u"request_head_seconds"_s, 3},
                      {u"max_connections_per_address"_s, 16},
                      {u"bad_requests_per_address_per_second"_s, 5}};
    QVERIFY(m_server.start(options));
    m_device = std::make_unique<SyncClient>(m_server.origin(), u"front"_s);
    QCOMPARE(m_device->registerUser(u"front@example.org"_s, u"pw"_s).code(), 0);
}

void TestServerFront::slowClientsDoNotMakeTheServiceUnreachable()
{
    // 200 connections from 20 addresses, each stuck in its request head.
    std::vector<std::unique_ptr<QTcpSocket>> stalled;
    for (int i = 0; i < 200; ++i) {
        stalled.push_back(stalledConnection(u"127.0.4.%1"_s.arg(1 + i % 20), port()));
        QVERIFY(stalled.back());
    }
    QCOMPARE(m_device->pull(0).code(), 0);
    QCOMPARE(m_device->pushRecord(SyncClient::textRecord(u"while stalled"_s, 1700000000)).code(), 0);
}

void TestServerFront::connectionsPerAddressAreCapped()
{
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < 16; ++i) {
        held.push_back(stalledConnection(u"127.0.5.1"_s, port()));
        QVERIFY(held.back());
    }
    // One more from that address is closed unanswered; other addresses are served.
    const HttpReply refused = RawHttp::get(u"127.0.5.1"_s, port(), u"/check_version/"_s);
    QCOMPARE(refused.status, -1);
    QCOMPARE(RawHttp::get(u"127.0.5.2"_s, port(), u"/check_version/"_s).code(), 0);
    // Once those connections end, the address is served again.
    held.clear();
    QTRY_COMPARE_WITH_TIMEOUT(RawHttp::get(u"127.0.5.1"_s, port(), u"/check_version/"_s).code(), 0, 10000);
}

void TestServerFront::requestHeadHasADeadline()
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

void TestServerFront::requestHeadIsBounded()
{
    QByteArray many = "GET /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (int i = 0; i < 200; ++i)
        many += "X-Header-" + QByteArray::number(i) + ": v\r\n";
    QCOMPARE(RawHttp::exchange(u"127.0.7.1"_s, port(), many + "\r\n").status, 431);
    const QByteArray large =
        "GET /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nX-Big: "
        + QByteArray(40 * 1024, 'b') + "\r\n\r\n";
    const int status = RawHttp::exchange(u"127.0.7.1"_s, port(), large).status;
    QVERIFY2(status == 431 || status == 413, qPrintable(QString::number(status)));
    QCOMPARE(RawHttp::get(u"127.0.7.1"_s, port(), u"/check_version/"_s).code(), 0);
}

void TestServerFront::bodiesAreCutOffAtTheirLimit()
{
    // An announced length past the limit is refused before the body is read.
    const QByteArray announced =
        "POST /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        "Content-Length: 1000000000\r\n\r\n";
    QCOMPARE(RawHttp::exchange(u"127.0.8.1"_s, port(), announced).status, 413);

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
    const HttpReply reply = RawHttp::parse(socket.readAll());
    QVERIFY(reply.status == 413 || reply.status == -1);
    QCOMPARE(m_device->pull(0).code(), 0);
}

void TestServerFront::ambiguousLengthsAreRefused()
{
    const QByteArray twice = "POST /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                             "Content-Length: 2\r\nContent-Length: 20\r\n\r\n{}";
    QCOMPARE(RawHttp::exchange(u"127.0.9.1"_s, port(), twice).status, 400);
    const QByteArray both = "POST /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                            "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n";
    QCOMPARE(RawHttp::exchange(u"127.0.9.1"_s, port(), both).status, 400);
}

void TestServerFront::pipelinedRequestsAreEachAnswered()
{
    const QByteArray request = "GET /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const QByteArray last =
        "GET /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write(request + request + last);
    QByteArray replies;
    QTRY_VERIFY_WITH_TIMEOUT((replies += socket.readAll(), socket.state() != QAbstractSocket::ConnectedState),
                             10000);
    replies += socket.readAll();
    QCOMPARE(replies.count("HTTP/1.1 200"), 3);
}

void TestServerFront::badInputFromOneAddressIsAnsweredSlowly()
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
        QVERIFY(reply.startsWith("HTTP/1.1 400"));
    }
    QVERIFY2(elapsed.elapsed() >= 2000, qPrintable(QString::number(elapsed.elapsed())));
    // Another address is answered at once meanwhile.
    QCOMPARE(RawHttp::get(u"127.0.12.2"_s, port(), u"/check_version/"_s).code(), 0);
}

QTEST_GUILESS_MAIN(TestServerFront)
#include "tst_server_front.moc"
