// Abuse is bounded: password guessing is counted per address and per account and cannot lock
// the owner out; registrations and reset mails are limited; addresses are checked; reset mails
// name only the configured public address; pull pages are bounded in bytes; accounts have a
// quota. Other machines are other loopback addresses (127.0.0.x).

#include "RawHttp.h"
#include "ServerHarness.h"
#include "SyncClient.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTest>
#include <QUrl>

#include <future>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const QString kOwner = u"owner@example.org"_s;

QString loginQuery(const QString &email, const QString &password, const QString &device = u"dev1"_s)
{
    return u"/login/?device_type=linux&device_token="_s + device + u"&username="_s + email + u"&pwd_hash="_s
           + SyncClient::md5Hex(password.toUtf8());
}

// Statuses of `count` sign-ins sent at once from `from`.
QList<int> parallelLogins(const QString &from, quint16 port, const QString &email, int count)
{
    std::vector<std::future<int>> answers;
    for (int i = 0; i < count; ++i)
        answers.push_back(std::async(std::launch::async, [=] {
            return RawHttp::get(from, port, loginQuery(email, u"guess %1"_s.arg(i))).status;
        }));
    QList<int> statuses;
    for (auto &answer : answers)
        statuses << answer.get();
    return statuses;
}

} // namespace

class TestServerLimits final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void guessesAreCountedBeforeTheyAreAnswered();
    void successElsewhereKeepsTheCount();
    void ownerGetsThroughLimitsOthersCaused();
    void registrationIsLimitedAndChecked();
    void limitsCountTheClientBehindATrustedProxy();
    void resetMailsAreLimitedAndNameOnlyThePublicAddress();
    void pullPagesAreBoundedInBytes();
    void accountQuota();

private:
    quint16 port() const { return quint16(QUrl(m_server.origin()).port()); }

    ServerHarness m_server;
};

void TestServerLimits::initTestCase()
{
    ServerHarness::Options options;
    // A slow attempt waits long enough that every attempt sent at once arrives while it waits.
    options.config = {{u"login_failures_before_delay"_s, 5},
                      {u"account_failures_before_delay"_s, 8},
                      {u"login_slow_seconds"_s, 3},
                      {u"registrations_per_address_per_hour"_s, 3},
                      {u"resets_per_address_per_hour"_s, 3},
                      {u"resets_per_account_per_hour"_s, 2},
                      {u"max_pull_bytes"_s, 1024 * 1024},
                      {u"account_max_records"_s, 30},
                      {u"account_max_bytes"_s, 8 * 1024 * 1024}};
    QVERIFY(m_server.start(options));
    // Accounts made straight in the database would skip the broker: they are registered from
    // addresses of their own, within the per-address limit.
    QCOMPARE(RawHttp::get(
                 u"127.0.0.10"_s, port(),
                 u"/register/?device_token=d&username=%1&pwd_hash=%2"_s.arg(kOwner, SyncClient::md5Hex("pw")))
                 .code(),
             0);
    QCOMPARE(RawHttp::get(u"127.0.0.10"_s, port(),
                          u"/register/?device_token=d&username=guesser@example.org&pwd_hash=%1"_s.arg(
                              SyncClient::md5Hex("mine")))
                 .code(),
             0);
}

void TestServerLimits::guessesAreCountedBeforeTheyAreAnswered()
{
    // 30 guesses at once from one address: the 5 free ones and at most one slow one are
    // checked; every other is refused before any password is looked at.
    const QList<int> statuses = parallelLogins(u"127.0.0.2"_s, port(), u"victim1@example.org"_s, 30);
    // (An attempt admitted after the wait of the last failure passed adds one, under load.)
    QVERIFY2(statuses.count(401) <= 8, qPrintable(QString::number(statuses.count(401))));
    QCOMPARE(statuses.count(401) + statuses.count(429), 30);
}

void TestServerLimits::successElsewhereKeepsTheCount()
{
    const QString from = u"127.0.0.3"_s;
    for (int i = 0; i < 5; ++i)
        QCOMPARE(RawHttp::get(from, port(), loginQuery(u"victim2@example.org"_s, u"g%1"_s.arg(i))).status,
                 401);
    // Signing in to one's own account is no licence to guess at another.
    QCOMPARE(RawHttp::get(from, port(), loginQuery(u"guesser@example.org"_s, u"mine"_s)).code(), 0);
    // Of guesses sent at once, one may pass when the last failure's wait is over, one more
    // slowly; the rest are refused unchecked (with the count cleared, all five would be checked).
    const QList<int> statuses = parallelLogins(from, port(), u"victim2@example.org"_s, 5);
    QVERIFY2(statuses.count(401) <= 2, qPrintable(QString::number(statuses.count(401))));
}

void TestServerLimits::ownerGetsThroughLimitsOthersCaused()
{
    // Others on the owner's shared address used up its free failures...
    const QString shared = u"127.0.0.4"_s;
    for (int i = 0; i < 5; ++i)
        QCOMPARE(RawHttp::get(shared, port(), loginQuery(kOwner, u"wrong %1"_s.arg(i))).status, 401);
    // ... and guesses from many addresses used up the account's.
    for (int i = 0; i < 4; ++i)
        QCOMPARE(RawHttp::get(u"127.0.1.%1"_s.arg(i + 1), port(), loginQuery(kOwner, u"w%1"_s.arg(i))).status,
                 401);
    // A fresh address is slowed at this account now: of guesses sent at once, most are refused.
    const QList<int> statuses = parallelLogins(u"127.0.2.1"_s, port(), kOwner, 5);
    QVERIFY2(statuses.count(401) <= 2, qPrintable(QString::number(statuses.count(401))));
    // The owner, from the shared address, still signs in (slowly), and the account's count
    // starts again.
    QCOMPARE(RawHttp::get(shared, port(), loginQuery(kOwner, u"pw"_s)).code(), 0);
    QCOMPARE(RawHttp::get(u"127.0.2.2"_s, port(), loginQuery(kOwner, u"pw"_s)).code(), 0);
}

void TestServerLimits::registrationIsLimitedAndChecked()
{
    const auto registerFrom = [this](const QString &from, const QString &email) {
        return RawHttp::get(from, port(),
                            u"/register/?device_token=d&username="_s
                                + QString::fromLatin1(QUrl::toPercentEncoding(email)) + u"&pwd_hash="_s
                                + SyncClient::md5Hex("pw"));
    };
    for (const QString &bad :
         {u".@-.aa"_s, u"a@b"_s, u"a@-b.org"_s, u"a@b-.org"_s, u"a@b..org"_s, u"a..b@example.org"_s,
          u".a@example.org"_s, u"a@@example.org"_s, u"a@.example.org"_s})
        QVERIFY2(registerFrom(u"127.0.0.5"_s, bad).status == 400, qPrintable(bad));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(registerFrom(u"127.0.0.5"_s, u"new%1@mail.example.org"_s.arg(i)).code(), 0);
    const HttpReply limited = registerFrom(u"127.0.0.5"_s, u"new3@mail.example.org"_s);
    QCOMPARE(limited.status, 429);
    QVERIFY(limited.value("retry_after").toInteger() >= 1);
    QCOMPARE(registerFrom(u"127.0.0.6"_s, u"new3@mail.example.org"_s).code(), 0);

    // The administrator closes registration; sign-in still works.
    QVERIFY(m_server.restartService({{u"registration_open"_s, false}}));
    QCOMPARE(registerFrom(u"127.0.0.7"_s, u"late@example.org"_s).status, 403);
    QCOMPARE(RawHttp::get(u"127.0.0.7"_s, port(), loginQuery(u"new3@mail.example.org"_s, u"pw"_s)).code(), 0);
    QVERIFY(m_server.restartService({{u"registration_open"_s, true}}));
}

void TestServerLimits::limitsCountTheClientBehindATrustedProxy()
{
    QVERIFY(m_server.restartService({{u"trusted_proxies"_s, QJsonArray{u"127.0.0.8"_s}}}));
    int account = 0;
    const auto registerVia = [&](const QString &from, const QByteArray &forwardedFor) {
        const QByteArray request =
            "GET /api/register/?device_token=d&username=proxied" + QByteArray::number(++account)
            + "%40example.org&pwd_hash=" + SyncClient::md5Hex("pw").toLatin1()
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
    QVERIFY(m_server.restartService({{u"trusted_proxies"_s, QJsonArray()}}));
}

void TestServerLimits::resetMailsAreLimitedAndNameOnlyThePublicAddress()
{
    const QDir outbox(m_server.dataDir() + u"/outbox"_s);
    const auto mails = [&outbox] { return outbox.entryList(QDir::Files).size(); };
    const qsizetype before = mails();
    // A Host header naming another site never reaches the mail.
    const HttpReply asked =
        RawHttp::exchange(u"127.0.0.8"_s, port(),
                          "GET /api/forget_pwd/?user_email=" + kOwner.toUtf8()
                              + " HTTP/1.1\r\nHost: phish.example.net\r\nConnection: close\r\n\r\n");
    QCOMPARE(asked.code(), 0);
    QCOMPARE(mails(), before + 1);
    for (const QString &name : outbox.entryList(QDir::Files)) {
        QFile mail(outbox.filePath(name));
        QVERIFY(mail.open(QIODevice::ReadOnly));
        const QByteArray text = mail.readAll();
        QVERIFY(!text.contains("phish.example.net"));
        QVERIFY(text.contains(m_server.apiUrl().toUtf8()));
    }
    // Two mails per account and hour, three requests per address and hour.
    QCOMPARE(RawHttp::get(u"127.0.0.8"_s, port(), u"/forget_pwd/?user_email="_s + kOwner).code(), 0);
    QCOMPARE(RawHttp::get(u"127.0.0.8"_s, port(), u"/forget_pwd/?user_email="_s + kOwner).status, 429);
    QCOMPARE(RawHttp::get(u"127.0.0.8"_s, port(), u"/forget_pwd/?user_email=guesser@example.org"_s).status,
             429);
    QCOMPARE(RawHttp::get(u"127.0.0.9"_s, port(), u"/forget_pwd/?user_email=guesser@example.org"_s).code(),
             0);
    QCOMPARE(mails(), before + 3);

    // Without a public address, no mail at all, and the log says why.
    QVERIFY(m_server.restartService({{u"public_url"_s, QString()}}));
    const HttpReply refused = RawHttp::get(u"127.0.0.11"_s, port(), u"/forget_pwd/?user_email="_s + kOwner);
    QCOMPARE(refused.status, 503);
    QCOMPARE(mails(), before + 3);
    QVERIFY(m_server.serviceLog().contains("public_url is not set"));
    QVERIFY(m_server.restartService({{u"public_url"_s, m_server.apiUrl()}}));
}

void TestServerLimits::pullPagesAreBoundedInBytes()
{
    SyncClient writer(m_server.origin(), u"writer"_s);
    SyncClient reader(m_server.origin(), u"reader"_s);
    QCOMPARE(writer.registerUser(u"pages@example.org"_s, u"pw"_s).code(), 0);
    QCOMPARE(reader.login(u"pages@example.org"_s, u"pw"_s).code(), 0);
    // 16 records of 200 KiB: 3.3 MB, more than three pages of 1 MiB.
    QSet<QString> pushed;
    for (int i = 0; i < 16; ++i) {
        const QString text(200 * 1024, QChar(u'a' + i));
        QJsonObject record = SyncClient::textRecord(text, 1700000000 + i);
        record.insert(u"content"_s, text);
        const HttpReply reply = writer.pushRecord(record);
        QCOMPARE(reply.code(), 0);
        pushed << reply.history().value("file_hash"_L1).toString();
    }
    qint64 end = 0;
    const auto pullAll = [&end](SyncClient &device, int *pageCount) {
        QSet<QString> pulled;
        qint64 cursor = 0;
        int pages = 0;
        for (bool more = true; more && pages < 20; ++pages) {
            const HttpReply page = device.pull(cursor);
            if (page.code() != 0 || page.body.size() >= 2 * 1024 * 1024 || page.histories().isEmpty())
                return QSet<QString>();
            for (const QJsonValue &v : page.histories())
                pulled << v.toObject().value("file_hash"_L1).toString();
            more = page.value("has_more").toBool();
            cursor = page.cursor();
        }
        *pageCount = pages;
        end = cursor;
        return pulled;
    };
    int pages = 0;
    QCOMPARE(pullAll(reader, &pages), pushed);
    QVERIFY(pages >= 3);

    // The writer signed out (its history gone) and signs in again: every page of its full pull
    // brings its own records too, not only the first.
    QCOMPARE(writer.login(u"pages@example.org"_s, u"pw"_s).code(), 0);
    QCOMPARE(pullAll(writer, &pages), pushed);
    QVERIFY(pages >= 3);
    // What it sends after that sign-in is still not handed back to it.
    QCOMPARE(writer.pushRecord(SyncClient::textRecord(u"after signing in again"_s, 1700000100)).code(), 0);
    QVERIFY(writer.pull(end).histories().isEmpty());
    QCOMPARE(reader.pull(end).histories().size(), 1);
}

void TestServerLimits::accountQuota()
{
    SyncClient device(m_server.origin(), u"quota"_s);
    QCOMPARE(device.registerUser(u"quota@example.org"_s, u"pw"_s).code(), 0);
    QJsonObject first;
    for (int i = 0; i < 30; ++i) {
        const HttpReply reply =
            device.pushRecord(SyncClient::textRecord(u"clip %1"_s.arg(i), 1700000000 + i));
        QCOMPARE(reply.code(), 0);
        if (i == 0)
            first = reply.history();
    }
    // The 31st record is refused clearly; the same clip again is a merge and still accepted.
    const HttpReply full = device.pushRecord(SyncClient::textRecord(u"one too many"_s, 1700000100));
    QCOMPARE(full.status, 507);
    QVERIFY(full.value("msg").toString().contains("quota"_L1));
    QCOMPARE(device.pushRecord(SyncClient::textRecord(u"clip 0"_s, 1700000200)).code(), 0);
    // Deleting makes room again.
    QCOMPARE(device.deleteRecord(first).code(), 0);
    QCOMPARE(device.pushRecord(SyncClient::textRecord(u"one too many"_s, 1700000100)).code(), 0);

    // Payloads count against the account's bytes (8 MiB here): the third of 3 MiB is refused
    // and not stored.
    SyncClient files(m_server.origin(), u"files"_s);
    QCOMPARE(files.registerUser(u"files@example.org"_s, u"pw"_s).code(), 0);
    for (int i = 0; i < 3; ++i) {
        const QByteArray payload(3 * 1024 * 1024, char('a' + i));
        QJsonObject record = SyncClient::textRecord(u"file %1"_s.arg(i), 1700000300 + i);
        record.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
        const QJsonObject stored = files.pushed(record);
        const HttpReply uploaded = files.upload(stored, payload);
        QCOMPARE(uploaded.status, i < 2 ? 200 : 507);
        QCOMPARE(files.getRecord(stored).history().value("file_ready"_L1).toInt(), i < 2 ? 1 : 0);
    }
}

QTEST_GUILESS_MAIN(TestServerLimits)
#include "tst_server_limits.moc"
