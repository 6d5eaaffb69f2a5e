// The panes that talk to the service, driven through their widgets (offscreen) against the real
// quillet-sync-server on 127.0.0.1, and a recording server for replies the real one never gives:
// the account pane (checks before any request, registering, signing out and in, failures told
// apart, a certificate not trusted among them, the password-reset mail), the about pane's
// version check and the general pane's clear of a signed-in history.
#include "RecordingHttpServer.h"
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "SettingsTestHelpers.h"
#include "SyncClient.h"
#include "TestCertificates.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "menu/ClipFixtures.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/PathHelper.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "support/Md5.h"
#include "sync/SyncServer.h"
#include "ui/AboutViewController.h"
#include "ui/InterfaceLanguage.h"
#include "ui/UserInfoViewController.h"
#include "ui/UserloginViewController.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

using namespace SettingsTestHelpers;
using namespace Qt::StringLiterals;

namespace {

SettingWindowController &window()
{
    return sharedSettingsWindow();
}

UserloginViewController *loginPane()
{
    return qobject_cast<UserloginViewController *>(window().currentViewController());
}

std::optional<QString> storedVersion()
{
    return ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::newversion));
}

void useService(const QString &apiUrl)
{
    qputenv("QUILLET_API_URL", apiUrl.toUtf8());
}

UserInfoViewController *infoPane()
{
    return qobject_cast<UserInfoViewController *>(window().currentViewController());
}

// Fills the form and presses the main button.
void submit(UserloginViewController *pane, int mode, const QString &email, const QString &password = {})
{
    pane->selectPopUpButton()->setCurrentIndex(mode);
    pane->nameField()->setText(email);
    if (pane->pwdField()->isEnabled())
        pane->pwdField()->setText(password);
    if (pane->repeatField()->isVisibleTo(pane))
        pane->repeatField()->setText(password);
    QTest::mouseClick(pane->loginButton(), Qt::LeftButton);
}

const QString kBadBroker =
    u"消息服务器地址格式存在问题，请输入 mqtt://主机:端口 或 mqtts://主机:端口 形式的地址"_s;

} // namespace

class TestServicePanes final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ServerHarness m_server;
    UrlCatcher m_urls;
    const QString m_running = Utils::appVersion();

    // The service offers this version from now on.
    bool offer(const QString &version,
               const QString &downloadUrl = u"https://127.0.0.1:8443/quillet.tar.xz"_s)
    {
        // Killed, not stopped: a stopping service waits for the idle keep-alive connections.
        m_server.killService();
        const bool started = m_server.restartService(
            {{u"version"_s, version},
             {u"update_info"_s, u"修复了若干问题 <a href=\"file:///etc/passwd\">notes</a>"_s},
             {u"download_url"_s, downloadUrl}});
        useService(m_server.apiUrl());
        return started;
    }

    // Presses the check button of a fresh about pane and waits for the reply to arrive.
    static void check()
    {
        auto *about = showPane<AboutViewController>(window(), SettingWindowController::About);
        QPushButton *button = about->checkUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 20000); // a check the pane started itself
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!button->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 20000);
    }

    // The sign-in form, fresh, pointing at the test's service through the address field.
    UserloginViewController *freshForm(const QString &server = {})
    {
        window().showPanel(0);
        window().showPanel(1);
        UserloginViewController *pane = loginPane();
        if (pane)
            pane->serverField()->setText(server.isEmpty() ? m_server.origin() : server);
        return pane;
    }

private slots:
    void initTestCase()
    {
        qunsetenv("QUILLET_API_URL");
        // The texts this test answers are the Chinese ones.
        QVERIFY(InterfaceLanguage::apply(Settings::Language::Chinese));
        QVERIFY(m_server.start());
        for (const QString &scheme : {u"http"_s, u"https"_s, u"file"_s})
            QDesktopServices::setUrlHandler(scheme, &m_urls, "openUrl");
        window().showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&window()));
    }

    void cleanupTestCase()
    {
        for (const QString &scheme : {u"http"_s, u"https"_s, u"file"_s})
            QDesktopServices::unsetUrlHandler(scheme);
    }

    void cleanup()
    {
        if (testAccount().isSignedIn())
            testAccount().setLoginUserToken(std::nullopt);
    }

    // Each bad field is refused with its sheet before any request, and nothing of it is stored.
    void checksComeBeforeAnyRequest_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("sheet");
        QTest::newRow("email") << u"name"_s << u"anna@example.museum"_s
                               << u"邮箱格式存在问题，请输入正确的邮箱"_s;
        QTest::newRow("service") << u"server"_s << u"sync.example.org"_s
                                 << u"服务器地址格式存在问题，请输入以 http:// 或 https:// 开头的地址"_s;
        QTest::newRow("ca file") << u"ca"_s << u"/etc/hostname"_s
                                 << u"无法读取 CA 证书文件，请填写 PEM 格式证书文件的路径"_s;
        QTest::newRow("broker") << u"broker"_s << u"mqtts://sync.example.org"_s << kBadBroker;
        QTest::newRow("repeat") << u"repeat"_s << u"other password"_s << u"两次输入的密码不一致"_s;
    }
    void checksComeBeforeAnyRequest()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, sheet);
        UserloginViewController *pane = freshForm();
        // Empty fields: nothing happens at all.
        submit(pane, 0, QString(), u"pw"_s);
        submit(pane, 0, u"anna@example.org"_s, QString());
        QVERIFY(!anyAlertOpen());

        pane->selectPopUpButton()->setCurrentIndex(field == "repeat"_L1 ? 1 : 0);
        pane->nameField()->setText(u"anna@example.org"_s);
        pane->pwdField()->setText(u"pw"_s);
        pane->repeatField()->setText(u"pw"_s);
        const QHash<QString, QLineEdit *> fields{{u"name"_s, pane->nameField()},
                                                 {u"server"_s, pane->serverField()},
                                                 {u"ca"_s, pane->caFileField()},
                                                 {u"broker"_s, pane->brokerField()},
                                                 {u"repeat"_s, pane->repeatField()}};
        fields[field]->setText(value);
        QTest::keyClick(pane->pwdField(), Qt::Key_Return); // Return in a field submits the form
        QVERIFY(answerAlert(sheet, u"确认"_s));
        QVERIFY(!testAccount().isSignedIn());
        QVERIFY(!SyncServer::baseURL().contains(u"sync.example.org"_s));
        for (const char *key : {SettingsKeys::syncCAFile, SettingsKeys::mqttServerURL})
            QVERIFY(!ClipUserDefaults::contains(QLatin1String(key)));
        pane->caFileField()->clear();
        pane->brokerField()->clear();
    }

    // Registering asks to confirm the address (spaces dropped); signing out asks too, and
    // then wipes the local history and the broker password; the address is then taken, and
    // signing in with it works. A sign-out made elsewhere switches the open pane too.
    void registerSignOutAndSignIn()
    {
        UserloginViewController *pane = freshForm();
        submit(pane, 1, u" anna @example.org "_s, u"pw-1"_s);
        QVERIFY(answerAlert(u"确认邮箱：anna@example.org"_s, u"确认注册"_s));
        QTRY_VERIFY(infoPane());
        QVERIFY(ClipUserDefaults::contains(QLatin1String(SettingsKeys::mqttPassword)));

        // The broker can move while signed in; a bad address is refused there too.
        infoPane()->brokerField()->setText(u"mqtt://127.0.0.1:70000"_s);
        QTest::mouseClick(infoPane()->brokerButton(), Qt::LeftButton);
        QVERIFY(answerAlert(kBadBroker, u"确认"_s));
        QVERIFY(!ClipUserDefaults::contains(QLatin1String(SettingsKeys::mqttServerURL)));

        ClipFixtures::text(u"kept until sign-out"_s, 1);
        QTest::mouseClick(infoPane()->logoutButton(), Qt::LeftButton);
        QVERIFY(answerAlert(u"退出登录？"_s, u"取消"_s));
        QVERIFY(testAccount().isSignedIn());
        QCOMPARE(storedRowCount(), 1);
        QTest::mouseClick(infoPane()->logoutButton(), Qt::LeftButton);
        QVERIFY(answerAlert(u"退出登录？"_s, u"退出登录"_s));
        QTRY_VERIFY(loginPane());
        QCOMPARE(storedRowCount(), 0);
        QVERIFY(!ClipUserDefaults::contains(QLatin1String(SettingsKeys::mqttPassword)));

        pane = freshForm();
        submit(pane, 1, u"anna@example.org"_s, u"pw-2"_s);
        QVERIFY(answerAlert(u"确认邮箱：anna@example.org"_s, u"确认注册"_s));
        QVERIFY(answerAlert(u"邮箱：anna@example.org已注册，请更换其他邮箱"_s, u"知道了"_s));
        QVERIFY(!testAccount().isSignedIn());
        submit(pane, 0, u"anna@example.org"_s, u"pw-1"_s);
        QTRY_VERIFY(infoPane());

        testAccount().setLoginUserToken(std::nullopt);
        QTRY_VERIFY(loginPane());
    }

    // A wrong password, a service that cannot be reached and a certificate that is not trusted
    // each say what they are; the last leads to the CA field, and filling it in lets the
    // registration through.
    void failuresAreToldApart()
    {
        TestCertificates certificates;
        QVERIFY(certificates.makeAuthority(u"ours"_s));
        QVERIFY(certificates.makeServer(u"server"_s, u"ours"_s, u"IP:127.0.0.1"_s));
        ServerHarness secure;
        QVERIFY(secure.start({{}, certificates.pem(u"server"_s), certificates.key(u"server"_s)}));
        const QList<std::pair<QString, QString>> cases{
            {m_server.origin(), u"用户名或密码错误"_s},
            {u"http://127.0.0.1:%1"_s.arg(ServerHarness::freePort()), u"无法连接到同步服务器"_s},
            {secure.origin(), u"无法验证服务器的证书"_s},
        };
        for (const auto &[server, sheet] : cases) {
            UserloginViewController *pane = freshForm(server);
            submit(pane, 0, u"anna@example.org"_s, u"wrong"_s);
            QMessageBox *box = waitForAlert(sheet);
            QVERIFY2(box, qPrintable(sheet));
            QTRY_VERIFY(pane->loginButton()->isEnabled());
            box->close();
        }
        QTRY_COMPARE(loginPane()->window()->focusWidget(), loginPane()->caFileField());

        UserloginViewController *pane = freshForm(secure.origin());
        pane->caFileField()->setText(certificates.pem(u"ours"_s));
        submit(pane, 1, u"tls.pane@example.org"_s, u"pw"_s);
        QVERIFY(answerAlert(u"确认邮箱：tls.pane@example.org"_s, u"确认注册"_s));
        QTRY_VERIFY(infoPane());
        SyncServer::setStoredCAFile(testSettings(), QString());
    }

    void passwordResetMail()
    {
        UserloginViewController *pane = freshForm();
        for (const auto &[email, sheet] :
             {std::pair{u"nobody@example.org"_s, u"邮箱：nobody@example.org不存在"_s},
              std::pair{u"anna@example.org"_s, u"发送成功"_s}}) {
            submit(pane, 2, email); // the password field may stay empty here
            QVERIFY(answerAlert(u"确认邮箱："_s + email, u"确认"_s));
            QVERIFY(waitForAlert(sheet));
            waitForAlert(sheet)->close();
        }
        QVERIFY(!testAccount().isSignedIn());
    }

    // A newer version: the sheet names it, shows the notes as text (no link the box would
    // open) and opens the download page only when it is a web address. An equal one
    // ("2.1" against "2.1.0"): current. (The comparison's table: tst_settings.)
    void aboutPaneComparesWithTheServiceVersion()
    {
        QVERIFY(offer(m_running + u".0"_s));
        check();
        QVERIFY(answerAlert(u"您当前的版本是最新版"_s, u"知道了"_s));

        const QString newer = m_running + u".1"_s;
        QVERIFY(offer(newer));
        check();
        QMessageBox *sheet = waitForAlert(u"新版本："_s + newer);
        QVERIFY(sheet);
        const QList<QLabel *> labels = sheet->findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel *label) {
            return label->text().contains(u"notes"_s) && label->textFormat() == Qt::PlainText;
        }));
        QCOMPARE(storedVersion(), newer);
        alertButton(sheet, u"去下载"_s)->click();
        QTRY_COMPARE(m_urls.urls, QList<QUrl>{QUrl(u"https://127.0.0.1:8443/quillet.tar.xz"_s)});

        // While an update is pending the pane checks by itself when it opens.
        for (const QString &address : {u"file:///tmp/quillet.desktop"_s, u"javascript:alert(1)"_s}) {
            QVERIFY(offer(newer, address));
            showPane<GeneralViewController>(window(), SettingWindowController::General);
            showPane<AboutViewController>(window(), SettingWindowController::About);
            sheet = waitForAlert(u"新版本："_s + newer);
            QVERIFY(sheet && !alertButton(sheet, u"去下载"_s));
            alertButton(sheet, u"知道了"_s)->click();
        }
        QCOMPARE(m_urls.urls.size(), 1);
    }

    // No service, a refusal and offers that are no version: nothing is stored or shown.
    void failedChecksAreSilent()
    {
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::newversion));
        m_server.killService();
        check();
        RecordingHttpServer wire;
        useService(wire.origin() + u"/api"_s);
        for (const QByteArray &body :
             {QByteArray(R"({"code":1,"data":{"version":"9.9"}})"),
              QByteArray(R"({"code":0,"data":{"version":"9.9 <b>now</b>"}})"),
              QByteArray(R"({"code":0,"data":{"version":"1.)" + QByteArray(40, '0') + R"("}})"),
              QByteArray("<html>busy</html>")}) {
            wire.setReply(200, body);
            check();
        }
        QCOMPARE(wire.requestLines().size(), 4);
        QVERIFY(!anyAlertOpen());
        QVERIFY(!storedVersion());
    }

    // Signed in, the clear goes through the service: a failure (no service, a refusal, no JSON)
    // leaves the local history as it was; a success clears here too, favourites spared.
    void signedInClearGoesThroughTheService()
    {
        QVERIFY(m_server.restartService());
        useService(m_server.apiUrl());
        const QString email = u"clear@example.org"_s;
        QCOMPARE(registerAccount(email, u"pw"_s).code(), 0);
        SyncClient other(m_server.origin(), u"other-device"_s);
        QCOMPARE(other.login(email, u"pw"_s).code(), 0);
        QCOMPARE(other.pushRecord(SyncClient::textRecord(u"one"_s, 1700000001)).code(), 0);
        DBKeeper::removeAllData();
        ClipFixtures::text(u"a"_s, 1700000000);
        ClipFixtures::text(u"liked"_s, 1700000000, Category::favourite, 1700000000);

        m_server.killService();
        QVERIFY(confirmClear(window()));
        QVERIFY(answerAlert(u"清空失败"_s, u"知道了"_s));
        RecordingHttpServer wire;
        useService(wire.origin() + u"/api"_s);
        for (const QByteArray &body :
             {QByteArray(R"({"code":1,"count":2})"), QByteArray("<html>busy</html>")}) {
            wire.setReply(200, body);
            QVERIFY(confirmClear(window()));
            QVERIFY(answerAlert(u"清空失败"_s, u"知道了"_s));
        }
        QCOMPARE(storedRowCount(), 2);

        QVERIFY(m_server.restartService());
        useService(m_server.apiUrl());
        QVERIFY(confirmClear(window()));
        QVERIFY(answerAlert(u"共清空了：1条"_s, u"知道了"_s));
        QCOMPARE(storedRowCount(), 1);
        QVERIFY(QFile::exists(PathHelper::getBaseFilePath(md5_hex(u"liked"_s))));
        QVERIFY(other.pull(0).histories().isEmpty());
        testAccount().setLoginUserToken(std::nullopt);
    }
};

QTEST_MAIN(TestServicePanes)
#include "tst_service_panes.moc"
