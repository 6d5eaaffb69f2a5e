// Screenshots of every pane of the settings window and of the script editor, taken from a
// real X server (a private Xvfb) and saved as PNG files in the build folder for review.
#include "TestDirs.h"
#include "XvfbServer.h"
#include "plugins/ScriptEditWindowController.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "ui/PrivacyViewController.h"
#include "ui/SettingWindowController.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include <memory>

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
        QTest::newRow("general") << 0;
        QTest::newRow("account") << 1;
        QTest::newRow("privacy") << 2;
        QTest::newRow("about") << 3;
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
        SettingWindowController &window = SettingWindowController::sharedInstance();
        window.showPanel(2);
        auto *privacy = qobject_cast<PrivacyViewController *>(window.currentViewController());
        QVERIFY(privacy);
        QTest::mouseClick(privacy->editScriptButton(), Qt::LeftButton);
        QVERIFY(privacy->controllerWindow());
        QVERIFY(saveShot(privacy->controllerWindow(), QStringLiteral("settings-script-editor")));
        privacy->controllerWindow()->cancelClicked();
    }

    void advancedModeSheet()
    {
        SettingWindowController &window = SettingWindowController::sharedInstance();
        Utils::setAdvancePrivacy(false);
        window.showPanel(2);
        auto *privacy = qobject_cast<PrivacyViewController *>(window.currentViewController());
        QVERIFY(privacy);
        privacy->advancePrivacyButton()->click();
        QMessageBox *sheet = nullptr;
        QTRY_VERIFY((sheet = window.findChild<QMessageBox *>()) != nullptr);
        QVERIFY(saveShot(sheet, QStringLiteral("settings-advanced-sheet")));
        sheet->buttons().first()->click();
        QTRY_VERIFY(!Utils::isAdvancePrivacy());
    }
};

int main(int argc, char *argv[])
{
    // The X server must be up before the application connects to it.
    XvfbServer xvfb;
    if (!xvfb.start()) {
        qWarning("Xvfb is not available");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 0;
    {
        QApplication app(argc, argv);
        TestSettingsScreens test;
        result = QTest::qExec(&test, argc, argv);
    }
    return result;
}

#include "tst_settings_screens.moc"
