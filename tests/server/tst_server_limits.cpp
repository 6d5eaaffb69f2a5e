// Bad input of every kind gets a clear refusal ("code" non-zero, HTTP 400/404/413) and changes
// nothing. The HTTP front against slow and hostile clients over real sockets: connections that
// trickle hold no thread and cannot make the service unreachable; each address may hold only a
// few; a request head has a deadline and a size; chunked bodies are cut off at their limit;
// ambiguous lengths are refused; pipelined requests are each answered; bad input is slowed.
// Abuse is bounded: password guessing is counted per address and per account and cannot lock
// the owner out; registrations and reset mails are limited, also behind a proxy; reset mails
// name only the configured public address; pull pages are bounded in bytes; accounts have a
// quota; a flood of requests cannot flood the request log. Other machines are other loopback
// addresses (127.0.x.y).

#include "ServerHarness.h"
#include "SyncClient.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

#include <future>

using namespace Qt::StringLiterals;

namespace {

const QString kOwner = u"owner@example.org"_s;

// Sends `request` from `fromAddress` (127.0.x.y stand for other machines) to the service and
// reads the reply until the service closes the connection (the request should say
// "Connection: close") or 20 s pass: HTTP written byte for byte, as no client library would.
HttpReply exchange(const QString &fromAddress, quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    const QDeadlineTimer deadline(20000);
    if (!socket.bind(QHostAddress(fromAddress)))
        return {};
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(request);
    QByteArray raw;
    while (!deadline.hasExpired() && socket.state() != QAbstractSocket::UnconnectedState) {
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        raw += socket.readAll();
    }
    raw += socket.readAll();
    HttpReply reply;
    const qsizetype bodyStart = raw.indexOf("\r\n\r\n");
    if (!raw.startsWith("HTTP/1.") || bodyStart < 0)
        return reply;
    reply.status = raw.mid(9, 3).toInt();
    reply.body = raw.mid(bodyStart + 4);
    reply.json = QJsonDocument::fromJson(reply.body).object();
    return reply;
}

// A GET of "/api" + pathAndQuery from `fromAddress`.
HttpReply rawGet(const QString &fromAddress, quint16 port, const QString &pathAndQuery)
{
    return exchange(fromAddress, port,
                    "GET /api" + pathAndQuery.toUtf8()
                        + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

QString accountQuery(const QString &endpoint, const QString &email, const QString &password)
{
    return endpoint + u"?device_token=d&username="_s + QString::fromLatin1(QUrl::toPercentEncoding(email))
           + u"&pwd_hash="_s + SyncClient::md5Hex(password.toUtf8());
}

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

class TestServerLimits final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusals_data();
    void refusals();
    void nothingChanged();
    void slowClientsDoNotMakeTheServiceUnreachable();
    void aSecondServiceDoesNotShareThePort();
    void requestHeadHasADeadline();
    void bodiesAreCutOffAtTheirLimit();
    void headsAndLengthsAreChecked_data();
    void headsAndLengthsAreChecked();
    void guessesAreCountedBeforeTheyAreAnswered();
    void ownerGetsThroughLimitsOthersCaused();
    void registrationIsLimitedAndChecked();
    void limitsCountTheClientBehindATrustedProxy();
    void resetMailsNameOnlyThePublicAddress();
    void pullPagesAreBoundedInBytes();
    void accountQuota();
    void requestLogIsLimited();
    void badInputFromOneAddressIsAnsweredSlowly();

private:
    HttpReply login(const QString &from, const QString &email, const QString &password)
    {
        return rawGet(from, port(), accountQuery(u"/login/"_s, email, password));
    }
    // Statuses of `count` sign-ins sent at once from `from`.
    QList<int> parallelLogins(const QString &from, const QString &email, int count);
    quint16 port() const { return quint16(QUrl(m_server.origin()).port()); }
    // What the observer, a device of m_device's user, reads of that user's records.
    QByteArray snapshot()
    {
        return QJsonDocument(m_observer->pull(0).json).toJson()
               + QJsonDocument(m_observer->getFavourites().json).toJson();
    }

    ServerHarness m_server;
    std::unique_ptr<SyncClient> m_device;
    std::unique_ptr<SyncClient> m_observer;
    QByteArray m_before;
};

void TestServerLimits::initTestCase()
{
    // A slow attempt waits long enough that every attempt sent at once arrives while it waits.
    QVERIFY(m_server.start({.config = {{u"login_failures_before_delay"_s, 5},
                                       {u"account_failures_before_delay"_s, 8},
                                       {u"login_slow_seconds"_s, 3},
                                       {u"registrations_per_address_per_hour"_s, 3},
                                       {u"resets_per_address_per_hour"_s, 3},
                                       {u"resets_per_account_per_hour"_s, 2},
                                       {u"max_pull_bytes"_s, 1024 * 1024},
                                       {u"account_max_records"_s, 30},
                                       {u"account_max_bytes"_s, 8 * 1024 * 1024},
                                       {u"request_log_per_second"_s, 5},
                                       {u"request_head_seconds"_s, 3},
                                       {u"max_connections_per_address"_s, 16}}}));
    for (const QString &email : {kOwner, u"front@example.org"_s})
        QCOMPARE(rawGet(u"127.0.0.10"_s, port(), accountQuery(u"/register/"_s, email, u"pw"_s)).code(), 0);
    m_device = std::make_unique<SyncClient>(m_server.origin(), u"front"_s);
    m_observer = std::make_unique<SyncClient>(m_server.origin(), u"observer"_s);
    QCOMPARE(m_device->login(u"front@example.org"_s, u"pw"_s).code(), 0);
    QCOMPARE(m_observer->login(u"front@example.org"_s, u"pw"_s).code(), 0);
    QCOMPARE(m_device->pushRecord(SyncClient::textRecord(u"existing"_s, 1700000000)).code(), 0);
    m_before = snapshot();
}

void TestServerLimits::refusals_data()
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
    row("push: upper-case hash", false, "/push/",
        R"({"history":{"file_hash":"0123456789ABCDEF0123456789ABCDEF"}})");
    row("push: timestamp a string", false, "/push/", history(",\"timestamp\":\"now\""));
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
    row("register: over-long e-mail", true, "/register/",
        "&username=" + QByteArray(300, 'a') + "@example.org&pwd_hash=" + hash);
    row("init: over-long device name", true, "/init/", "&device_name=" + QByteArray(1000, 'n'));
    row("unknown endpoint", true, "/nothing/", {}, 404);
}

void TestServerLimits::refusals()
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

void TestServerLimits::nothingChanged()
{
    QCOMPARE(snapshot(), m_before);
    QCOMPARE(m_device->pushRecord(SyncClient::textRecord(u"after the refusals"_s, 1700000001)).code(), 0);
}

void TestServerLimits::slowClientsDoNotMakeTheServiceUnreachable()
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
    QCOMPARE(rawGet(u"127.0.15.1"_s, port(), u"/check_version/"_s).status, -1);
    QCOMPARE(rawGet(u"127.0.5.100"_s, port(), u"/check_version/"_s).code(), 0);
    QCOMPARE(m_device->pull(0).code(), 0);
}

// A second service started on the first one's port ends with an error instead of taking some of
// its connections.
void TestServerLimits::aSecondServiceDoesNotShareThePort()
{
    QVERIFY(!m_server.startSecondService(port()));
    QVERIFY(m_server.serviceLog().contains("cannot listen on"));
    QCOMPARE(m_device->pull(0).code(), 0);
}

void TestServerLimits::requestHeadHasADeadline()
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

void TestServerLimits::bodiesAreCutOffAtTheirLimit()
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

void TestServerLimits::headsAndLengthsAreChecked_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    const QByteArray post = "POST /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    QByteArray many = "GET /api/check_version/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (int i = 0; i < 200; ++i)
        many += "X-Header-" + QByteArray::number(i) + ": v\r\n";
    QTest::newRow("200 header lines") << QByteArray(many + "\r\n") << 431;
    QTest::newRow("two lengths") << QByteArray(post
                                               + "Content-Length: 2\r\nContent-Length: 20\r\n\r\n0\r\n\r\n")
                                 << 400;
    QTest::newRow("length and chunks")
        << QByteArray(post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n") << 400;
}

void TestServerLimits::headsAndLengthsAreChecked()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QCOMPARE(exchange(u"127.0.7.1"_s, port(), request).status, status);
}

QList<int> TestServerLimits::parallelLogins(const QString &from, const QString &email, int count)
{
    std::vector<std::future<int>> answers;
    for (int i = 0; i < count; ++i)
        answers.push_back(std::async(std::launch::async,
                                     [=, this] { return login(from, email, u"guess %1"_s.arg(i)).status; }));
    QList<int> statuses;
    for (auto &answer : answers)
        statuses << answer.get();
    return statuses;
}

void TestServerLimits::guessesAreCountedBeforeTheyAreAnswered()
{
    // 15 guesses at once from one address: the 5 free ones and at most one slow one are checked
    // (one more may pass after the last failure's wait, under load); the rest are refused.
    const QList<int> statuses = parallelLogins(u"127.0.0.2"_s, u"victim1@example.org"_s, 15);
    QVERIFY2(statuses.count(401) <= 8, qPrintable(QString::number(statuses.count(401))));
    QCOMPARE(statuses.count(401) + statuses.count(429), 15);
}

void TestServerLimits::ownerGetsThroughLimitsOthersCaused()
{
    // Others on the owner's shared address used up its free failures, and guesses from many
    // addresses used up the account's.
    const QString shared = u"127.0.0.4"_s;
    for (int i = 0; i < 5; ++i)
        QCOMPARE(login(shared, kOwner, u"wrong %1"_s.arg(i)).status, 401);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(login(u"127.0.1.%1"_s.arg(i + 1), kOwner, u"w"_s).status, 401);
    // A fresh address is slowed at this account now: of guesses sent at once, most are refused.
    QVERIFY(parallelLogins(u"127.0.2.1"_s, kOwner, 5).count(401) <= 2);
    // The owner, from the shared address, still signs in (slowly).
    QCOMPARE(login(shared, kOwner, u"pw"_s).code(), 0);
}

void TestServerLimits::registrationIsLimitedAndChecked()
{
    const auto registerFrom = [this](const QString &from, const QString &email) {
        return rawGet(from, port(), accountQuery(u"/register/"_s, email, u"pw"_s));
    };
    for (const QString &bad : {u"a@b"_s, u"a..b@example.org"_s})
        QVERIFY2(registerFrom(u"127.0.0.5"_s, bad).status == 400, qPrintable(bad));
    QCOMPARE(registerFrom(u"127.0.0.5"_s, u"new0@example.org"_s).code(), 0);
    // The administrator closes registration.
    QVERIFY(m_server.restartService({{u"registration_open"_s, false}}));
    QCOMPARE(registerFrom(u"127.0.0.7"_s, u"late@example.org"_s).status, 403);
    QVERIFY(m_server.restartService({{u"registration_open"_s, true}}));
}

void TestServerLimits::limitsCountTheClientBehindATrustedProxy()
{
    QVERIFY(m_server.restartService({{u"trusted_proxies"_s, QJsonArray{u"127.0.0.8"_s}}}));
    int account = 0;
    const auto registerVia = [&](const QString &from, const QByteArray &forwardedFor) {
        const QByteArray request =
            "GET /api" + accountQuery(u"/register/"_s, u"p%1@example.org"_s.arg(++account), u"pw"_s).toUtf8()
            + " HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: " + forwardedFor + "\r\nConnection: close\r\n\r\n";
        return exchange(from, port(), request).status;
    };
    // Behind the proxy each client has its own count; an address the client put first is ignored.
    for (int i = 0; i < 3; ++i)
        QCOMPARE(registerVia(u"127.0.0.8"_s, "10.0.0.1"), 200);
    QCOMPARE(registerVia(u"127.0.0.8"_s, "10.0.0.9, 10.0.0.1"), 429);
    QCOMPARE(registerVia(u"127.0.0.8"_s, "10.0.0.2"), 200);
    // From any other peer the header is not believed.
    for (int i = 0; i < 3; ++i)
        QCOMPARE(registerVia(u"127.0.0.9"_s, "10.0.1." + QByteArray::number(i)), 200);
    QCOMPARE(registerVia(u"127.0.0.9"_s, "10.0.1.9"), 429);
}

void TestServerLimits::resetMailsNameOnlyThePublicAddress()
{
    // A Host header naming another site never reaches the mail.
    const QByteArray request = "GET /api/forget_pwd/?user_email=" + kOwner.toUtf8()
                               + " HTTP/1.1\r\nHost: phish.example.net\r\nConnection: close\r\n\r\n";
    QCOMPARE(exchange(u"127.0.0.11"_s, port(), request).code(), 0);
    const QDir outbox(m_server.dataDir() + u"/outbox"_s);
    QFile mail(outbox.filePath(outbox.entryList(QDir::Files).value(0)));
    QVERIFY(mail.open(QIODevice::ReadOnly));
    const QByteArray text = mail.readAll();
    QVERIFY(!text.contains("phish.example.net") && text.contains(m_server.apiUrl().toUtf8()));
    // Two mails per account and hour.
    QCOMPARE(rawGet(u"127.0.0.12"_s, port(), u"/forget_pwd/?user_email="_s + kOwner).code(), 0);
    QCOMPARE(rawGet(u"127.0.0.12"_s, port(), u"/forget_pwd/?user_email="_s + kOwner).status, 429);
    // Without a public address, no mail at all.
    QVERIFY(m_server.restartService({{u"public_url"_s, QString()}}));
    QCOMPARE(rawGet(u"127.0.0.13"_s, port(), u"/forget_pwd/?user_email=new0@example.org"_s).status, 503);
    QCOMPARE(outbox.entryList(QDir::Files).size(), 2);
}

void TestServerLimits::pullPagesAreBoundedInBytes()
{
    SyncClient writer(m_server.origin(), u"writer"_s);
    QCOMPARE(writer.registerUser(u"pages@example.org"_s, u"pw"_s).code(), 0);
    // 16 records of 200 KiB: 3.3 MB, more than three pages of 1 MiB.
    for (int i = 0; i < 16; ++i) {
        QJsonObject record = SyncClient::textRecord(u"%1"_s.arg(i), 1700000000 + i);
        record.insert(u"content"_s, QString(200 * 1024, QChar(u'a' + i)));
        QCOMPARE(writer.pushRecord(record).code(), 0);
    }
    // The writer signs in again (its history gone): its full pull brings its own records too.
    QCOMPARE(writer.login(u"pages@example.org"_s, u"pw"_s).code(), 0);
    qint64 cursor = 0;
    const auto pages = writer.pullAll(&cursor);
    QVERIFY(pages && pages->size() >= 3);
    qsizetype records = 0;
    for (const HttpReply &page : *pages) {
        QVERIFY(page.body.size() < 2 * 1024 * 1024);
        records += page.histories().size();
    }
    QCOMPARE(records, 16);
}

void TestServerLimits::accountQuota()
{
    SyncClient device(m_server.origin(), u"quota"_s);
    QCOMPARE(device.registerUser(u"quota@example.org"_s, u"pw"_s).code(), 0);
    for (int i = 0; i < 30; ++i)
        QCOMPARE(device.pushRecord(SyncClient::textRecord(u"clip %1"_s.arg(i), 1700000000 + i)).code(), 0);
    // The 31st record is refused; the same clip again is a merge and still accepted.
    QCOMPARE(device.pushRecord(SyncClient::textRecord(u"one too many"_s, 1700000100)).status, 507);
    QCOMPARE(device.pushRecord(SyncClient::textRecord(u"clip 0"_s, 1700000200)).code(), 0);

    // Payloads count against the account's bytes (8 MiB here): the third of 3 MiB is refused.
    SyncClient files(m_server.origin(), u"files"_s);
    QCOMPARE(files.registerUser(u"files@example.org"_s, u"pw"_s).code(), 0);
    for (int i = 0; i < 3; ++i) {
        const QByteArray payload(3 * 1024 * 1024, char('a' + i));
        QJsonObject record = SyncClient::textRecord(u"file %1"_s.arg(i), 1700000300 + i);
        record.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
        QCOMPARE(files.upload(files.pushed(record), payload).status, i < 2 ? 200 : 507);
    }
}

void TestServerLimits::requestLogIsLimited()
{
    SyncClient flooder(m_server.origin(), u"flooder"_s);
    const qint64 started = QDateTime::currentSecsSinceEpoch();
    for (int i = 0; i < 300; ++i)
        QCOMPARE(flooder.get(u"/check_version/"_s, u"&flood="_s + QString::number(i), false).code(), 0);
    const qint64 seconds = QDateTime::currentSecsSinceEpoch() - started + 1;
    // What was left out is reported once lines are let through again.
    QTRY_VERIFY_WITH_TIMEOUT(flooder.get(u"/check_version/"_s, {}, false).code() == 0
                                 && m_server.serviceLog().contains("request log lines left out"),
                             10000);
    const qsizetype lines = m_server.serviceLog().count("/api/check_version/ ");
    QVERIFY2(lines <= 5 * (seconds + 12), qPrintable(QString::number(lines)));
}

void TestServerLimits::badInputFromOneAddressIsAnsweredSlowly()
{
    // 20 bad requests in a row from one address, 5 a second allowed: every one is answered, and
    // the last ones only in later seconds (a lower bound, which load can only lengthen).
    QVERIFY(m_server.restartService({{u"bad_requests_per_address_per_second"_s, 5}}));
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < 20; ++i)
        QCOMPARE(m_device->post(u"/push/"_s, "{not json").status, 400);
    QVERIFY2(elapsed.elapsed() >= 2000, qPrintable(QString::number(elapsed.elapsed())));
    // Another address is answered at once.
    QCOMPARE(rawGet(u"127.0.12.2"_s, port(), u"/check_version/"_s).code(), 0);
}

QTEST_GUILESS_MAIN(TestServerLimits)
#include "tst_server_limits.moc"
