// Abuse is bounded: password guessing is counted per address and per account and cannot lock
// the owner out; registrations and reset mails are limited, also behind a proxy; reset mails
// name only the configured public address; pull pages are bounded in bytes; accounts have a
// quota; a flood of requests cannot flood the request log. Other machines are other loopback addresses
// (127.0.0.x).

#include "RawHttp.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTest>
#include <QUrl>

#include <future>

using namespace Qt::StringLiterals;

namespace {

const QString kOwner = u"owner@example.org"_s;

QString accountQuery(const QString &endpoint, const QString &email, const QString &password)
{
    return endpoint + u"?device_token=d&username="_s + QString::fromLatin1(QUrl::toPercentEncoding(email))
           + u"&pwd_hash="_s + SyncClient::md5Hex(password.toUtf8());
}

} // namespace

class TestServerLimits final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void guessesAreCountedBeforeTheyAreAnswered();
    void ownerGetsThroughLimitsOthersCaused();
    void registrationIsLimitedAndChecked();
    void limitsCountTheClientBehindATrustedProxy();
    void resetMailsNameOnlyThePublicAddress();
    void pullPagesAreBoundedInBytes();
    void accountQuota();
    void requestLogIsLimited();

private:
    HttpReply login(const QString &from, const QString &email, const QString &password)
    {
        return RawHttp::get(from, port(), accountQuery(u"/login/"_s, email, password));
    }
    // Statuses of `count` sign-ins sent at once from `from`.
    QList<int> parallelLogins(const QString &from, const QString &email, int count);
    quint16 port() const { return quint16(QUrl(m_server.origin()).port()); }

    ServerHarness m_server;
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
                                       {u"request_log_per_second"_s, 5}}}));
    QCOMPARE(RawHttp::get(u"127.0.0.10"_s, port(), accountQuery(u"/register/"_s, kOwner, u"pw"_s)).code(), 0);
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
    // 30 guesses at once from one address: the 5 free ones and at most one slow one are checked
    // (one more may pass after the last failure's wait, under load); the rest are refused.
    const QList<int> statuses = parallelLogins(u"127.0.0.2"_s, u"victim1@example.org"_s, 30);
    QVERIFY2(statuses.count(401) <= 8, qPrintable(QString::number(statuses.count(401))));
    QCOMPARE(statuses.count(401) + statuses.count(429), 30);
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
        return RawHttp::get(from, port(), accountQuery(u"/register/"_s, email, u"pw"_s));
    };
    for (const QString &bad : {u"a@b"_s, u"a@-b.org"_s, u"a..b@example.org"_s, u"a@@example.org"_s})
        QVERIFY2(registerFrom(u"127.0.0.5"_s, bad).status == 400, qPrintable(bad));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(registerFrom(u"127.0.0.5"_s, u"new%1@example.org"_s.arg(i)).code(), 0);
    QCOMPARE(registerFrom(u"127.0.0.5"_s, u"new3@example.org"_s).status, 429);
    QCOMPARE(registerFrom(u"127.0.0.6"_s, u"new3@example.org"_s).code(), 0);
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
        return RawHttp::exchange(from, port(), request).status;
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
    QCOMPARE(RawHttp::exchange(u"127.0.0.11"_s, port(), request).code(), 0);
    const QDir outbox(m_server.dataDir() + u"/outbox"_s);
    QFile mail(outbox.filePath(outbox.entryList(QDir::Files).value(0)));
    QVERIFY(mail.open(QIODevice::ReadOnly));
    const QByteArray text = mail.readAll();
    QVERIFY(!text.contains("phish.example.net") && text.contains(m_server.apiUrl().toUtf8()));
    // Two mails per account and hour.
    QCOMPARE(RawHttp::get(u"127.0.0.12"_s, port(), u"/forget_pwd/?user_email="_s + kOwner).code(), 0);
    QCOMPARE(RawHttp::get(u"127.0.0.12"_s, port(), u"/forget_pwd/?user_email="_s + kOwner).status, 429);
    // Without a public address, no mail at all.
    QVERIFY(m_server.restartService({{u"public_url"_s, QString()}}));
    QCOMPARE(RawHttp::get(u"127.0.0.13"_s, port(), u"/forget_pwd/?user_email=new0@example.org"_s).status,
             503);
    QCOMPARE(outbox.entryList(QDir::Files).size(), 2);
    QVERIFY(m_server.restartService({{u"public_url"_s, m_server.apiUrl()}}));
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
    // What it sends after that sign-in is still not handed back to it.
    QCOMPARE(writer.pushRecord(SyncClient::textRecord(u"after signing in again"_s, 1700000100)).code(), 0);
    QVERIFY(writer.pull(cursor).histories().isEmpty());
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

QTEST_GUILESS_MAIN(TestServerLimits)
#include "tst_server_limits.moc"
