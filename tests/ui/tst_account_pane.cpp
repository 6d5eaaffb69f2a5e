// The account pane driven through its widgets against the real quillet-sync-server on
// 127.0.0.1: the modes, the checks before any request, signing in, registering, asking for a
// password-reset mail and signing out, with every sheet the pane shows.
#include "ServerHarness.h"
#include "SettingsTestHelpers.h"
#include "TestCertificates.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryModel.h"
#include "store/SettingsKeys.h"
#include "sync/SyncServer.h"
#include "ui/InterfaceLanguage.h"
#include "ui/SettingWindowController.h"
#include "ui/UserInfoViewController.h"
#include "ui/UserloginViewController.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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

} // namespace

class TestAccountPane final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ServerHarness m_server;
    int m_menuBuilds = 0;

    // The sign-in form, fresh, pointing at the test's service through the address field.
    UserloginViewController *freshForm()
    {
        window().showPanel(0);
        window().showPanel(1);
        UserloginViewController *pane = loginPane();
        if (pane)
            pane->serverField()->setText(m_server.origin());
        return pane;
    }

private slots:
    void initTestCase()
    {
        qunsetenv("QUILLET_API_URL");
        // The texts this test checks are the Chinese ones.
        QVERIFY(InterfaceLanguage::apply(Settings::Language::Chinese));
        QVERIFY(m_server.start());
        window().setMenuRebuilder([this] { ++m_menuBuilds; });
        window().showWindow();
    }

    void cleanup()
    {
        if (testAccount().isSignedIn())
            testAccount().setLoginUserToken(std::nullopt);
        QTRY_VERIFY(loginPane());
    }

    void modesSetTheButtonAndThePasswordField()
    {
        UserloginViewController *pane = freshForm();
        QVERIFY(pane);
        QCOMPARE(pane->selectPopUpButton()->currentIndex(), 0);
        pane->selectPopUpButton()->setCurrentIndex(2);
        QVERIFY(!pane->pwdField()->isEnabled());
        QTRY_VERIFY(pane->nameField()->hasFocus());
        pane->selectPopUpButton()->setCurrentIndex(0);
        QVERIFY(pane->pwdField()->isEnabled());

        QVERIFY(UserloginViewController::isValidEmail(u"Anna.B+c%d@mail-1.example.ORG"_s));
        QVERIFY(!UserloginViewController::isValidEmail(u"anna@example.museum"_s));
        QVERIFY(!UserloginViewController::isValidEmail(u"anna@localhost"_s));
    }

    void checksComeBeforeAnyRequest()
    {
        UserloginViewController *pane = freshForm();
        // An empty address, or an empty password outside reset mode: nothing happens.
        submit(pane, 0, QString(), u"pw"_s);
        submit(pane, 0, u"anna@example.org"_s, QString());
        submit(pane, 1, u"anna@example.org"_s, QString());
        QVERIFY(!anyAlertOpen());
        QVERIFY(pane->loginButton()->isEnabled());

        submit(pane, 0, u"anna@example.museum"_s, u"pw"_s);
        QVERIFY(answerAlert(u"邮箱格式存在问题，请输入正确的邮箱"_s, u"确认"_s));

        // The service's address must be an http(s) URL; a good one is kept in the settings.
        pane->serverField()->setText(u"sync.example.org"_s);
        submit(pane, 0, u"anna@example.org"_s, u"pw"_s);
        QVERIFY(answerAlert(u"服务器地址格式存在问题，请输入以 http:// 或 https:// 开头的地址"_s, u"确认"_s));
        QCOMPARE(SyncServer::baseURL(), m_server.apiUrl());
        pane->serverField()->setText(u"https://sync.example.org"_s);
        submit(pane, 0, u"anna@example.museum"_s, u"pw"_s);
        QVERIFY(answerAlert(u"邮箱格式存在问题，请输入正确的邮箱"_s, u"确认"_s));
        QCOMPARE(ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::syncServerURL)),
                 u"https://sync.example.org/api"_s);
        window().showPanel(0);
        window().showPanel(1);
        QCOMPARE(loginPane()->serverField()->text(), u"https://sync.example.org/api"_s);

        // The CA file must hold a PEM certificate.
        pane = freshForm();
        QTemporaryFile notACertificate;
        QVERIFY(notACertificate.open());
        notACertificate.write("not a certificate\n");
        notACertificate.flush();
        pane->caFileField()->setText(notACertificate.fileName());
        submit(pane, 0, u"anna@example.org"_s, u"pw"_s);
        QVERIFY(answerAlert(u"无法读取 CA 证书文件，请填写 PEM 格式证书文件的路径"_s, u"确认"_s));
        QVERIFY(!ClipUserDefaults::contains(QLatin1String(SettingsKeys::syncCAFile)));
        pane->caFileField()->clear();

        // The broker's address needs an mqtt(s) scheme and a port.
        pane->brokerField()->setText(u"mqtts://sync.example.org"_s);
        submit(pane, 0, u"anna@example.org"_s, u"pw"_s);
        QVERIFY(answerAlert(
            u"消息服务器地址格式存在问题，请输入 mqtt://主机:端口 或 mqtts://主机:端口 形式的地址"_s,
            u"确认"_s));
        QVERIFY(!ClipUserDefaults::contains(QLatin1String(SettingsKeys::mqttServerURL)));
    }

    // Return in a field submits the form; registering asks for the password twice and sends
    // nothing while the two differ; Escape and Control+W close the settings window.
    void keyboardConventions()
    {
        UserloginViewController *pane = freshForm();
        pane->selectPopUpButton()->setCurrentIndex(0);
        QVERIFY(!pane->repeatField()->isVisibleTo(pane));
        pane->nameField()->setText(u"anna@example.museum"_s);
        pane->pwdField()->setText(u"pw"_s);
        QTest::keyClick(pane->pwdField(), Qt::Key_Return);
        QVERIFY(answerAlert(u"邮箱格式存在问题，请输入正确的邮箱"_s, u"确认"_s));

        pane->selectPopUpButton()->setCurrentIndex(1);
        QVERIFY(pane->repeatField()->isVisibleTo(pane));
        pane->nameField()->setText(u"twice@example.org"_s);
        pane->pwdField()->setText(u"first password"_s);
        pane->repeatField()->setText(u"first passwort"_s);
        QTest::keyClick(pane->repeatField(), Qt::Key_Enter);
        QVERIFY(answerAlert(u"两次输入的密码不一致"_s, u"确认"_s));
        QVERIFY(pane->repeatField()->text().isEmpty());
        QVERIFY(!anyAlertOpen());
        QVERIFY(!testAccount().isSignedIn());
        // Tab goes from the password to its repetition while registering.
        pane->pwdField()->setFocus();
        QTest::keyClick(pane->pwdField(), Qt::Key_Tab);
        QVERIFY(pane->repeatField()->hasFocus());
        pane->repeatField()->setText(u"first password"_s);
        QTest::keyClick(pane->repeatField(), Qt::Key_Return);
        QVERIFY(answerAlert(u"确认邮箱：twice@example.org"_s, u"取消"_s));

        for (const QKeyCombination keys :
             {QKeyCombination(Qt::Key_Escape), Qt::ControlModifier | Qt::Key_W}) {
            QVERIFY(window().isVisible());
            window().activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&window()));
            QTest::keyClick(pane->nameField(), keys.key(), keys.keyboardModifiers());
            QTRY_VERIFY(!window().isVisible());
            window().showWindow();
            pane = freshForm();
        }
    }

    void registerSignOutAndSignIn()
    {
        UserloginViewController *pane = freshForm();
        // Spaces in the address are dropped; cancelling the confirmation sends nothing.
        submit(pane, 1, u" anna @example.org "_s, u"pw-1"_s);
        QVERIFY(answerAlert(u"确认邮箱：anna@example.org"_s, u"取消"_s));
        QVERIFY(pane->loginButton()->isEnabled());
        QVERIFY(!testAccount().isSignedIn());

        const int buildsBefore = m_menuBuilds;
        QTest::mouseClick(pane->loginButton(), Qt::LeftButton);
        QVERIFY(answerAlert(u"确认邮箱：anna@example.org"_s, u"确认注册"_s));
        QVERIFY(!pane->loginButton()->isEnabled());
        QTRY_VERIFY(infoPane());
        QCOMPARE(infoPane()->userName()->text(), u"当前用户：anna@example.org"_s);
        QVERIFY(m_menuBuilds > buildsBefore);
        QVERIFY(ClipUserDefaults::contains(QLatin1String(SettingsKeys::mqttPassword)));

        // The broker can move while signed in; a bad address is refused there too.
        infoPane()->brokerField()->setText(u"mqtt://127.0.0.1:70000"_s);
        QTest::mouseClick(infoPane()->brokerButton(), Qt::LeftButton);
        QVERIFY(answerAlert(
            u"消息服务器地址格式存在问题，请输入 mqtt://主机:端口 或 mqtts://主机:端口 形式的地址"_s,
            u"确认"_s));
        infoPane()->brokerField()->setText(u"mqtt://127.0.0.1:%1"_s.arg(m_server.mqttPort()));
        QTest::mouseClick(infoPane()->brokerButton(), Qt::LeftButton);
        QCOMPARE(ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::mqttServerURL)),
                 u"mqtt://127.0.0.1:%1"_s.arg(m_server.mqttPort()));
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::mqttServerURL));

        // Signing out wipes the local history and shows the form again.
        HistoryModel clip;
        clip.content = u"kept until sign-out"_s;
        clip.file_hash = u"0123456789abcdef0123456789abcdef"_s;
        clip.save();
        // Cancelling the question keeps everything; confirming signs out.
        QTest::mouseClick(infoPane()->logoutButton(), Qt::LeftButton);
        QVERIFY(answerAlert(u"退出登录？"_s, u"取消"_s));
        QVERIFY(infoPane() && testAccount().isSignedIn());
        QCOMPARE(DBKeeper::getAllHistory().size(), 1);
        QTest::mouseClick(infoPane()->logoutButton(), Qt::LeftButton);
        QVERIFY(answerAlert(u"退出登录？"_s, u"退出登录"_s));
        QTRY_VERIFY(loginPane());
        QVERIFY(!ClipUserDefaults::contains(QLatin1String(SettingsKeys::mqttPassword)));

        // The address is taken now.
        pane = freshForm();
        submit(pane, 1, u"anna@example.org"_s, u"pw-2"_s);
        QVERIFY(answerAlert(u"确认邮箱：anna@example.org"_s, u"确认注册"_s));
        QVERIFY(answerAlert(u"邮箱：anna@example.org已注册，请更换其他邮箱"_s, u"知道了"_s));
        QVERIFY(pane->loginButton()->isEnabled());
        QVERIFY(!testAccount().isSignedIn());

        // Signing in with the first password.
        submit(pane, 0, u"anna@example.org"_s, u"pw-1"_s);
        QVERIFY(!pane->loginButton()->isEnabled());
        QTRY_VERIFY(infoPane());
        QCOMPARE(testAccount().loginUserEmail(), u"anna@example.org"_s);

        // Signing out and in elsewhere (the menu, the service) switches the open pane too.
        testAccount().setLoginUserToken(std::nullopt);
        QTRY_VERIFY(loginPane());
        testAccount().setLoginUserToken(u"token"_s);
        QTRY_VERIFY(infoPane());
    }

    // A wrong password, a service that cannot be reached and a certificate that is not trusted
    // each say what they are, when signing in and when registering; the last leads to the CA
    // field, and filling it in lets the registration through.
    void failuresAreToldApart()
    {
        TestCertificates certificates;
        QVERIFY(certificates.makeAuthority(u"ours"_s));
        QVERIFY(certificates.makeServer(u"server"_s, u"ours"_s, u"IP:127.0.0.1"_s));
        ServerHarness secure;
        QVERIFY(secure.start({{}, certificates.pem(u"server"_s), certificates.key(u"server"_s)}));
        const QString unreachable = u"http://127.0.0.1:%1"_s.arg(ServerHarness::freePort());

        struct Case {
            int mode;
            QString server;
            QString password;
            QString sheet;
        };
        const QList<Case> cases{
            {0, m_server.origin(), u"wrong"_s, u"用户名或密码错误"_s},
            {0, unreachable, u"pw-1"_s, u"无法连接到同步服务器"_s},
            {1, unreachable, u"pw-1"_s, u"无法连接到同步服务器"_s},
            {0, secure.origin(), u"pw-1"_s, u"无法验证服务器的证书"_s},
            {1, secure.origin(), u"pw-1"_s, u"无法验证服务器的证书"_s},
        };
        for (const Case &failure : cases) {
            UserloginViewController *pane = freshForm();
            pane->serverField()->setText(failure.server);
            submit(pane, failure.mode, u"anna@example.org"_s, failure.password);
            if (failure.mode == 1)
                QVERIFY(answerAlert(u"确认邮箱：anna@example.org"_s, u"确认注册"_s));
            QMessageBox *box = waitForAlert(failure.sheet);
            QVERIFY2(box, qPrintable(failure.sheet));
            QTRY_VERIFY(pane->loginButton()->isEnabled());
            QVERIFY(!testAccount().isSignedIn());
            box->close();
            // The window's focus goes to the CA field (it has it once the window is active).
            if (failure.server == secure.origin())
                QTRY_COMPARE(pane->window()->focusWidget(), pane->caFileField());
        }

        // With the authority in the CA field the same registration goes through.
        UserloginViewController *pane = freshForm();
        pane->serverField()->setText(secure.origin());
        pane->caFileField()->setText(certificates.pem(u"ours"_s));
        submit(pane, 1, u"tls.pane@example.org"_s, u"pw"_s);
        QVERIFY(answerAlert(u"确认邮箱：tls.pane@example.org"_s, u"确认注册"_s));
        QTRY_VERIFY(infoPane());
        QVERIFY(testAccount().isSignedIn());
        SyncServer::setStoredCAFile(testSettings(), QString());
    }

    void passwordResetMail()
    {
        UserloginViewController *pane = freshForm();
        // The password field may stay empty here.
        submit(pane, 2, u"nobody@example.org"_s);
        QVERIFY(answerAlert(u"确认邮箱：nobody@example.org"_s, u"确认"_s));
        QVERIFY(answerAlert(u"邮箱：nobody@example.org不存在"_s, u"知道了"_s));
        QTRY_VERIFY(pane->loginButton()->isEnabled());

        submit(pane, 2, u"anna@example.org"_s);
        QVERIFY(answerAlert(u"确认邮箱：anna@example.org"_s, u"确认"_s));
        QVERIFY(answerAlert(u"发送成功"_s, u"好的"_s));
        QVERIFY(!testAccount().isSignedIn());
    }
};

QTEST_MAIN(TestAccountPane)
#include "tst_account_pane.moc"
