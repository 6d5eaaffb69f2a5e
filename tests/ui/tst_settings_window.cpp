// The settings window driven through its widgets: the general pane's hot keys, poll interval and
// history clearing, the privacy pane and the privacy script's editor, the about pane's home page
// and version check, and the account pane; against the real quillet-sync-server on 127.0.0.1
// (offscreen), and a recording server for replies the real one never gives.
#include "RecordingHttpServer.h"
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "SettingsTestHelpers.h"
#include "SyncClient.h"
#include "TestCertificates.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "capture/ShortcutController.h"
#include "menu/ClipFixtures.h"
#include "platform/MemoryHotKeyRegistrar.h"
#include "plugins/AdvancePrivacyManager.h"
#include "plugins/PrivacyRules.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "support/Database.h"
#include "support/Md5.h"
#include "sync/SyncServer.h"
#include "ui/AboutViewController.h"
#include "ui/GeneralViewController.h"
#include "ui/InterfaceLanguage.h"
#include "ui/PrivacyViewController.h"
#include "ui/ScriptEditWindowController.h"
#include "ui/SettingWindowController.h"
#include "ui/ShortcutRecorder.h"
#include "ui/UserInfoViewController.h"
#include "ui/UserloginViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

using namespace SettingsTestHelpers;
using namespace Qt::StringLiterals;

namespace {

// The window with the parts the program gives it (hot keys in memory), made on first use and
// kept, as the program's is, until the process ends.
struct WindowParts {
    MemoryHotKeyRegistrar hotKeys;
    MemoryHotKeyRegistrar historyHotKeys;
    ShortcutController shortcuts{testSettings()};
    ShortcutController historyShortcuts{testSettings(), ShortcutController::Role::History};
    AdvancePrivacyManager script{testSettings()};
    bool started = (shortcuts.start(hotKeys, [] {}), historyShortcuts.start(historyHotKeys, [] {}), true);
    SettingWindowController window{SettingsServices{&testSync(), &shortcuts, &script, &historyShortcuts}};
};

WindowParts &parts()
{
    static auto *instance = new WindowParts;
    return *instance;
}

SettingWindowController &window()
{
    return parts().window;
}

void click(QWidget *widget)
{
    QTest::mouseClick(widget, Qt::LeftButton);
}

template<typename Button = QPushButton> void clickNamed(QObject *parent, const char *name)
{
    click(parent->findChild<Button *>(QLatin1String(name)));
}

// Clicks the box's indicator, as a user does; its middle may lie beyond its text.
void clickBox(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

// Records a combination in the recorder's field; answers the field.
QPushButton *record(ShortcutRecorder *recorder, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    auto *field = recorder->findChild<QPushButton *>(u"shortcutField"_s);
    click(field);
    QTest::keyClick(field, key, modifiers);
    return field;
}

// The shown pane as a Pane; null when it is another.
template<typename Pane> Pane *shown()
{
    return qobject_cast<Pane *>(window().currentViewController());
}

std::optional<QString> storedVersion()
{
    return ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::newversion));
}

void useService(const QString &apiUrl)
{
    qputenv("QUILLET_API_URL", apiUrl.toUtf8());
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

class TestSettingsWindow final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ServerHarness m_server;
    UrlCatcher m_urls;
    const QString m_running = Utils::appVersion();

    GeneralViewController *generalPane() { return showPane<GeneralViewController>(window(), 0); }
    PrivacyViewController *privacyPane() { return showPane<PrivacyViewController>(window(), 2); }

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
        UserloginViewController *pane = shown<UserloginViewController>();
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

    // Anything but a web address, which the desktop would open as a local file or program,
    // opens the built-in home page instead.
    void homePageIsOnlyAWebPage()
    {
        const QString key = QLatin1String(SettingsKeys::homepage);
        for (const QString &page : {u"http://127.0.0.1:8888/quillet/"_s, u"file:///tmp/evil.desktop"_s}) {
            ClipUserDefaults::setValue(key, page);
            clickNamed(showPane<AboutViewController>(window(), 3), "homepageButton");
        }
        QCOMPARE(m_urls.urls, (QList<QUrl>{QUrl(u"http://127.0.0.1:8888/quillet/"_s),
                                           QUrl(QString::fromLatin1(SettingsDefaults::homepage))}));
    }

    // The slider stores its marks (a position between two snaps to the nearer) and whoever
    // follows the interval (the capture) learns of each change.
    void sliderStoresItsMarks()
    {
        const QString speedKey = QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED);
        ClipUserDefaults::remove(speedKey);
        QSignalSpy changes(&testSettings(), &Settings::changed);
        QSlider *slider = generalPane()->speedSlider();
        slider->setValue(0);
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(ClipUserDefaults::doubleValue(speedKey, 0), 0.2);
        QCOMPARE(changes.last().first().value<Settings::Key>(), Settings::Key::PollInterval);
        slider->setValue(67);
        QCOMPARE(ClipUserDefaults::doubleValue(speedKey, 0), 0.4);
    }

    // A plain letter would take a typing key away: not recorded. A combination replaces the hot
    // key; the history window's is recorded beside the menu's; clearing switches one off.
    void hotKeysAreRecordedAndSwitchedOff()
    {
        ShortcutRecorder *recorder = generalPane()->shortcutView();
        QVERIFY(record(recorder, Qt::Key_K, Qt::NoModifier));
        QVERIFY(recorder->isRecording());
        QTest::keyClick(recorder->findChild<QPushButton *>(u"shortcutField"_s), Qt::Key_K,
                        Qt::ControlModifier | Qt::AltModifier);
        const KeyCombination recorded{40, KeyCombination::Control | KeyCombination::Option};
        QCOMPARE(parts().hotKeys.registered(), std::vector<KeyCombination>{recorded});
        QCOMPARE(ShortcutController::storedShortcut(), std::optional<KeyCombination>(recorded));

        record(generalPane()->historyShortcutView(), Qt::Key_J, Qt::ControlModifier | Qt::AltModifier);
        const KeyCombination history{38, KeyCombination::Control | KeyCombination::Option};
        QCOMPARE(parts().historyHotKeys.registered(), std::vector<KeyCombination>{history});

        clickNamed<QToolButton>(generalPane()->shortcutView(), "shortcutClearButton");
        QVERIFY(parts().hotKeys.registered().empty());
        QVERIFY(ShortcutController::isShortcutOff());
        QCOMPARE(parts().historyHotKeys.registered(), std::vector<KeyCombination>{history});
    }

    // Signed out: cancelling keeps everything; confirming clears the history with its files
    // and spares the favourites and theirs. A database another program holds locked: the
    // clear says it failed, and every row stays.
    void clearingWhileSignedOut()
    {
        DBKeeper::removeAllData();
        const HistoryModel gone = ClipFixtures::text(u"gone"_s, 1, Category::history, 0);
        ClipFixtures::text(u"liked"_s, 1, Category::history, 1700000000);
        const HistoryModel liked = ClipFixtures::text(u"liked"_s, 1, Category::favourite, 1700000000);
        Database other(PathHelper::getBaseAppLibraryPath(u"clipDB.sqlite"_s));
        QVERIFY(other.exec("BEGIN IMMEDIATE"));
        QVERIFY(confirmClear(window()));
        QVERIFY(answerAlert(u"清空失败"_s, u"知道了"_s));
        QVERIFY(other.exec("COMMIT"));
        QCOMPARE(storedRowCount(), 3);

        click(generalPane()->clearButton());
        QVERIFY(answerAlert(u"清空历史纪录?"_s, u"取消"_s));
        QTRY_VERIFY(!anyAlertOpen());
        QCOMPARE(storedRowCount(), 3);

        QVERIFY(confirmClear(window()));
        QVERIFY(answerAlert(u"共清空了：1条"_s, u"知道了"_s));
        QCOMPARE(storedRowCount(), 2);
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(gone.hash())));
        QVERIFY(QFile::exists(PathHelper::getBaseFilePath(liked.hash())));
    }

    // A keyword added and typed in the pane makes clips secret (its rules: tst_privacy); the
    // switches write at each click.
    void privacyPaneWritesItsRules()
    {
        while (!testAccount().customKeyWords().isEmpty())
            testAccount().removeKeyWordAtIndex(0);
        testSettings().setAnalyseSecret(true);
        testSettings().setFileAsSecret(true);
        PrivacyViewController *privacy = privacyPane();
        click(privacy->addButton());
        QLineEdit *editor = nullptr;
        QTRY_VERIFY((editor = qobject_cast<QLineEdit *>(privacy->tableView()->focusWidget())) != nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, u"salary"_s);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(testAccount().customKeyWords(), QStringList{u"salary"_s});
        QVERIFY(PrivacyRules::isSecret(u"my Salary slip"_s, testAccount()));
        privacy->tableView()->selectRow(0);
        click(privacy->removeButton());
        QVERIFY(testAccount().customKeyWords().isEmpty());

        clickBox(privacy->analyseSecretButton());
        clickBox(privacy->fileAsSecretButton());
        QVERIFY(!Settings::analyseSecret() && !Settings::fileAsSecret());
        testSettings().setAnalyseSecret(true);
    }

    // Switching the advanced mode on asks first; cancelling leaves it off.
    void advancedModeAsksFirst()
    {
        testSettings().setAdvancePrivacy(false);
        PrivacyViewController *privacy = privacyPane();
        clickBox(privacy->advancePrivacyButton());
        QVERIFY(answerAlert(u"确认开启高级隐私模式?"_s, u"取消"_s));
        QTRY_VERIFY(!privacy->advancePrivacyButton()->isChecked());
        clickBox(privacy->advancePrivacyButton());
        QVERIFY(answerAlert(u"确认开启高级隐私模式?"_s, u"开启"_s));
        QTRY_VERIFY(Settings::advancePrivacy());
        QVERIFY(!privacy->editScriptButton()->isHidden());
    }

    // Done stores a script only when it passes its trial; cancel stores nothing.
    void scriptEditorSavesOnlyAPassingScript()
    {
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::privacy_script));
        testSettings().setAdvancePrivacy(true);
        PrivacyViewController *privacy = privacyPane();
        click(privacy->editScriptButton());
        ScriptEditWindowController *editor = privacy->controllerWindow();
        QVERIFY(editor);
        editor->textEditView()->setPlainText(u"x = 1"_s); // no main to call
        clickNamed(editor, "doneButton");
        QVERIFY(answerAlert(u"错啦!"_s, u"我再改改"_s));
        QVERIFY(editor->isVisible());
        QVERIFY(!ClipUserDefaults::contains(QLatin1String(SettingsKeys::privacy_script)));

        const QString script = u"function main(from, ext, content)\n"
                               "  if content == 'top secret' then return 1 end\n"
                               "  return 0\nend\n"_s;
        editor->textEditView()->setPlainText(script);
        clickNamed(editor, "doneButton");
        QCOMPARE(parts().script.saveOptionFrom(u"text"_s, QString(), u"top secret"_s), 1);
        QTRY_VERIFY(!privacy->controllerWindow());

        click(privacy->editScriptButton());
        privacy->controllerWindow()->textEditView()->setPlainText(u"function main() return 1 end"_s);
        clickNamed(privacy->controllerWindow(), "cancelButton");
        QTRY_VERIFY(!privacy->controllerWindow());
        QCOMPARE(parts().script.scriptContent(), script);
        testSettings().setAdvancePrivacy(false);
    }
    void cleanup()
    {
        if (testAccount().isSignedIn()) {
            testAccount().setLoginUserToken(std::nullopt);
            QTRY_VERIFY(shown<UserloginViewController>()); // the pane follows before the next case
        }
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
        QTRY_VERIFY(shown<UserInfoViewController>());
        QVERIFY(ClipUserDefaults::contains(QLatin1String(SettingsKeys::mqttPassword)));

        // The broker can move while signed in; a bad address is refused there too.
        shown<UserInfoViewController>()->brokerField()->setText(u"mqtt://127.0.0.1:70000"_s);
        QTest::mouseClick(shown<UserInfoViewController>()->brokerButton(), Qt::LeftButton);
        QVERIFY(answerAlert(kBadBroker, u"确认"_s));
        QVERIFY(!ClipUserDefaults::contains(QLatin1String(SettingsKeys::mqttServerURL)));

        DBKeeper::removeAllData();
        ClipFixtures::text(u"kept until sign-out"_s, 1);
        QTest::mouseClick(shown<UserInfoViewController>()->logoutButton(), Qt::LeftButton);
        QVERIFY(answerAlert(u"退出登录？"_s, u"取消"_s));
        QVERIFY(testAccount().isSignedIn());
        QCOMPARE(storedRowCount(), 1);
        QTest::mouseClick(shown<UserInfoViewController>()->logoutButton(), Qt::LeftButton);
        QVERIFY(answerAlert(u"退出登录？"_s, u"退出登录"_s));
        QTRY_VERIFY(shown<UserloginViewController>());
        QCOMPARE(storedRowCount(), 0);
        QVERIFY(!ClipUserDefaults::contains(QLatin1String(SettingsKeys::mqttPassword)));

        pane = freshForm();
        submit(pane, 1, u"anna@example.org"_s, u"pw-2"_s);
        QVERIFY(answerAlert(u"确认邮箱：anna@example.org"_s, u"确认注册"_s));
        QVERIFY(answerAlert(u"邮箱：anna@example.org已注册，请更换其他邮箱"_s, u"知道了"_s));
        QVERIFY(!testAccount().isSignedIn());
        submit(pane, 0, u"anna@example.org"_s, u"pw-1"_s);
        QTRY_VERIFY(shown<UserInfoViewController>());

        testAccount().setLoginUserToken(std::nullopt);
        QTRY_VERIFY(shown<UserloginViewController>());
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
        QTRY_COMPARE(shown<UserloginViewController>()->window()->focusWidget(),
                     shown<UserloginViewController>()->caFileField());

        UserloginViewController *pane = freshForm(secure.origin());
        pane->caFileField()->setText(certificates.pem(u"ours"_s));
        submit(pane, 1, u"tls.pane@example.org"_s, u"pw"_s);
        QVERIFY(answerAlert(u"确认邮箱：tls.pane@example.org"_s, u"确认注册"_s));
        QTRY_VERIFY(shown<UserInfoViewController>());
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
        m_urls.urls.clear();
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

QTEST_MAIN(TestSettingsWindow)
#include "tst_settings_window.moc"
