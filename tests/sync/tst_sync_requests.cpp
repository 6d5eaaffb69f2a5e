// The request layer against the real quillet-sync-server on 127.0.0.1 (and, for what goes over
// the wire byte for byte or what a real service never answers, a recording HTTP server).
#include "RecordingHttpServer.h"
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "TestCertificates.h"
#include "TestDirs.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryModel.h"
#include "store/SettingsKeys.h"
#include "support/Md5.h"
#include "support/NotificationCenter.h"
#include "support/Notifications.h"
#include "sync/AccountRequests.h"
#include "sync/ClipRequests.h"
#include "sync/ServiceRequests.h"
#include "sync/SyncIdentity.h"
#include "sync/SyncServer.h"

#include <QJsonArray>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QtTest>

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
    ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
}

// The three identity pairs every URL starts its query with.
QString common()
{
    return QStringLiteral("?device_type=") + deviceTypeString() + QStringLiteral("&device_token=")
           + currentDeviceToken() + QStringLiteral("&version=") + appVersionString();
}

template<typename T> std::shared_ptr<T> make()
{
    return std::make_shared<T>();
}

std::shared_ptr<RegisterRequestManager> registration(const QString &email, const QString &password)
{
    auto request = make<RegisterRequestManager>();
    request->setUsername(email);
    request->setPwdHash(md5_hex(password));
    return request;
}

std::shared_ptr<LoginRequestManager> login(const QString &email, const QString &password)
{
    auto request = make<LoginRequestManager>();
    request->setUser(email);
    request->setPasswd(password);
    return request;
}

std::shared_ptr<FindPwdRequestManager> findPassword(const QString &email)
{
    auto request = make<FindPwdRequestManager>();
    request->setUserEmail(email);
    return request;
}

void saveClip(const QString &text)
{
    HistoryModel clip;
    clip.content = text;
    clip.file_hash = md5_hex(text);
    clip.type = QStringLiteral("public.utf8-plain-text");
    clip.save();
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
        auto &center = NotificationCenter::sharedInstance();
        center.addObserver(key(Notifications::USER_LOGINED), this, [this](const QVariant &) { ++m_logins; });
        center.addObserver(key(Notifications::USER_LOGOUTED), this,
                           [this](const QVariant &) { ++m_logouts; });
    }

    void init()
    {
        useService(m_server.apiUrl());
        SyncServer::setStoredCAFile(QString());
    }

    void cleanup()
    {
        if (ConfigureManager::sharedInstance().isLogined())
            signOutQuietly();
    }

    void identityValues()
    {
        QTemporaryDir dir;
        const QString machineId = dir.filePath(QStringLiteral("machine-id"));
        const QString deviceKey = key(SettingsKeys::deviceToken);
        const QString process = currentDeviceToken();
        QCOMPARE(ClipUserDefaults::stringValue(deviceKey), process);

        // From the machine id when there is one; stored, and the stored value wins afterwards.
        ClipUserDefaults::remove(deviceKey);
        QFile file(machineId);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("0123456789abcdef0123456789abcdef\n");
        file.close();
        QCOMPARE(makeDeviceToken(machineId), md5_hex(QStringLiteral("0123456789abcdef0123456789abcdef")));
        QCOMPARE(ClipUserDefaults::stringValue(deviceKey),
                 md5_hex(QStringLiteral("0123456789abcdef0123456789abcdef")));
        QCOMPARE(makeDeviceToken(dir.filePath(QStringLiteral("elsewhere"))),
                 md5_hex(QStringLiteral("0123456789abcdef0123456789abcdef")));

        // Without a machine id: a random one, stored, then reused by every later run.
        ClipUserDefaults::remove(deviceKey);
        const QString random = makeDeviceToken(dir.filePath(QStringLiteral("missing")));
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(random).hasMatch());
        QCOMPARE(makeDeviceToken(dir.filePath(QStringLiteral("missing"))), random);
        ClipUserDefaults::remove(deviceKey);
        QVERIFY(makeDeviceToken(dir.filePath(QStringLiteral("missing"))) != random);
        ClipUserDefaults::setValue(deviceKey, process);

        QCOMPARE(deviceTypeFromKernelRelease(QStringLiteral("6.1.0-18-amd64")),
                 QStringLiteral("linux_6.1.0"));
        QCOMPARE(deviceTypeFromKernelRelease(QStringLiteral("6.5")), QStringLiteral("linux_6.5.0"));
        QCOMPARE(deviceTypeFromKernelRelease(QStringLiteral("5.15.0rc2+")), QStringLiteral("linux_5.15.0"));
        QCOMPARE(deviceTypeFromKernelRelease(QString()), QStringLiteral("linux_0.0.0"));
        QVERIFY(QRegularExpression(QStringLiteral("^linux_\\d+\\.\\d+\\.\\d+$"))
                    .match(deviceTypeString())
                    .hasMatch());
        QVERIFY(
            QRegularExpression(QStringLiteral("^\\d+(\\.\\d+)*_\\w+$")).match(appVersionString()).hasMatch());

        QCOMPARE(urlencode(QStringLiteral("Anna's Mac mini")), QStringLiteral("Anna%27s+Mac+mini"));
        QCOMPARE(urlencode(QStringLiteral("a-Z.0_9~")), QStringLiteral("a-Z.0_9~"));
        QCOMPARE(urlencode(QStringLiteral("我+/&=%")), QStringLiteral("%E6%88%91%2B%2F%26%3D%25"));
    }

    void serviceAddress()
    {
        QCOMPARE(SyncServer::normalizedAddress(QStringLiteral(" https://sync.example.org ")),
                 QStringLiteral("https://sync.example.org/api"));
        QCOMPARE(SyncServer::normalizedAddress(QStringLiteral("http://10.0.0.2:8888/api/")),
                 QStringLiteral("http://10.0.0.2:8888/api"));
        for (const char *bad : {"sync.example.org", "ftp://sync.example.org", "file:///etc/passwd",
                                "https://", "https://h/api?x=1", "javascript:alert(1)"})
            QVERIFY2(!SyncServer::normalizedAddress(QLatin1String(bad)), bad);

        // The environment wins over the stored address, which wins over the build's.
        QVERIFY(SyncServer::setStoredAddress(QStringLiteral("https://sync.example.org")));
        QCOMPARE(SyncServer::baseURL(), m_server.apiUrl());
        qunsetenv("QUILLET_API_URL");
        QCOMPARE(SyncServer::baseURL(), QStringLiteral("https://sync.example.org/api"));
        QVERIFY(!SyncServer::setStoredAddress(QStringLiteral("sync.example.org")));
        QCOMPARE(SyncServer::storedAddress(), QStringLiteral("https://sync.example.org/api"));
        QVERIFY(SyncServer::setStoredAddress(QString()));
        QVERIFY(SyncServer::baseURL().startsWith(QLatin1String("http")));
        QVERIFY(!SyncServer::baseURL().endsWith(QLatin1Char('/')));
    }

    // The URL of every endpoint, as assembled: identity pairs first, then its own, in order.
    void urlShapes()
    {
        useService(QStringLiteral("https://sync.example.org/api"));
        ConfigureManager::sharedInstance().setLoginUserToken(QStringLiteral("tok"));
        const QString base = QStringLiteral("https://sync.example.org/api");
        const QString c = common();

        auto init = make<InitRequestManager>();
        init->setDeviceName(urlencode(QStringLiteral("Anna's Mac mini")));
        QCOMPARE(init->combinURL(), base + QStringLiteral("/init/") + c
                                        + QStringLiteral("&device_name=Anna%27s+Mac+mini&user_token=tok"));
        auto signIn = login(QStringLiteral("anna@example.org"), QStringLiteral("secret"));
        QCOMPARE(signIn->combinURL(), base + QStringLiteral("/login/") + c + QStringLiteral("&device_name=")
                                          + urlencode(localDeviceName())
                                          + QStringLiteral("&username=anna@example.org")
                                          + QStringLiteral("&pwd_hash=") + md5_hex(QStringLiteral("secret")));
        QCOMPARE(signIn->password_hash(), QStringLiteral("5ebe2294ecd0e0f08eab7690d2a6ee69"));
        QCOMPARE(registration(QStringLiteral("a+b@example.org"), QStringLiteral("secret"))->combinURL(),
                 base + QStringLiteral("/register/") + c + QStringLiteral("&device_name=")
                     + urlencode(localDeviceName()) + QStringLiteral("&username=a%2Bb@example.org&pwd_hash=")
                     + md5_hex(QStringLiteral("secret")));
        QCOMPARE(findPassword(QStringLiteral("anna@example.org"))->combinURL(),
                 base + QStringLiteral("/forget_pwd/") + c + QStringLiteral("&user_email=anna@example.org"));

        auto pull = make<PullClipsManager>();
        QCOMPARE(pull->combinURL(), base + QStringLiteral("/pull/") + c
                                        + QStringLiteral("&user_token=tok&last_request_timestamp=0"));
        pull->setLastRequestTimestamp(QStringLiteral("1700000000"));
        pull->setLimit(20);
        QCOMPARE(pull->combinURL(),
                 base + QStringLiteral("/pull/") + c
                     + QStringLiteral("&user_token=tok&last_request_timestamp=1700000000&count=20"));

        auto push = make<PushClipsRequest>();
        push->setHistoryId(QStringLiteral("7"));
        push->setFileHash(QStringLiteral("abc"));
        push->setMethod(QStringLiteral("GET"));
        QCOMPARE(push->combinURL(), base + QStringLiteral("/push/") + c
                                        + QStringLiteral("&user_token=tok&history_id=7&file_hash=abc"));
        push->setMethod(QStringLiteral("DELETE"));
        QCOMPARE(push->combinURL(),
                 base + QStringLiteral("/push/") + c + QStringLiteral("&user_token=tok&history_id=7"));
        for (const char *method : {"POST", "PUT"}) {
            push->setMethod(QLatin1String(method));
            push->setBody("{}");
            push->genPostData();
            QCOMPARE(push->combinURL(),
                     base + QStringLiteral("/push/") + c + QStringLiteral("&user_token=tok"));
            QCOMPARE(push->httpBodyData(), std::optional<QByteArray>("{}"));
        }

        auto getFavourite = make<GetFavouriteRequestManager>();
        auto setFavourite = make<SetFavouriteRequest>();
        QCOMPARE(getFavourite->httpMethod(), QStringLiteral("POST"));
        QCOMPARE(getFavourite->combinURL(),
                 base + QStringLiteral("/get_favourite/") + c + QStringLiteral("&user_token=tok"));
        QCOMPARE(setFavourite->combinURL(),
                 base + QStringLiteral("/set_favourite/") + c + QStringLiteral("&user_token=tok"));
        auto upload = make<GetUploadTokenManager>();
        auto download = make<DownloadFileRequest>();
        for (FileRequestManager *file : {static_cast<FileRequestManager *>(upload.get()),
                                         static_cast<FileRequestManager *>(download.get())}) {
            file->setFileHash(QStringLiteral("abc"));
            file->setFileId(QStringLiteral("9"));
        }
        QCOMPARE(upload->combinURL(), base + QStringLiteral("/get_upload_token/") + c
                                          + QStringLiteral("&user_token=tok&file_hash=abc&file_id=9"));
        QCOMPARE(download->combinURL(), base + QStringLiteral("/download_file/") + c
                                            + QStringLiteral("&user_token=tok&file_hash=abc&file_id=9"));
        QCOMPARE(make<CheckUpdateRequestManager>()->combinURL(),
                 base + QStringLiteral("/check_version/") + c);
        QCOMPARE(make<ClearHistoryRequestManager>()->combinURL(),
                 base + QStringLiteral("/clear_history/") + c + QStringLiteral("&user_token=tok"));
        QCOMPARE(make<PluginListRequestManager>()->combinURL(), base + QStringLiteral("/plugins/") + c);

        // The token is read when the URL is built, not when the object was made.
        signOutQuietly();
        QCOMPARE(init->combinURL(),
                 base + QStringLiteral("/init/") + c + QStringLiteral("&device_name=Anna%27s+Mac+mini"));
        QCOMPARE(pull->combinURL(),
                 base + QStringLiteral("/pull/") + c
                     + QStringLiteral("&user_token=&last_request_timestamp=1700000000&count=20"));
    }

    // What goes over the wire is the URL as assembled, not escaped again.
    void wireRequests()
    {
        RecordingHttpServer wire;
        useService(wire.origin() + QStringLiteral("/api"));

        // Signed out, a request that needs a user ends at once and sends nothing.
        const RequestOutcome signedOut = sendAndWait(make<PullClipsManager>());
        QCOMPARE(signedOut.calls, 1);
        QVERIFY(signedOut.onMainThread);
        QCOMPARE(signedOut.statusCode, -999);
        QVERIFY(!signedOut.result);
        QVERIFY(!signedOut.error);
        QCOMPARE(wire.connections(), 0);

        auto init = make<InitRequestManager>();
        init->setDeviceName(urlencode(QStringLiteral("Anna's Mac mini")));
        const RequestOutcome announced = sendAndWait(init);
        QCOMPARE(announced.calls, 1);
        QCOMPARE(announced.statusCode, 200);
        QCOMPARE(wire.requestLines().value(0), (QStringLiteral("GET /api/init/") + common()
                                                + QStringLiteral("&device_name=Anna%27s+Mac+mini HTTP/1.1"))
                                                   .toUtf8());

        ConfigureManager::sharedInstance().setLoginUserToken(QStringLiteral("tok"));
        wire.setReply(200, "{\"code\":0,\"histories\":[]}");
        const RequestOutcome pulled = sendAndWait(make<PullClipsManager>());
        QCOMPARE(pulled.statusCode, 200);
        QCOMPARE(wire.requestLines().value(1),
                 (QStringLiteral("GET /api/pull/") + common()
                  + QStringLiteral("&user_token=tok&last_request_timestamp=0 HTTP/1.1"))
                     .toUtf8());
    }

    // Replies a real service does not give: each still completes once, on the main thread.
    void replyFailures()
    {
        RecordingHttpServer wire;
        useService(wire.origin() + QStringLiteral("/api"));

        wire.setReply(200, QByteArray());
        RequestOutcome outcome = sendAndWait(findPassword(QStringLiteral("anna@example.org")));
        QCOMPARE(outcome.calls, 1);
        QCOMPARE(outcome.statusCode, 200);
        QVERIFY(!outcome.result);
        QVERIFY(outcome.error);
        QCOMPARE(outcome.error->domain, QStringLiteral("com.quillet.client"));
        QCOMPARE(outcome.error->code, 0);

        wire.setReply(200, "<html>not json</html>");
        outcome = sendAndWait(findPassword(QStringLiteral("anna@example.org")));
        QCOMPARE(outcome.calls, 1);
        QCOMPARE(outcome.statusCode, 200);
        QVERIFY(!outcome.result);
        QVERIFY(!outcome.error);

        // Nobody listens: no HTTP status at all.
        const int closed = ServerHarness::freePort();
        useService(QStringLiteral("http://127.0.0.1:%1/api").arg(closed));
        outcome = sendAndWait(make<InitRequestManager>());
        QCOMPARE(outcome.calls, 1);
        QVERIFY(outcome.onMainThread);
        QCOMPARE(outcome.statusCode, -999);
        QVERIFY(outcome.error);
        QVERIFY(!outcome.result);
    }

    void accountRequestsAgainstService()
    {
        const QString email = QStringLiteral("anna@example.org");
        const int loginsBefore = m_logins;

        // Registration signs in and keeps the account and the broker credentials.
        RequestOutcome outcome = sendAndWait(registration(email, QStringLiteral("pw-1")));
        QCOMPARE(outcome.code(), 0);
        QVERIFY(!outcome.error);
        ConfigureManager &account = ConfigureManager::sharedInstance();
        QVERIFY(account.isLogined());
        QCOMPARE(account.loginUserEmail(), email);
        QCOMPARE(account.loginUserId(),
                 QString::number(outcome.result->value(QStringLiteral("user_id")).toInteger()));
        QCOMPARE(ClipUserDefaults::stringValue(key(SettingsKeys::mqttUserName)), account.loginUserId());
        QVERIFY(
            !ClipUserDefaults::stringValue(key(SettingsKeys::mqttPassword)).value_or(QString()).isEmpty());
        QTRY_COMPARE(m_logins, loginsBefore + 1);

        // Signed in, the endpoints that need a user answer.
        auto pull = make<PullClipsManager>();
        pull->setLimit(0);
        outcome = sendAndWait(pull);
        QCOMPARE(outcome.statusCode, 200);
        QVERIFY(outcome.result && outcome.result->value(QStringLiteral("histories")).isArray());
        QCOMPARE(sendAndWait(make<ClearHistoryRequestManager>()).code(), 0);
        QCOMPARE(sendAndWait(make<CheckUpdateRequestManager>()).code(), 0);
        QCOMPARE(sendAndWait(make<PluginListRequestManager>()).code(), 0);
        auto init = make<InitRequestManager>();
        init->setDeviceName(urlencode(QStringLiteral("Anna's Mac mini")));
        outcome = sendAndWait(init);
        QCOMPARE(outcome.code(), 0);
        QVERIFY(account.isLogined());

        // Sign-out forgets the broker credentials.
        signOutQuietly();
        QVERIFY(!ClipUserDefaults::contains(key(SettingsKeys::mqttUserName)));
        QVERIFY(!ClipUserDefaults::contains(key(SettingsKeys::mqttPassword)));

        // A taken address: 1001, still signed out.
        outcome = sendAndWait(registration(email, QStringLiteral("other")));
        QCOMPARE(outcome.code(), AccountCodes::emailTaken);
        QVERIFY(!account.isLogined());

        // A wrong password is an HTTP failure; the right one signs in.
        outcome = sendAndWait(login(email, QStringLiteral("wrong")));
        QCOMPARE(outcome.calls, 1);
        QVERIFY(outcome.error);
        QVERIFY(!outcome.result);
        QVERIFY(!account.isLogined());
        QVERIFY(!outcome.error->description.contains(md5_hex(QStringLiteral("wrong"))));
        outcome = sendAndWait(login(email, QStringLiteral("pw-1")));
        QCOMPARE(outcome.code(), 0);
        QVERIFY(account.isLogined());
        QCOMPARE(account.loginUserEmail(), email);

        // Password reset: unknown address 1002, known address 0.
        QCOMPARE(sendAndWait(findPassword(QStringLiteral("nobody@example.org"))).code(),
                 AccountCodes::emailUnknown);
        QCOMPARE(sendAndWait(findPassword(email)).code(), 0);

        // Nothing secret in the service's log.
        const QByteArray log = m_server.serviceLog();
        QVERIFY(!log.contains(md5_hex(QStringLiteral("pw-1")).toUtf8()));
        QVERIFY(!log.contains(account.loginUserToken().toUtf8()));
    }

    void initPagesAreKept()
    {
        QJsonObject reply{{QStringLiteral("code"), 0},
                          {QStringLiteral("data"),
                           QJsonObject{{QStringLiteral("homepage"), QStringLiteral("https://q.example.org/")},
                                       {QStringLiteral("developer"), QStringLiteral("file:///etc/passwd")}}}};
        InitRequestManager::storePages(reply);
        QCOMPARE(ClipUserDefaults::stringValue(key(SettingsKeys::homepage)),
                 QStringLiteral("https://q.example.org/"));
        QVERIFY(!ClipUserDefaults::contains(key(SettingsKeys::developerPage)));
    }

    // A service whose tokens are expired at once and whose mail always fails.
    void brokenService()
    {
        ServerHarness broken;
        ServerHarness::Options options;
        options.config = QJsonObject{{QStringLiteral("token_lifetime_seconds"), -60},
                                     {QStringLiteral("sendmail"), QStringLiteral("/bin/false")}};
        QVERIFY(broken.start(options));
        useService(broken.apiUrl());

        // HTTP 500 with a JSON body: the caller sees the status and an error; nothing is parsed.
        QCOMPARE(sendAndWait(registration(QStringLiteral("bert@example.org"), QStringLiteral("pw"))).code(),
                 0);
        auto reset = std::make_shared<CountingFindPwd>();
        reset->setUserEmail(QStringLiteral("bert@example.org"));
        const RequestOutcome failed = sendAndWait(reset);
        QCOMPARE(failed.calls, 1);
        QCOMPARE(failed.statusCode, 500);
        QVERIFY(failed.error);
        QVERIFY(!failed.result);
        QCOMPARE(reset->parses.load(), 0);

        // Init with the expired token signs out and wipes the local history.
        QVERIFY(ConfigureManager::sharedInstance().isLogined());
        saveClip(QStringLiteral("first"));
        saveClip(QStringLiteral("second"));
        QCOMPARE(DBKeeper::getAllHistory().size(), 2);
        const int logoutsBefore = m_logouts;
        const RequestOutcome expired = sendAndWait(make<InitRequestManager>());
        QCOMPARE(expired.code(), 1);
        QCOMPARE(expired.result->value(QStringLiteral("token_expire")).toInt(), 1);
        QVERIFY(!ConfigureManager::sharedInstance().isLogined());
        QVERIFY(!ClipUserDefaults::contains(key(SettingsKeys::loginUserToken)));
        QCOMPARE(DBKeeper::getAllHistory().size(), 0);
        QTRY_COMPARE(m_logouts, logoutsBefore + 1);
    }

    // TLS: the certificate must chain to a trusted authority and name the host.
    void certificatesAreVerified()
    {
        TestCertificates certificates;
        QVERIFY(certificates.makeAuthority(QStringLiteral("ours")));
        QVERIFY(certificates.makeAuthority(QStringLiteral("theirs")));
        QVERIFY(certificates.makeServer(QStringLiteral("server"), QStringLiteral("ours"),
                                        QStringLiteral("IP:127.0.0.1")));
        QVERIFY(certificates.makeServer(QStringLiteral("misnamed"), QStringLiteral("ours"),
                                        QStringLiteral("DNS:elsewhere.invalid")));

        ServerHarness secure;
        QVERIFY(secure.start(
            {{}, certificates.pem(QStringLiteral("server")), certificates.key(QStringLiteral("server"))}));
        QVERIFY(secure.apiUrl().startsWith(QLatin1String("https://127.0.0.1:")));
        useService(secure.apiUrl());

        const auto refused = [](const RequestOutcome &outcome) {
            return outcome.calls == 1 && outcome.statusCode == -999 && !outcome.result && outcome.error
                   && outcome.error->code == QNetworkReply::SslHandshakeFailedError;
        };
        // Only the system's authorities, then another authority: refused.
        QVERIFY(refused(sendAndWait(make<InitRequestManager>())));
        SyncServer::setStoredCAFile(certificates.pem(QStringLiteral("theirs")));
        QVERIFY(refused(sendAndWait(make<InitRequestManager>())));
        // The authority that signed it: accepted.
        SyncServer::setStoredCAFile(certificates.pem(QStringLiteral("ours")));
        QCOMPARE(sendAndWait(make<InitRequestManager>()).code(), 0);
        // And trust does not outlive the CA file.
        SyncServer::setStoredCAFile(certificates.pem(QStringLiteral("theirs")));
        QVERIFY(refused(sendAndWait(make<InitRequestManager>())));

        // The right authority but another host's name: refused.
        ServerHarness misnamed;
        QVERIFY(misnamed.start({{},
                                certificates.pem(QStringLiteral("misnamed")),
                                certificates.key(QStringLiteral("misnamed"))}));
        useService(misnamed.apiUrl());
        SyncServer::setStoredCAFile(certificates.pem(QStringLiteral("ours")));
        QVERIFY(refused(sendAndWait(make<InitRequestManager>())));
    }
};

QTEST_GUILESS_MAIN(TestSyncRequests)
#include "tst_sync_requests.moc"
