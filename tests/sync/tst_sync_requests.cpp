// The request layer against the real quillet-sync-server on 127.0.0.1 (and, for what goes over
// the wire byte for byte or what a real service never answers, a recording HTTP server).
#include "RecordingHttpServer.h"
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "SyncClient.h"
#include "TestCertificates.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "menu/ClipFixtures.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryModel.h"
#include "store/PathHelper.h"
#include "store/SettingsKeys.h"
#include "support/Md5.h"
#include "sync/AccountRequests.h"
#include "sync/ClipRequests.h"
#include "sync/FileTransfer.h"
#include "sync/PushClipsManager.h"
#include "sync/ServiceRequests.h"
#include "sync/SyncIdentity.h"
#include "sync/SyncServer.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QString key(const char *name)
{
    return QLatin1String(name);
}

void useService(const QString &apiUrl)
{
    qputenv("QUILLET_API_URL", apiUrl.toUtf8());
}

void signOutQuietly()
{
    testAccount().setLoginUserToken(std::nullopt);
}

// The three identity pairs every URL starts its query with.
QString common()
{
    return u"?device_type="_s + deviceTypeString() + u"&device_token="_s + currentDeviceToken()
           + u"&version="_s + appVersionString();
}

template<typename T> std::shared_ptr<T> make()
{
    return std::make_shared<T>();
}

std::shared_ptr<FindPwdRequestManager> findPassword(const QString &email)
{
    auto request = make<FindPwdRequestManager>();
    request->setUserEmail(email);
    return request;
}

// A request whose parse() is counted.
class CountingFindPwd final : public FindPwdRequestManager
{
public:
    RequestResult parse(const QByteArray &body) override
    {
        ++parses;
        return FindPwdRequestManager::parse(body);
    }
    std::atomic<int> parses = 0;
};

} // namespace

class TestSyncRequests final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ServerHarness m_server;
    int m_logins = 0;
    int m_logouts = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        ConfigureManager &account = testAccount();
        connect(&account, &ConfigureManager::signedIn, this, [this] { ++m_logins; });
        connect(&account, &ConfigureManager::signedOut, this, [this] { ++m_logouts; });
    }

    void init()
    {
        useService(m_server.apiUrl());
        SyncServer::setStoredCAFile(testSettings(), QString());
    }

    void cleanup()
    {
        if (testAccount().isSignedIn())
            signOutQuietly();
    }

    void identityValues()
    {
        const QString deviceKey = key(SettingsKeys::deviceToken);
        const QString process = currentDeviceToken();
        QCOMPARE(ClipUserDefaults::stringValue(deviceKey), process);

        // Two fresh settings folders on one machine (two Quillets, or two users) get tokens of
        // their own, each stored at once and kept by every later run.
        const QByteArray configDir = qgetenv("QUILLET_CONFIG_DIR");
        QTemporaryDir first;
        QTemporaryDir second;
        QStringList made;
        for (const QTemporaryDir *dir : {&first, &second}) {
            qputenv("QUILLET_CONFIG_DIR", dir->path().toUtf8());
            const QString token = makeDeviceToken();
            QVERIFY(QRegularExpression(u"^[0-9a-f]{32}$"_s).match(token).hasMatch());
            QCOMPARE(makeDeviceToken(), token);
            made << token;
        }
        QVERIFY(made.at(0) != made.at(1));
        // A token stored before (by an earlier version, made from the machine id) stays.
        ClipUserDefaults::setValue(deviceKey, md5_hex(u"0123456789abcdef0123456789abcdef"_s));
        QCOMPARE(makeDeviceToken(), md5_hex(u"0123456789abcdef0123456789abcdef"_s));
        // Removing the key, as the README tells a cloned machine to, makes a new one.
        ClipUserDefaults::remove(deviceKey);
        QVERIFY(makeDeviceToken() != md5_hex(u"0123456789abcdef0123456789abcdef"_s));
        qputenv("QUILLET_CONFIG_DIR", configDir);
        QCOMPARE(makeDeviceToken(), process);

        QCOMPARE(deviceTypeFromKernelRelease(u"6.1.0-18-amd64"_s), u"linux_6.1.0"_s);
        QCOMPARE(deviceTypeFromKernelRelease(u"6.5"_s), u"linux_6.5.0"_s);
        QCOMPARE(deviceTypeFromKernelRelease(u"5.15.0rc2+"_s), u"linux_5.15.0"_s);
        QCOMPARE(deviceTypeFromKernelRelease(QString()), u"linux_0.0.0"_s);
        QVERIFY(QRegularExpression(u"^linux_\\d+\\.\\d+\\.\\d+$"_s).match(deviceTypeString()).hasMatch());
        QVERIFY(QRegularExpression(u"^\\d+(\\.\\d+)*_\\w+$"_s).match(appVersionString()).hasMatch());

        QCOMPARE(urlencode(u"Anna's Mac mini"_s), u"Anna%27s+Mac+mini"_s);
        QCOMPARE(urlencode(u"a-Z.0_9~"_s), u"a-Z.0_9~"_s);
        QCOMPARE(urlencode(u"我+/&=%"_s), u"%E6%88%91%2B%2F%26%3D%25"_s);
    }

    void serviceAddress()
    {
        QCOMPARE(SyncServer::normalizedAddress(u" https://sync.example.org "_s),
                 u"https://sync.example.org/api"_s);
        QCOMPARE(SyncServer::normalizedAddress(u"http://10.0.0.2:8888/api/"_s),
                 u"http://10.0.0.2:8888/api"_s);
        for (const char *bad : {"sync.example.org", "ftp://sync.example.org", "file:///etc/passwd",
                                "https://", "https://h/api?x=1", "javascript:alert(1)"})
            QVERIFY2(!SyncServer::normalizedAddress(QLatin1String(bad)), bad);

        // The environment wins over the stored address, which wins over the build's.
        QVERIFY(SyncServer::setStoredAddress(testSettings(), u"https://sync.example.org"_s));
        QCOMPARE(SyncServer::baseURL(), m_server.apiUrl());
        qunsetenv("QUILLET_API_URL");
        QCOMPARE(SyncServer::baseURL(), u"https://sync.example.org/api"_s);
        QVERIFY(!SyncServer::setStoredAddress(testSettings(), u"sync.example.org"_s));
        QCOMPARE(SyncServer::storedAddress(), u"https://sync.example.org/api"_s);
        QVERIFY(SyncServer::setStoredAddress(testSettings(), QString()));
        QVERIFY(SyncServer::baseURL().startsWith("http"_L1));
        QVERIFY(!SyncServer::baseURL().endsWith(QLatin1Char('/')));
    }

    // What goes over the wire is the URL as assembled, not escaped again.
    void wireRequests()
    {
        RecordingHttpServer wire;
        useService(wire.origin() + u"/api"_s);

        // Signed out, a request that needs a user ends at once and sends nothing.
        auto pull = make<PullClipsManager>();
        const RequestOutcome signedOut = sendAndWait(pull);
        QCOMPARE(signedOut.calls, 1);
        QVERIFY(signedOut.onMainThread);
        QCOMPARE(signedOut.statusCode, -999);
        QVERIFY(!signedOut.result);
        QVERIFY(!signedOut.error);
        QCOMPARE(wire.connections(), 0);

        auto init = make<InitRequestManager>();
        init->setDeviceName(urlencode(u"Anna's Mac mini"_s));
        const RequestOutcome announced = sendAndWait(init);
        QCOMPARE(announced.calls, 1);
        QCOMPARE(announced.statusCode, 200);
        QCOMPARE(wire.requestLines().value(0),
                 (u"GET /api/init/"_s + common() + u"&device_name=Anna%27s+Mac+mini HTTP/1.1"_s).toUtf8());

        // The same request after signing in: the token is read when the URL is built.
        testAccount().setLoginUserToken(u"tok"_s);
        wire.setReply(200, "{\"code\":0,\"histories\":[]}");
        const RequestOutcome pulled = sendAndWait(pull);
        QCOMPARE(pulled.statusCode, 200);
        QCOMPARE(wire.requestLines().value(1),
                 (u"GET /api/pull/"_s + common() + u"&user_token=tok&last_request_timestamp=0 HTTP/1.1"_s)
                     .toUtf8());
    }

    // A download never brings more than the payload can be: the smaller of the payload limit
    // and the size the record announces. Beyond it the transfer stops and leaves nothing.
    void downloadsStopAtTheirLimit()
    {
        RecordingHttpServer wire;
        useService(wire.origin() + u"/api"_s);
        testAccount().setLoginUserToken(u"tok"_s);
        const QByteArray bytes = QByteArray("payload ").repeated(1000);
        wire.setReply(200, bytes);
        HistoryModel record;
        record.file_hash = md5_hex(bytes);
        record.type = u"text_txt"_s;
        record.category = Category::history;
        const auto download = [&record] {
            std::optional<std::optional<RequestError>> outcome;
            testSync().downloads().downloadHistory(record,
                                                   [&](const auto &, const auto &error) { outcome = error; });
            (void)QTest::qWaitFor([&] { return outcome.has_value(); }, 20000);
            return outcome;
        };

        record.file_size = double(bytes.size() - 1);
        const auto refused = download();
        QVERIFY(refused && *refused);
        QVERIFY(!QFileInfo::exists(PathHelper::getBaseFilePath(record.hash())));
        QCOMPARE(QDir(PathHelper::getBaseFilePath()).entryList(QDir::Files | QDir::Hidden), QStringList());

        record.file_size = double(bytes.size());
        const auto taken = download();
        QVERIFY(taken && !*taken);
        QVERIFY(QFileInfo::exists(PathHelper::getBaseFilePath(record.hash())));
        signOutQuietly();
    }

    // A file endpoint answering 401 means the service ended the sign-in: this device signs out,
    // once, and keeps its history.
    void aRefusedDownloadSignsOutAndKeepsTheHistory()
    {
        RecordingHttpServer wire;
        useService(wire.origin() + u"/api"_s);
        wire.setReply(401, "{\"code\":401,\"token_expire\":1}");
        testAccount().setLoginUserToken(u"tok"_s);
        QSignalSpy ended(&testAccount(), &ConfigureManager::signInEnded);
        // Known here, its payload not yet.
        HistoryModel record;
        record.content = u"kept after the service ended the sign-in"_s;
        record.file_hash = md5_hex(record.content.value());
        record.type = u"text_txt"_s;
        record.file_id = 3;
        record.file_ready = 1;
        record.save();
        int answers = 0;
        for (int i = 0; i < 2; ++i)
            testSync().downloads().downloadHistory(record,
                                                   [&answers](const auto &, const auto &) { ++answers; });
        QTRY_COMPARE(answers, 2);
        QTRY_COMPARE(ended.size(), 1);
        QVERIFY(!testAccount().isSignedIn());
        QVERIFY(!ClipUserDefaults::contains(key(SettingsKeys::loginUserToken)));
        QCOMPARE(DBKeeper::getAllHistory().size(), 1);
        DBKeeper::removeAllData();
    }

    // Notices for one clip that arrive together cost one request to fetch it.
    void oneFetchForNoticesThatArriveTogether()
    {
        RecordingHttpServer wire;
        useService(wire.origin() + u"/api"_s);
        testAccount().setLoginUserToken(u"tok"_s);
        HistoryModel record;
        record.file_hash = md5_hex(QByteArray("fetched once"));
        record.history_id = 7;
        int answers = 0;
        for (int notice = 0; notice < 5; ++notice)
            testSync().clips().Get(record, [&](const auto &, const auto &) { ++answers; });
        QTRY_COMPARE(answers, 5);
        QCOMPARE(wire.requestLines().size(), 1);
        signOutQuietly();
    }

    // The sign-out the user chose asks the service to end the token, then signs out here
    // whatever the answer: a service without "/logout/" (404) or one that never answers (within
    // the wait) keeps nobody signed in.
    void signOutGoesOnWithoutTheService()
    {
        RecordingHttpServer wire;
        useService(wire.origin() + u"/api"_s);
        wire.setReply(404, "{\"code\":404}");
        QTcpServer silent; // takes the connection and never answers
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        for (const bool answers : {true, false}) {
            if (!answers)
                useService(u"http://127.0.0.1:%1/api"_s.arg(silent.serverPort()));
            testAccount().setLoginUserToken(u"tok"_s);
            ClipFixtures::text(u"here until the sign-out"_s, 1);
            bool done = false;
            signOutOfService(
                testSync(), [&done] { done = true; }, 500);
            QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
            QVERIFY(!testAccount().isSignedIn());
            QCOMPARE(DBKeeper::getAllHistory().size(), 0);
            // The silent service never answers: only the end of the wait can have signed out.
            if (answers)
                QVERIFY(wire.requestLines().last().startsWith("GET /api/logout/?"));
        }
        QCOMPARE(wire.requestLines().size(), 1);
        QVERIFY(wire.requestLines().first().contains("&user_token=tok"));
    }

    // A reply larger than any answer of its kind is not read to its end.
    void oversizedRepliesAreRefused()
    {
        RecordingHttpServer wire;
        useService(wire.origin() + u"/api"_s);
        wire.setReply(200, "{\"code\":0,\"data\":\"" + QByteArray(2 * 1024 * 1024, 'x') + "\"}");
        const RequestOutcome outcome = sendAndWait(make<CheckUpdateRequestManager>());
        QCOMPARE(outcome.calls, 1);
        QVERIFY(outcome.error);
        QVERIFY(!outcome.result);
    }

    // Replies a real service does not give: each still completes once, on the main thread.
    void replyFailures()
    {
        RecordingHttpServer wire;
        useService(wire.origin() + u"/api"_s);

        wire.setReply(200, QByteArray());
        RequestOutcome outcome = sendAndWait(findPassword(u"anna@example.org"_s));
        QCOMPARE(outcome.calls, 1);
        QCOMPARE(outcome.statusCode, 200);
        QVERIFY(!outcome.result);
        QVERIFY(outcome.error);
        QCOMPARE(outcome.error->domain, u"com.quillet.client"_s);
        QCOMPARE(outcome.error->code, 0);

        wire.setReply(200, "<html>not json</html>");
        outcome = sendAndWait(findPassword(u"anna@example.org"_s));
        QCOMPARE(outcome.calls, 1);
        QCOMPARE(outcome.statusCode, 200);
        QVERIFY(!outcome.result);
        QVERIFY(!outcome.error);

        // Nobody listens: no HTTP status at all.
        const int closed = ServerHarness::freePort();
        useService(u"http://127.0.0.1:%1/api"_s.arg(closed));
        outcome = sendAndWait(make<InitRequestManager>());
        QCOMPARE(outcome.calls, 1);
        QVERIFY(outcome.onMainThread);
        QCOMPARE(outcome.statusCode, -999);
        QVERIFY(outcome.error);
        QVERIFY(!outcome.result);
    }

    void accountRequestsAgainstService()
    {
        // The "+" must reach the service escaped, or the address would not be this one.
        const QString email = u"anna+sync@example.org"_s;
        const int loginsBefore = m_logins;

        // Registration signs in and keeps the account and the broker credentials.
        RequestOutcome outcome = registerAccount(email, u"pw-1"_s);
        QCOMPARE(outcome.code(), 0);
        QVERIFY(!outcome.error);
        ConfigureManager &account = testAccount();
        QVERIFY(account.isSignedIn());
        QCOMPARE(account.loginUserEmail(), email);
        QCOMPARE(account.loginUserId(), QString::number(outcome.result->value(u"user_id"_s).toInteger()));
        QCOMPARE(ClipUserDefaults::stringValue(key(SettingsKeys::mqttUserName)),
                 outcome.result->value(u"mqtt_username"_s).toString());
        QVERIFY(
            !ClipUserDefaults::stringValue(key(SettingsKeys::mqttPassword)).value_or(QString()).isEmpty());
        QTRY_COMPARE(m_logins, loginsBefore + 1);

        // Sign-out forgets the broker credentials.
        signOutQuietly();
        QVERIFY(!ClipUserDefaults::contains(key(SettingsKeys::mqttUserName)));
        QVERIFY(!ClipUserDefaults::contains(key(SettingsKeys::mqttPassword)));

        // A taken address: 1001, still signed out.
        outcome = registerAccount(email, u"other"_s);
        QCOMPARE(outcome.code(), AccountCodes::emailTaken);
        QVERIFY(!account.isSignedIn());

        // A wrong password is an HTTP failure; the right one signs in.
        outcome = signIn(email, u"wrong"_s);
        QCOMPARE(outcome.calls, 1);
        QVERIFY(outcome.error);
        QVERIFY(!outcome.result);
        QVERIFY(!account.isSignedIn());
        QVERIFY(!outcome.error->description.contains(md5_hex(u"wrong"_s)));
        outcome = signIn(email, u"pw-1"_s);
        QCOMPARE(outcome.code(), 0);
        QVERIFY(account.isSignedIn());
        QCOMPARE(account.loginUserEmail(), email);

        // Password reset: unknown address 1002, known address 0.
        QCOMPARE(sendAndWait(findPassword(u"nobody@example.org"_s)).code(), AccountCodes::emailUnknown);
        QCOMPARE(sendAndWait(findPassword(email)).code(), 0);

        // Nothing secret in the service's log.
        const QByteArray log = m_server.serviceLog();
        QVERIFY(!log.contains(md5_hex(u"pw-1"_s).toUtf8()));
        QVERIFY(!log.contains(account.loginUserToken().toUtf8()));
    }

    void initPagesAreKept()
    {
        QJsonObject reply{{u"code"_s, 0},
                          {u"data"_s, QJsonObject{{u"homepage"_s, u"https://q.example.org/"_s},
                                                  {u"developer"_s, u"file:///etc/passwd"_s}}}};
        InitRequestManager::storePages(testSettings(), reply);
        QCOMPARE(ClipUserDefaults::stringValue(key(SettingsKeys::homepage)), u"https://q.example.org/"_s);
        QVERIFY(!ClipUserDefaults::contains(key(SettingsKeys::developerPage)));
    }

    // A service whose tokens are expired at once and whose mail always fails.
    void brokenService()
    {
        ServerHarness broken;
        ServerHarness::Options options;
        options.config = QJsonObject{{u"token_lifetime_seconds"_s, -60}, {u"sendmail"_s, u"/bin/false"_s}};
        QVERIFY(broken.start(options));
        useService(broken.apiUrl());

        // HTTP 500 with a JSON body: the caller sees the status and an error; nothing is parsed.
        QCOMPARE(registerAccount(u"bert@example.org"_s, u"pw"_s).code(), 0);
        auto reset = std::make_shared<CountingFindPwd>();
        reset->setUserEmail(u"bert@example.org"_s);
        const RequestOutcome failed = sendAndWait(reset);
        QCOMPARE(failed.calls, 1);
        QCOMPARE(failed.statusCode, 500);
        QVERIFY(failed.error);
        QVERIFY(!failed.result);
        QCOMPARE(reset->parses.load(), 0);

        // Init with the expired token signs out and keeps the local history.
        QVERIFY(testAccount().isSignedIn());
        ClipFixtures::text(u"first"_s, 1);
        ClipFixtures::text(u"second"_s, 2);
        QCOMPARE(DBKeeper::getAllHistory().size(), 2);
        const int logoutsBefore = m_logouts;
        const RequestOutcome expired = sendAndWait(make<InitRequestManager>());
        QCOMPARE(expired.code(), 1);
        QCOMPARE(expired.result->value(u"token_expire"_s).toInt(), 1);
        QVERIFY(!testAccount().isSignedIn());
        QVERIFY(!ClipUserDefaults::contains(key(SettingsKeys::loginUserToken)));
        QCOMPARE(DBKeeper::getAllHistory().size(), 2);
        QTRY_COMPARE(m_logouts, logoutsBefore + 1);
        DBKeeper::removeAllData();
    }

    // TLS: the certificate must chain to a trusted authority and name the host; the service's
    // upload host is HTTPS as well.
    void certificatesAreVerified()
    {
        TestCertificates certificates;
        QVERIFY(certificates.makeAuthority(u"ours"_s));
        QVERIFY(certificates.makeAuthority(u"theirs"_s));
        QVERIFY(certificates.makeServer(u"server"_s, u"ours"_s, u"IP:127.0.0.1"_s));
        QVERIFY(certificates.makeServer(u"misnamed"_s, u"ours"_s, u"DNS:elsewhere.invalid"_s));

        ServerHarness secure;
        QVERIFY(secure.start({{}, certificates.pem(u"server"_s), certificates.key(u"server"_s)}));
        QVERIFY(secure.apiUrl().startsWith("https://127.0.0.1:"_L1));
        useService(secure.apiUrl());

        const auto refused = [](const RequestOutcome &outcome) {
            return outcome.calls == 1 && outcome.statusCode == -999 && !outcome.result && outcome.error
                   && outcome.error->code == QNetworkReply::SslHandshakeFailedError;
        };
        // Only the system's authorities, then another authority: refused.
        QVERIFY(refused(sendAndWait(make<InitRequestManager>())));
        SyncServer::setStoredCAFile(testSettings(), certificates.pem(u"theirs"_s));
        QVERIFY(refused(sendAndWait(make<InitRequestManager>())));
        // The authority that signed it: accepted.
        SyncServer::setStoredCAFile(testSettings(), certificates.pem(u"ours"_s));
        QCOMPARE(sendAndWait(make<InitRequestManager>()).code(), 0);
        // The upload form of an HTTPS service names an HTTPS host, and payloads travel over it.
        SyncClient device(secure.origin(), u"tlsDevice"_s, certificates.pem(u"ours"_s));
        QCOMPARE(device.registerUser(u"tls@example.org"_s, u"pw"_s).code(), 0);
        const QByteArray payload("payload over TLS");
        QJsonObject record = SyncClient::textRecord(u"over TLS"_s, 1700000000);
        record.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
        const QJsonObject stored = device.pushed(record);
        QString host;
        device.uploadForm(SyncClient::md5Hex(payload), stored.value("file_id"_L1).toInteger(), &host);
        QVERIFY(host.startsWith("https://127.0.0.1:"_L1));
        QCOMPARE(device.upload(stored, payload).code(), 0);
        QCOMPARE(device.download(stored).body, payload);
        // And trust does not outlive the CA file.
        SyncServer::setStoredCAFile(testSettings(), certificates.pem(u"theirs"_s));
        QVERIFY(refused(sendAndWait(make<InitRequestManager>())));

        // The right authority but another host's name: refused.
        ServerHarness misnamed;
        QVERIFY(misnamed.start({{}, certificates.pem(u"misnamed"_s), certificates.key(u"misnamed"_s)}));
        useService(misnamed.apiUrl());
        SyncServer::setStoredCAFile(testSettings(), certificates.pem(u"ours"_s));
        QVERIFY(refused(sendAndWait(make<InitRequestManager>())));
    }
};

QTEST_GUILESS_MAIN(TestSyncRequests)
#include "tst_sync_requests.moc"
