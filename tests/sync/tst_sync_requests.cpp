// The request layer against the real quillet-sync-server on 127.0.0.1 with TLS (certificates
// made by openssl), and a recording HTTP server for what a real service never answers.
#include "RecordingHttpServer.h"
#include "RequestOutcome.h"
#include "TestCertificates.h"
#include "TestDirs.h"
#include "menu/ClipFixtures.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "sync/ClipRequests.h"
#include "sync/FileTransfer.h"
#include "sync/SyncIdentity.h"
#include "sync/SyncServer.h"

#include <QDir>
#include <QNetworkReply>
#include <QTcpServer>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

void useService(const QString &apiUrl)
{
    qputenv("QUILLET_API_URL", apiUrl.toUtf8());
}

} // namespace

class TestSyncRequests final : public QObject
{
    Q_OBJECT

    TestDirs m_dirs;
    ServerHarness m_server;
    RecordingHttpServer m_wire;
    TestCertificates m_pki;

    // Points the requests at the recording server, signed in with the token "tok".
    void useWire(int status, const QByteArray &body)
    {
        m_wire.setReply(status, body);
        useService(m_wire.origin() + u"/api"_s);
        testAccount().setLoginUserToken(u"tok"_s);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_pki.makeAuthority(u"ours"_s) && m_pki.makeAuthority(u"theirs"_s));
        QVERIFY(m_pki.makeServer(u"server"_s, u"ours"_s, u"IP:127.0.0.1"_s));
        QVERIFY(m_server.start({{}, m_pki.pem(u"server"_s), m_pki.key(u"server"_s)}));
    }

    void init()
    {
        useService(m_server.apiUrl());
        QVERIFY(SyncServer::setStoredCAFile(testSettings(), m_pki.pem(u"ours"_s)));
    }

    void cleanup() { testAccount().setLoginUserToken(std::nullopt); }

    // Two settings folders on one machine get tokens of their own, each kept by later runs.
    void deviceTokens()
    {
        const QByteArray configDir = qgetenv("QUILLET_CONFIG_DIR");
        QTemporaryDir first;
        QTemporaryDir second;
        QStringList made;
        for (const QTemporaryDir *dir : {&first, &second}) {
            qputenv("QUILLET_CONFIG_DIR", dir->path().toUtf8());
            made << makeDeviceToken();
            QCOMPARE(makeDeviceToken(), made.last());
        }
        QVERIFY(made.at(0) != made.at(1));
        qputenv("QUILLET_CONFIG_DIR", configDir);
    }

    // Only http(s) service addresses; the environment wins over the stored address.
    void serviceAddress()
    {
        QCOMPARE(SyncServer::normalizedAddress(u" http://10.0.0.2:8888/api/"_s),
                 u"http://10.0.0.2:8888/api"_s);
        for (const char *bad : {"sync.example.org", "ftp://sync.example.org", "file:///etc/passwd",
                                "https://", "https://h/api?x=1", "javascript:alert(1)"})
            QVERIFY2(!SyncServer::normalizedAddress(QLatin1String(bad)), bad);
        QVERIFY(SyncServer::setStoredAddress(testSettings(), u"https://sync.example.org"_s));
        QCOMPARE(SyncServer::baseURL(), m_server.apiUrl());
        qunsetenv("QUILLET_API_URL");
        QCOMPARE(SyncServer::baseURL(), u"https://sync.example.org/api"_s);
        QVERIFY(SyncServer::setStoredAddress(testSettings(), QString()));
    }

    // Signed out, a request that needs a user sends nothing; signed in, the token goes as it is
    // when the request is built.
    void wireRequests()
    {
        m_wire.setReply(200, "{\"code\":0,\"histories\":[]}");
        useService(m_wire.origin() + u"/api"_s);
        auto pull = std::make_shared<PullClipsManager>();
        QCOMPARE(sendAndWait(pull).statusCode, -999);
        QVERIFY(m_wire.requestLines().isEmpty());
        testAccount().setLoginUserToken(u"tok"_s);
        QCOMPARE(sendAndWait(pull).statusCode, 200);
        QVERIFY(m_wire.requestLines().last().contains("&user_token=tok&"));
    }

    // A download never brings more than the size the record announces; beyond it nothing stays.
    void downloadsStopAtTheirLimit()
    {
        const QByteArray bytes = QByteArray("payload ").repeated(1000);
        useWire(200, bytes);
        HistoryModel record;
        record.file_hash = md5_hex(bytes);
        record.type = u"text_txt"_s;
        record.category = Category::history;
        for (const qsizetype size : {bytes.size() - 1, bytes.size()}) {
            record.file_size = double(size);
            std::optional<std::optional<RequestError>> error;
            testSync().downloads().downloadHistory(record, [&](const auto &, const auto &e) { error = e; });
            QTRY_VERIFY_WITH_TIMEOUT(error, 20000);
            QCOMPARE(bool(*error), size < bytes.size());
            QCOMPARE(QDir(PathHelper::getBaseFilePath()).entryList(QDir::Files | QDir::Hidden),
                     size < bytes.size() ? QStringList() : QStringList{record.hash()});
        }
    }

    // A file endpoint answering 401: the service ended the sign-in; this device signs out,
    // forgets the token and keeps its history.
    void aRefusedDownloadSignsOutAndKeepsTheHistory()
    {
        useWire(401, "{\"code\":401,\"token_expire\":1}");
        QSignalSpy ended(&testAccount(), &ConfigureManager::signInEnded);
        // Known here, its payload not yet.
        HistoryModel record;
        record.content = u"kept after the sign-in ended"_s;
        record.file_hash = md5_hex(record.content.value());
        record.type = u"text_txt"_s;
        record.file_id = 3;
        record.file_ready = 1;
        record.save();
        testSync().downloads().downloadHistory(record, [](const auto &, const auto &) {});
        QTRY_COMPARE(ended.size(), 1);
        QVERIFY(!ClipUserDefaults::contains(QLatin1String(SettingsKeys::loginUserToken)));
        QCOMPARE(DBKeeper::getAllHistory().size(), 1);
        DBKeeper::removeAllData();
    }

    // The sign-out the user chose ends the token on the service and wipes the history here; a
    // service that never answers keeps nobody signed in beyond the wait.
    void signOutEndsTheTokenAndGoesOnWithoutTheService()
    {
        const auto signOut = [] {
            ClipFixtures::text(u"here until the sign-out"_s, 1);
            bool done = false;
            signOutOfService(
                testSync(), [&done] { done = true; }, 500);
            QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
            QVERIFY(!testAccount().isSignedIn());
            QCOMPARE(DBKeeper::getAllHistory().size(), 0);
        };
        QCOMPARE(registerAccount(u"leaving@example.org"_s, u"pw"_s).code(), 0);
        SyncClient old(m_server.origin(), currentDeviceToken(), m_pki.pem(u"ours"_s));
        old.setUserToken(testAccount().loginUserToken());
        signOut();
        QCOMPARE(old.pull(0).status, 401);
        QTcpServer silent; // takes the connection and never answers
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        useService(u"http://127.0.0.1:%1/api"_s.arg(silent.serverPort()));
        testAccount().setLoginUserToken(u"tok"_s);
        signOut();
    }

    // Replies a real service does not give: each completes once, on the main thread, with no
    // result.
    void replyFailures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("error");
        QTest::newRow("empty") << 200 << QByteArray() << true;
        QTest::newRow("not JSON") << 200 << QByteArray("<html>not json</html>") << false;
        QTest::newRow("oversized") << 200
                                   << QByteArray("{\"code\":0,\"d\":\"" + QByteArray(2 << 20, 'x') + "\"}")
                                   << true;
        QTest::newRow("failure with JSON") << 500 << QByteArray("{\"code\":0}") << true;
    }
    void replyFailures()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, error);
        useWire(status, body);
        auto reset = std::make_shared<FindPwdRequestManager>();
        reset->setUserEmail(u"anna@example.org"_s);
        const RequestOutcome outcome = sendAndWait(reset);
        QCOMPARE(outcome.calls, 1);
        QVERIFY(outcome.onMainThread);
        QVERIFY(!outcome.result);
        QCOMPARE(bool(outcome.error), error);
    }

    // A wrong password's error carries no trace of the password (the service's log:
    // tst_server_isolation).
    void wrongPasswordErrorHoldsNoSecret()
    {
        QCOMPARE(registerAccount(u"anna+sync@example.org"_s, u"pw-1"_s).code(), 0);
        testAccount().setLoginUserToken(std::nullopt);
        auto login = std::make_shared<LoginRequestManager>();
        login->setUser(u"anna+sync@example.org"_s);
        login->setPasswd(u"wrong"_s);
        const RequestOutcome wrong = sendAndWait(login);
        QVERIFY(wrong.error && !testAccount().isSignedIn());
        QVERIFY(!wrong.error->description.contains(md5_hex(u"wrong"_s)));
    }

    // Pages from the service's answer are kept only as web addresses.
    void initPagesAreKept()
    {
        InitRequestManager::storePages(
            testSettings(), QJsonObject{{u"code"_s, 0},
                                        {u"data"_s, QJsonObject{{u"homepage"_s, u"https://q.example.org/"_s},
                                                                {u"developer"_s, u"file:///etc/passwd"_s}}}});
        QCOMPARE(ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::homepage)),
                 u"https://q.example.org/"_s);
        QVERIFY(!ClipUserDefaults::contains(QLatin1String(SettingsKeys::developerPage)));
    }

    // TLS: the certificate must chain to the authority in the CA file and name the host.
    void certificatesAreVerified_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("authority");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("system authorities only") << u"127.0.0.1"_s << QString() << false;
        QTest::newRow("another authority") << u"127.0.0.1"_s << u"theirs"_s << false;
        QTest::newRow("another host's name") << u"localhost"_s << u"ours"_s << false;
        QTest::newRow("the signing authority") << u"127.0.0.1"_s << u"ours"_s << true;
    }
    void certificatesAreVerified()
    {
        QFETCH(QString, host);
        QFETCH(QString, authority);
        QFETCH(bool, accepted);
        useService(QString(m_server.apiUrl()).replace(u"127.0.0.1"_s, host));
        SyncServer::setStoredCAFile(testSettings(), authority.isEmpty() ? QString() : m_pki.pem(authority));
        const RequestOutcome outcome = sendAndWait(std::make_shared<InitRequestManager>());
        QCOMPARE(outcome.code(), accepted ? 0 : -1);
        if (!accepted)
            QCOMPARE(outcome.error->code, int(QNetworkReply::SslHandshakeFailedError));
    }
};

QTEST_GUILESS_MAIN(TestSyncRequests)
#include "tst_sync_requests.moc"
