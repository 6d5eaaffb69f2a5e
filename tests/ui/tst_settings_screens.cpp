// Screenshots of every pane of the settings window and of the script editor, taken from a
// real X server (a private Xvfb) and saved as PNG files in the build folder for review.
#include "TestDirs.h"
#include "X11TestMain.h"
#include "ui/ScriptEditWindowController.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "ui/PrivacyViewController.h"
#include "ui/SettingWindowController.h"

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
    if (shot.isNull() || shot.width() < 100 || shot.height() < 100)
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
        SettingWindowController::sharedInstance().showPanel(2);
        return qobject_cast<PrivacyViewController *>(SettingWindowController::sharedInstance().currentViewController());
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        Utils::setAdvancePrivacy(true); // so that the privacy pane shows its edit button
        SettingWindowController::sharedInstance().showWindow();
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
        SettingWindowController &window = SettingWindowController::sharedInstance();
        window.showPanel(pane);
        QVERIFY(saveShot(&window, QStringLiteral("settings-") + QString::fromLatin1(QTest::currentDataTag())));
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
        Utils::setAdvancePrivacy(false);
        PrivacyViewController *privacy = privacyPane();
        QVERIFY(privacy);
        privacy->advancePrivacyButton()->click();
        QMessageBox *sheet = nullptr;
        QTRY_VERIFY((sheet = SettingWindowController::sharedInstance().findChild<QMessageBox *>()) != nullptr);
        QVERIFY(saveShot(sheet, QStringLiteral("settings-advanced-sheet")));
        sheet->buttons().first()->click();
        QTRY_VERIFY(!Utils::isAdvancePrivacy());
    }
};

QUILLET_XVFB_TEST_MAIN(TestSettingsScreens)
#include "tst_settings_screens.moc"
