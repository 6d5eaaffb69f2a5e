// Screenshots of every pane of the settings window and of the script editor, taken from a
// real X server (a private Xvfb) and saved as PNG files in the build folder for review.
#include "SettingsTestHelpers.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "X11TestMain.h"
#include "plugins/AdvancePrivacyManager.h"
#include "store/ConfigureManager.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "ui/InterfaceLanguage.h"
#include "ui/PrivacyViewController.h"
#include "ui/ScriptEditWindowController.h"
#include "ui/SettingWindowController.h"
#include "ui/UserInfoViewController.h"
#include "ui/UserloginViewController.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTcpServer>

#include <QCheckBox>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

namespace {

// Saves the window's pixels as the X server shows them and checks that it shows something.
bool saveShot(QWidget *window, const QString &name)
{
    window->raise();
    window->activateWindow();
    if (!QTest::qWaitForWindowExposed(window))
        return false;
    QCoreApplication::processEvents();
    QTest::qWait(0);
    const QImage shot = window->screen()->grabWindow(window->winId()).toImage();
    if (shot.isNull() || shot.width() < 100 || shot.height() < 60)
        return false;
    // A blank window would be one colour; a drawn pane has many.
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 4) {
        for (int x = 0; x < shot.width(); x += 4)
            colours.insert(shot.pixel(x, y));
    }
    if (colours.size() < 8)
        return false;
    const QString folder = QStringLiteral(QUILLET_SCREENSHOT_DIR);
    return QDir().mkpath(folder) && shot.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace

class TestSettingsScreens final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;

    static PrivacyViewController *privacyPane()
    {
        SettingsTestHelpers::sharedSettingsWindow().showPanel(2);
        return qobject_cast<PrivacyViewController *>(
            SettingsTestHelpers::sharedSettingsWindow().currentViewController());
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        testSettings().setAdvancePrivacy(true); // so that the privacy pane shows its edit button
        SettingsTestHelpers::sharedSettingsWindow().showWindow();
    }

    void eachPane_data()
    {
        QTest::addColumn<int>("pane");
        int pane = 0;
        for (const char *name : {"general", "account", "privacy", "about"})
            QTest::newRow(name) << pane++;
    }

    void eachPane()
    {
        QFETCH(int, pane);
        SettingWindowController &window = SettingsTestHelpers::sharedSettingsWindow();
        window.showPanel(pane);
        QVERIFY(
            saveShot(&window, QStringLiteral("settings-") + QString::fromLatin1(QTest::currentDataTag())));
    }

    void scriptEditor()
    {
        PrivacyViewController *privacy = privacyPane();
        QVERIFY(privacy);
        QTest::mouseClick(privacy->editScriptButton(), Qt::LeftButton);
        QVERIFY(privacy->controllerWindow());
        QVERIFY(saveShot(privacy->controllerWindow(), QStringLiteral("settings-script-editor")));
        privacy->controllerWindow()->cancelClicked();
    }

    void advancedModeSheet()
    {
        testSettings().setAdvancePrivacy(false);
        PrivacyViewController *privacy = privacyPane();
        QVERIFY(privacy);
        privacy->advancePrivacyButton()->click();
        QMessageBox *sheet = nullptr;
        QTRY_VERIFY((sheet = SettingsTestHelpers::sharedSettingsWindow().findChild<QMessageBox *>())
                    != nullptr);
        QVERIFY(saveShot(sheet, QStringLiteral("settings-advanced-sheet")));
        sheet->buttons().first()->click();
        QTRY_VERIFY(!Settings::advancePrivacy());
    }

    // The account pane in each of its states, and each sheet it shows.
    void accountPaneStates()
    {
        SettingWindowController &window = SettingsTestHelpers::sharedSettingsWindow();
        window.showPanel(0);
        window.showPanel(1);
        auto *pane = qobject_cast<UserloginViewController *>(window.currentViewController());
        QVERIFY(pane);
        // Nobody listens on this port: signing in fails as a wrong password would.
        int closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            closedPort = probe.serverPort();
        }
        pane->serverField()->setText(QStringLiteral("http://127.0.0.1:%1").arg(closedPort));
        pane->nameField()->setText(QStringLiteral("anna@example.org"));
        pane->pwdField()->setText(QStringLiteral("secret"));
        const char *modes[] = {"account-sign-in", "account-register", "account-reset"};
        for (int mode : {2, 1, 0}) {
            pane->selectPopUpButton()->setCurrentIndex(mode);
            QVERIFY(saveShot(&window, QStringLiteral("settings-") + QLatin1String(modes[mode])));
        }

        const auto shootSheet = [&](int mode, const QString &email, const QString &name) {
            pane->selectPopUpButton()->setCurrentIndex(mode);
            pane->nameField()->setText(email);
            QTest::mouseClick(pane->loginButton(), Qt::LeftButton);
            QMessageBox *sheet = nullptr;
            if (!QTest::qWaitFor([&] { return (sheet = window.findChild<QMessageBox *>()) != nullptr; },
                                 10000))
                return false;
            const bool saved = saveShot(sheet, name);
            sheet->buttons().last()->click();
            return saved
                   && QTest::qWaitFor([&] { return window.findChild<QMessageBox *>() == nullptr; }, 10000);
        };
        QVERIFY(shootSheet(0, QStringLiteral("anna@example.museum"),
                           QStringLiteral("settings-account-email-sheet")));
        QVERIFY(shootSheet(1, QStringLiteral("anna@example.org"),
                           QStringLiteral("settings-account-register-sheet")));
        QVERIFY(shootSheet(2, QStringLiteral("anna@example.org"),
                           QStringLiteral("settings-account-reset-sheet")));
        QVERIFY(shootSheet(0, QStringLiteral("anna@example.org"),
                           QStringLiteral("settings-account-failed-sheet")));
        pane->serverField()->setText(QStringLiteral("sync.example.org"));
        QVERIFY(shootSheet(0, QStringLiteral("anna@example.org"),
                           QStringLiteral("settings-account-address-sheet")));

        testAccount().setLoginUserEmail(QStringLiteral("anna@example.org"));
        testAccount().setLoginUserToken(QStringLiteral("token"));
        QTRY_VERIFY(qobject_cast<UserInfoViewController *>(window.currentViewController()));
        QVERIFY(saveShot(&window, QStringLiteral("settings-account-signed-in")));
        testAccount().setLoginUserToken(std::nullopt);
        QTRY_VERIFY(qobject_cast<UserloginViewController *>(window.currentViewController()));
    }

    // Every pane again in English, as a user with an English locale sees them. A window takes
    // its texts when it is made.
    void eachPaneInEnglish()
    {
        QVERIFY(InterfaceLanguage::apply(Settings::Language::English));
        AdvancePrivacyManager script(testSettings());
        SettingWindowController window(SettingsServices{&testSync(), nullptr, &script});
        window.showWindow();
        int pane = 0;
        for (const char *name : {"general", "account", "privacy", "about"}) {
            window.showPanel(pane++);
            QVERIFY(saveShot(&window, QStringLiteral("settings-en-") + QLatin1String(name)));
        }
        QVERIFY(InterfaceLanguage::apply(Settings::Language::Chinese));
    }
};

QUILLET_XVFB_TEST_MAIN(TestSettingsScreens)
#include "tst_settings_screens.moc"
