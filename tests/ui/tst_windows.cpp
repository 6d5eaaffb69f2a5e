// The settings and plugin windows driven through their widgets (offscreen): the general pane's hot
// key and history clearing, the privacy pane and its script editor, the about pane's home page and
// version check, the account pane; the plugin window adding from the store a plugin the status
// menu then runs. Against the real quillet-sync-server on 127.0.0.1, whose store folder holds
// packages built by quillet-pack-plugin, and a recording server for replies the real one never
// gives.
#include "RecordingHttpServer.h"
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "StoreFixture.h"
#include "SyncClient.h"
#include "TestCertificates.h"
#include "TestDirs.h"
#include "capture/ShortcutController.h"
#include "menu/ClipFixtures.h"
#include "menu/PluginMenuFixture.h"
#include "platform/MemoryHotKeyRegistrar.h"
#include "platform/UrlOpener.h"
#include "plugins/AdvancePrivacyManager.h"
#include "plugins/PluginManager.h"
#include "plugins/PrivacyRules.h"
#include "store/ClipUserDefaults.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "support/Database.h"
#include "sync/ClipPluginPackageHelper.h"
#include "sync/SyncServer.h"
#include "ui/AboutViewController.h"
#include "ui/GeneralViewController.h"
#include "ui/InterfaceLanguage.h"
#include "ui/PluginWindowController.h"
#include "ui/PrivacyViewController.h"
#include "ui/ScriptEditWindowController.h"
#include "ui/SettingWindowController.h"
#include "ui/ShortcutRecorder.h"
#include "ui/UserInfoViewController.h"
#include "ui/UserloginViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// The windows with the parts the program gives them, made on first use and kept, as the
// program's are, until the process ends.
struct WindowParts {
    MemoryHotKeyRegistrar hotKeys;
    ShortcutController shortcuts{testSettings()};
    AdvancePrivacyManager script{testSettings()};
    bool started = (shortcuts.start(hotKeys, [] {}), true);
    SettingWindowController window{SettingsServices{&testSync(), &shortcuts, &script, nullptr}};
    UrlOpener urlOpener{nullptr, {}};
    PluginManager plugins{urlOpener};
    ClipPluginPackageHelper packages{testSync(), plugins};
    PluginWindowController pluginWindow{packages, urlOpener};
};

WindowParts &parts()
{
    static auto *instance = new WindowParts;
    return *instance;
}

void click(QWidget *widget)
{
    QTest::mouseClick(widget, Qt::LeftButton);
}

// Clicks the box's indicator, as a user does; its middle may lie beyond its text.
void clickBox(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

// Shows the pane at index and answers it as a Pane; null when the shown pane is another.
template<typename Pane> Pane *showPane(int index)
{
    parts().window.showPanel(index);
    return qobject_cast<Pane *>(parts().window.currentViewController());
}

template<typename Pane> Pane *shown()
{
    return qobject_cast<Pane *>(parts().window.currentViewController());
}

qsizetype storedRowCount()
{
    return DBKeeper::getAllHistory().size() + DBKeeper::getAllFavourites().size();
}

// The visible message boxes; with a message, only the one with that text.
QList<QMessageBox *> openAlerts(const QString &message = {})
{
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && (message.isNull() || box->text() == message))
            boxes << box;
    }
    return boxes;
}

// The alert with this message once it is open, or null after ten seconds.
QMessageBox *waitForAlert(const QString &message)
{
    (void)QTest::qWaitFor([&] { return !openAlerts(message).isEmpty(); }, 10000);
    return openAlerts(message).value(0);
}

QAbstractButton *alertButton(QMessageBox *box, const QString &title)
{
    const QList<QAbstractButton *> buttons = box->buttons();
    const auto found =
        std::find_if(buttons.begin(), buttons.end(), [&](auto *b) { return b->text() == title; });
    return found == buttons.end() ? nullptr : *found;
}

// Clicks the button of the alert with this message once it is open.
bool answerAlert(const QString &message, const QString &button)
{
    QMessageBox *box = waitForAlert(message);
    QAbstractButton *target = box ? alertButton(box, button) : nullptr;
    if (target)
        target->click();
    return target != nullptr;
}

bool confirmClear()
{
    click(showPane<GeneralViewController>(SettingWindowController::General)->clearButton());
    return answerAlert(u"清空历史纪录?"_s, u"清空历史纪录"_s);
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
    click(pane->loginButton());
}

// The names in the first column of a plugin table.
QStringList names(QTableWidget *table)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, 0) ? table->item(row, 0)->text() : QString());
    return texts;
}

const QString kBadBroker =
    u"消息服务器地址格式存在问题，请输入 mqtt://主机:端口 或 mqtts://主机:端口 形式的地址"_s;

} // namespace

// Receives the URLs the panes open instead of a browser (QDesktopServices::setUrlHandler).
class UrlCatcher final : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void openUrl(const QUrl &url) { urls << url; }
};

class TestWindows final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ServerHarness m_server;
    UrlCatcher m_urls;
    std::unique_ptr<StoreFixture> m_store;
    const QString m_newer = Utils::appVersion() + u".1"_s;

    // The sign-in form, fresh, pointing at the test's service through the address field.
    UserloginViewController *freshForm(const QString &server = {})
    {
        parts().window.showPanel(SettingWindowController::General);
        parts().window.showPanel(SettingWindowController::Account);
        UserloginViewController *pane = shown<UserloginViewController>();
        if (pane)
            pane->serverField()->setText(server.isEmpty() ? m_server.origin() : server);
        return pane;
    }

private slots:
    void initTestCase()
    {
        // The address field of the form, not the environment, chooses the service.
        qunsetenv("QUILLET_API_URL");
        // The texts this test answers are the Chinese ones.
        QVERIFY(InterfaceLanguage::apply(Settings::Language::Chinese));
        QVERIFY(m_server.start());
        m_store = std::make_unique<StoreFixture>(m_server.dataDir() + u"/plugins"_s);
        QVERIFY(m_store->publish(u"shout"_s, "org.example.shout", "1.0", "SHOUT:"));
        for (const QString &scheme : {u"http"_s, u"https"_s, u"file"_s})
            QDesktopServices::setUrlHandler(scheme, &m_urls, "openUrl");
        parts().window.showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&parts().window));
    }

    void cleanupTestCase()
    {
        for (const QString &scheme : {u"http"_s, u"https"_s, u"file"_s})
            QDesktopServices::unsetUrlHandler(scheme);
    }

    void cleanup()
    {
        if (testAccount().isSignedIn()) {
            testAccount().setLoginUserToken(std::nullopt);
            QTRY_VERIFY(shown<UserloginViewController>()); // the pane follows before the next case
        }
    }

    // Anything but a web address, which the desktop would open as a local file or program,
    // opens the built-in home page instead.
    void homePageIsOnlyAWebPage()
    {
        const QString key = QLatin1String(SettingsKeys::homepage);
        for (const QString &page : {u"http://127.0.0.1:8888/quillet/"_s, u"file:///tmp/evil.desktop"_s}) {
            ClipUserDefaults::setValue(key, page);
            click(showPane<AboutViewController>(SettingWindowController::About)
                      ->findChild<QPushButton *>(u"homepageButton"_s));
        }
        QCOMPARE(m_urls.urls, (QList<QUrl>{QUrl(u"http://127.0.0.1:8888/quillet/"_s),
                                           QUrl(QString::fromLatin1(SettingsDefaults::homepage))}));
    }

    // A plain letter would take a typing key away: not recorded. A combination replaces the
    // hot key.
    void hotKeyNeedsAModifier()
    {
        auto *field = showPane<GeneralViewController>(SettingWindowController::General)
                          ->shortcutView()
                          ->findChild<QPushButton *>(u"shortcutField"_s);
        click(field);
        QTest::keyClick(field, Qt::Key_K);
        QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
        const KeyCombination recorded{40, KeyCombination::Control | KeyCombination::Option};
        QCOMPARE(parts().hotKeys.registered(), std::vector<KeyCombination>{recorded});
        QCOMPARE(ShortcutController::storedShortcut(), std::optional<KeyCombination>(recorded));
    }

    // Signed out: a database another program holds locked makes the clear fail, every row
    // kept; cancelling keeps everything; confirming clears the history with its files and
    // spares the favourites and theirs.
    void clearingWhileSignedOut()
    {
        DBKeeper::removeAllData();
        const HistoryModel gone = ClipFixtures::text(u"gone"_s, 1, Category::history, 0);
        ClipFixtures::text(u"liked"_s, 1, Category::history, 1700000000);
        const HistoryModel liked = ClipFixtures::text(u"liked"_s, 1, Category::favourite, 1700000000);
        Database other(PathHelper::getBaseAppLibraryPath(u"clipDB.sqlite"_s));
        QVERIFY(other.exec("BEGIN IMMEDIATE"));
        QVERIFY(confirmClear());
        QVERIFY(answerAlert(u"清空失败"_s, u"知道了"_s));
        QVERIFY(other.exec("COMMIT"));
        QCOMPARE(storedRowCount(), 3);

        click(showPane<GeneralViewController>(SettingWindowController::General)->clearButton());
        QVERIFY(answerAlert(u"清空历史纪录?"_s, u"取消"_s));
        QTRY_VERIFY(openAlerts().isEmpty());
        QCOMPARE(storedRowCount(), 3);

        QVERIFY(confirmClear());
        QVERIFY(answerAlert(u"共清空了：1条"_s, u"知道了"_s));
        QCOMPARE(storedRowCount(), 2);
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(gone.hash())));
        QVERIFY(QFile::exists(PathHelper::getBaseFilePath(liked.hash())));
    }

    // A keyword typed in the pane makes clips secret (its rules: tst_capture); the switches
    // write at each click.
    void privacyPaneWritesItsRules()
    {
        testSettings().setAnalyseSecret(true);
        testSettings().setFileAsSecret(true);
        auto *privacy = showPane<PrivacyViewController>(SettingWindowController::Privacy);
        click(privacy->addButton());
        QLineEdit *editor = nullptr;
        QTRY_VERIFY((editor = qobject_cast<QLineEdit *>(privacy->tableView()->focusWidget())) != nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, u"salary"_s);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(PrivacyRules::isSecret(u"my Salary slip"_s, testAccount()));

        clickBox(privacy->analyseSecretButton());
        clickBox(privacy->fileAsSecretButton());
        QVERIFY(!Settings::analyseSecret() && !Settings::fileAsSecret());
        testSettings().setAnalyseSecret(true);
    }

    // Done stores a script only when it passes its trial.
    void scriptEditorSavesOnlyAPassingScript()
    {
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::privacy_script));
        testSettings().setAdvancePrivacy(true);
        auto *privacy = showPane<PrivacyViewController>(SettingWindowController::Privacy);
        click(privacy->editScriptButton());
        ScriptEditWindowController *editor = privacy->controllerWindow();
        QVERIFY(editor);
        editor->textEditView()->setPlainText(u"x = 1"_s); // no main to call
        click(editor->findChild<QPushButton *>(u"doneButton"_s));
        QVERIFY(answerAlert(u"错啦!"_s, u"我再改改"_s));
        QVERIFY(editor->isVisible());
        QVERIFY(!ClipUserDefaults::contains(QLatin1String(SettingsKeys::privacy_script)));

        editor->textEditView()->setPlainText(
            u"function main(from, ext, content) return content == 'top secret' and 1 or 0 end"_s);
        click(editor->findChild<QPushButton *>(u"doneButton"_s));
        QCOMPARE(parts().script.saveOptionFrom(u"text"_s, QString(), u"top secret"_s), 1);
        QTRY_VERIFY(!privacy->controllerWindow());
        testSettings().setAdvancePrivacy(false);
    }

    // Each bad field is refused with its sheet before any request, and nothing of it is stored.
    void checksComeBeforeAnyRequest_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("sheet");
        QTest::newRow("email") << u"nameField"_s << u"anna@example.museum"_s
                               << u"邮箱格式存在问题，请输入正确的邮箱"_s;
        QTest::newRow("service") << u"serverField"_s << u"sync.example.org"_s
                                 << u"服务器地址格式存在问题，请输入以 http:// 或 https:// 开头的地址"_s;
        QTest::newRow("ca file") << u"caFileField"_s << u"/etc/hostname"_s
                                 << u"无法读取 CA 证书文件，请填写 PEM 格式证书文件的路径"_s;
        QTest::newRow("broker") << QString() << u"mqtts://sync.example.org"_s << kBadBroker;
    }
    void checksComeBeforeAnyRequest()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, sheet);
        UserloginViewController *pane = freshForm();
        pane->nameField()->setText(u"anna@example.org"_s);
        pane->pwdField()->setText(u"pw"_s);
        (field.isEmpty() ? pane->brokerField() : pane->findChild<QLineEdit *>(field))->setText(value);
        QTest::keyClick(pane->pwdField(), Qt::Key_Return); // Return in a field submits the form
        QVERIFY(answerAlert(sheet, u"确认"_s));
        QVERIFY(!testAccount().isSignedIn());
        QVERIFY(!SyncServer::baseURL().contains(u"sync.example.org"_s));
        for (const char *key : {SettingsKeys::syncCAFile, SettingsKeys::mqttServerURL})
            QVERIFY(!ClipUserDefaults::contains(QLatin1String(key)));
        pane->caFileField()->clear();
        pane->brokerField()->clear();
    }

    // Registering asks to confirm the address (spaces dropped); a bad broker address is refused
    // while signed in too; signing out asks, and cancelling keeps the history; confirmed, the
    // broker password goes. The address is then taken, and signing in with it works.
    void registerSignOutAndSignIn()
    {
        UserloginViewController *pane = freshForm();
        submit(pane, 1, u" anna @example.org "_s, u"pw-1"_s);
        QVERIFY(answerAlert(u"确认邮箱：anna@example.org"_s, u"确认注册"_s));
        QTRY_VERIFY(shown<UserInfoViewController>());
        QVERIFY(ClipUserDefaults::contains(QLatin1String(SettingsKeys::mqttPassword)));

        shown<UserInfoViewController>()->brokerField()->setText(u"mqtt://127.0.0.1:70000"_s);
        click(shown<UserInfoViewController>()->brokerButton());
        QVERIFY(answerAlert(kBadBroker, u"确认"_s));
        QVERIFY(!ClipUserDefaults::contains(QLatin1String(SettingsKeys::mqttServerURL)));

        DBKeeper::removeAllData();
        ClipFixtures::text(u"kept until sign-out"_s, 1);
        click(shown<UserInfoViewController>()->logoutButton());
        QVERIFY(answerAlert(u"退出登录？"_s, u"取消"_s));
        QCOMPARE(storedRowCount(), 1);
        click(shown<UserInfoViewController>()->logoutButton());
        QVERIFY(answerAlert(u"退出登录？"_s, u"退出登录"_s));
        QTRY_VERIFY(shown<UserloginViewController>());
        QVERIFY(!ClipUserDefaults::contains(QLatin1String(SettingsKeys::mqttPassword)));

        pane = freshForm();
        submit(pane, 1, u"anna@example.org"_s, u"pw-2"_s);
        QVERIFY(answerAlert(u"确认邮箱：anna@example.org"_s, u"确认注册"_s));
        QVERIFY(answerAlert(u"邮箱：anna@example.org已注册，请更换其他邮箱"_s, u"知道了"_s));
        submit(pane, 0, u"anna@example.org"_s, u"pw-1"_s);
        QTRY_VERIFY(shown<UserInfoViewController>());
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

    // A newer version is named, its notes shown as text (no link the box would open) and its
    // download page opened only when it is a web address; a refusal and offers that are no
    // version store and show nothing. (The comparison's table: tst_dbkeeper; the check against
    // the real service: tst_sleep_wake.)
    void versionCheck_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("download"); // empty: no download offered
        const auto offer = [](const QString &version, const QString &page) {
            const QJsonObject data{{u"version"_s, version},
                                   {u"update_info"_s, u"<a href=\"file:///etc/passwd\">notes</a>"_s},
                                   {u"download_url"_s, page}};
            return QJsonDocument(QJsonObject{{u"code"_s, 0}, {u"data"_s, data}}).toJson();
        };
        QTest::newRow("web page") << offer(m_newer, u"https://127.0.0.1:8443/quillet.tar.xz"_s)
                                  << u"https://127.0.0.1:8443/quillet.tar.xz"_s;
        QTest::newRow("desktop file") << offer(m_newer, u"file:///tmp/quillet.desktop"_s) << QString();
        QTest::newRow("refused") << QByteArray(R"({"code":1,"data":{"version":"9.9"}})") << QString();
        QTest::newRow("markup") << offer(u"9.9 <b>now</b>"_s, u"https://127.0.0.1/"_s) << QString();
        QTest::newRow("long") << offer(u"1."_s + QString(40, u'0'), u"https://127.0.0.1/"_s) << QString();
        QTest::newRow("no JSON") << QByteArray("<html>busy</html>") << QString();
    }
    void versionCheck()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, download);
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::newversion));
        m_urls.urls.clear();
        RecordingHttpServer wire;
        wire.setReply(200, reply);
        useService(wire.origin() + u"/api"_s);
        QPushButton *button = showPane<AboutViewController>(SettingWindowController::About)->checkUpdate();
        click(button);
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 20000);
        QCOMPARE(wire.requestLines().size(), 1);
        if (!reply.contains(m_newer.toUtf8())) {
            QVERIFY(openAlerts().isEmpty());
            QVERIFY(!storedVersion());
            return;
        }
        QMessageBox *sheet = waitForAlert(u"新版本："_s + m_newer);
        QVERIFY(sheet);
        const QList<QLabel *> labels = sheet->findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel *label) {
            return label->text().contains(u"notes"_s) && label->textFormat() == Qt::PlainText;
        }));
        QCOMPARE(storedVersion(), m_newer);
        QAbstractButton *get = alertButton(sheet, u"去下载"_s);
        QCOMPARE(get != nullptr, !download.isEmpty());
        if (get)
            get->click();
        else
            sheet->close();
        QTRY_COMPARE(m_urls.urls, download.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(download)});
    }

    // Signed in, the clear goes through the service: a refusal leaves the local history as it
    // was; a success clears here too, favourites spared.
    void signedInClearGoesThroughTheService()
    {
        useService(m_server.apiUrl());
        const QString email = u"clear@example.org"_s;
        QCOMPARE(registerAccount(email, u"pw"_s).code(), 0);
        SyncClient other(m_server.origin(), u"other-device"_s);
        QCOMPARE(other.login(email, u"pw"_s).code(), 0);
        QCOMPARE(other.pushRecord(SyncClient::textRecord(u"one"_s, 1700000001)).code(), 0);
        DBKeeper::removeAllData();
        ClipFixtures::text(u"a"_s, 1700000000);
        const HistoryModel liked =
            ClipFixtures::text(u"liked"_s, 1700000000, Category::favourite, 1700000000);

        RecordingHttpServer wire;
        useService(wire.origin() + u"/api"_s);
        wire.setReply(200, R"({"code":1,"count":2})");
        QVERIFY(confirmClear());
        QVERIFY(answerAlert(u"清空失败"_s, u"知道了"_s));
        QCOMPARE(storedRowCount(), 2);

        useService(m_server.apiUrl());
        QVERIFY(confirmClear());
        QVERIFY(answerAlert(u"共清空了：1条"_s, u"知道了"_s));
        QCOMPARE(storedRowCount(), 1);
        QVERIFY(QFile::exists(PathHelper::getBaseFilePath(liked.hash())));
        QVERIFY(other.pull(0).histories().isEmpty());
        testAccount().setLoginUserToken(std::nullopt);
    }

    // "添加" covers the window until the plugin is in (the store's rules: tst_plugin_store); it
    // then transforms a clip chosen from the status menu. A shipped plugin cannot be removed; a
    // user plugin can.
    void pluginFromTheStoreRunsFromTheMenu()
    {
        useService(m_server.apiUrl());
        PluginWindowController &window = parts().pluginWindow;
        window.showWindow();
        QTRY_VERIFY(window.storeTableView()->cellWidget(0, 4));
        QCOMPARE(names(window.storeTableView()).value(0), u"shout"_s);
        window.storeTableView()->cellWidget(0, 4)->findChild<QPushButton *>()->click();
        QVERIFY(window.overlay());
        QTRY_VERIFY_WITH_TIMEOUT(!window.overlay(), 20000);

        PluginMenuFixture menu(parts().plugins, u"quiet words"_s);
        QAction *shout = menu.clipAction(u"shout"_s);
        QVERIFY(shout);
        shout->trigger();
        QTRY_COMPARE(menu.injector.pasteCount(), 1);
        QCOMPARE(menu.pasteboard.string(), std::optional<QString>(u"SHOUT:quiet words"_s));

        const auto select = [&window](const QString &name) {
            window.tableView()->selectRow(int(names(window.tableView()).indexOf(name)));
        };
        select(parts().plugins.listPlugins().value(u"org.quillet.plugin.uppercase"_s).plugin_name());
        QVERIFY(!window.removeButton()->isEnabled());
        select(u"shout"_s);
        window.removeButton()->click();
        QTRY_VERIFY(!names(window.tableView()).contains(u"shout"_s));
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
