// What a user sees: the paste keystroke a terminal gets (in a private X server), the interface's
// language and saved file names; and what must not leak out of the history:
// shared copies of image clips, and keystrokes a damaged settings file would take away. The real
// store, settings file and status menu.

#include "TestDirs.h"
#include "X11TestMain.h"
#include "menu/ClipFixtures.h"

#include "capture/ClipActions.h"
#include "capture/ShortcutController.h"
#include "menu/MenuController.h"
#include "platform/MemoryHotKeyRegistrar.h"
#include "platform/MemorySharingServices.h"
#include "platform/X11KeyInjector.h"
#include "store/ClipUserDefaults.h"
#include "store/PathHelper.h"
#include "store/SettingsKeys.h"
#include "ui/InterfaceLanguage.h"

#include <QDateTime>
#include <QDir>
#include <QKeyEvent>

using namespace Qt::StringLiterals;

namespace {

// A window that records the key presses it receives.
class KeyRecorder final : public QWidget
{
public:
    KeyRecorder() { setFocusPolicy(Qt::StrongFocus); }
    QList<QKeyCombination> pressed;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_V)
            pressed << event->keyCombination();
    }
};

} // namespace

class TestWhatUserSees final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_downloads;
    MemorySharingServices m_sharing{{ShareService{u"mail"_s, u"邮件"_s, {}}}};

    // Replaces the settings file by this text, as a damaged file would read.
    static void writeSettings(const QByteArray &text)
    {
        QFile file(ClipUserDefaults::settingsPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

private Q_SLOTS:
    // A terminal emulator, known by its window class, gets Control+Shift+V; other windows
    // Control+V. The list of classes is a settings key.
    void terminalsGetControlShiftV()
    {
        KeyRecorder window;
        QVERIFY(X11Test::showFocused(window));
        X11KeyInjector injector;
        const QString key = QLatin1String(SettingsKeys::terminalClasses);

        // This test's window class is its program name; listed, it counts as a terminal.
        ClipUserDefaults::setValue(key,
                                   QStringList{u"xterm"_s, QCoreApplication::applicationName().toUpper()});
        ClipActions::paste(injector);
        QTRY_COMPARE_WITH_TIMEOUT(window.pressed.size(), 1, 10000);
        QCOMPARE(window.pressed.last(), QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_V));

        ClipUserDefaults::setValue(key, QStringList{u"konsole"_s});
        ClipActions::paste(injector);
        QTRY_COMPARE_WITH_TIMEOUT(window.pressed.size(), 2, 10000);
        QCOMPARE(window.pressed.last(), QKeyCombination(Qt::ControlModifier, Qt::Key_V));
    }

    // The interface speaks English unless the locale's language is Chinese or the user chose
    // a language (the program under an English locale: tst_tray_e2e).
    void interfaceFollowsLanguage()
    {
        QVERIFY(!InterfaceLanguage::isChinese(Settings::Language::System, QLocale(u"de_DE"_s)));
        QVERIFY(InterfaceLanguage::isChinese(Settings::Language::System, QLocale(u"zh_TW"_s)));
        QVERIFY(!InterfaceLanguage::isChinese(Settings::Language::English, QLocale(u"zh_CN"_s)));
    }

    // A second save of an image never overwrites the first.
    void savedImagesKeepEachOther()
    {
        QVERIFY(InterfaceLanguage::apply(Settings::Language::Chinese)); // the names checked here
        MenuController menus(testSync());
        menus.actions().setDownloadsFolder(m_downloads.path());
        menus.actions().setDownloadNotice([](const QString &) {});
        const qint64 copied = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)).toSecsSinceEpoch();
        const HistoryModel clip = ClipFixtures::image(ClipFixtures::encodedImage("TIFF"), copied);
        menus.actions().save(clip);
        menus.actions().save(clip);
        QVERIFY(QFileInfo::exists(m_downloads.filePath(u"图片 2026-03-04 05.06.07.jpg"_s)));
        QVERIFY(QFileInfo::exists(m_downloads.filePath(u"图片 2026-03-04 05.06.07 (2).jpg"_s)));
    }

    // What must not leak out of the history.
    void sharedImageCopiesGoWithTheirClip()
    {
        MenuController menus(testSync());
        menus.actions().setPlatform({nullptr, nullptr, &m_sharing});
        const auto sharedPath = [this] { return m_sharing.performed().last().second.filePath; };

        // Deleting the clip removes the decoded copy that was handed to the sharing service.
        const HistoryModel deleted = ClipFixtures::image(ClipFixtures::encodedImage("TIFF"), 10);
        menus.actions().shareClicked(m_sharing.servicesFor(ShareKind::File).first(), deleted);
        const QString copy = sharedPath();
        QCOMPARE(QFileInfo(copy).permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFileDevice::Permissions());
        menus.actions().deleteClip(deleted);
        QVERIFY(!QFileInfo::exists(copy));

        // So does signing out, which wipes the local history.
        const HistoryModel kept = ClipFixtures::image(ClipFixtures::encodedImage("PNG", Qt::blue), 11);
        menus.actions().shareClicked(m_sharing.servicesFor(ShareKind::File).first(), kept);
        QVERIFY(QFileInfo::exists(sharedPath()));
        testAccount().userLogoutProcess();
        QVERIFY(!QFileInfo::exists(sharedPath()));
        // Nothing decoded is left anywhere outside the clips' own files.
        QVERIFY(QDir(PathHelper::getTmpDir()).isEmpty());
    }

    void aDamagedSettingsFileNeverTakesPlainKeys()
    {
        MemoryHotKeyRegistrar registrar;
        ShortcutController shortcut{testSettings()};
        const KeyCombination fallback = ShortcutController::defaultShortcut();

        // Values that do not parse count as absent: the default hot key, not plain "a" (code 0).
        writeSettings(
            "[General]\nkeyCode=abc\nmodifierFlags=1179648\nanalyseSecert=maybe\nfileAsSecert=nope\n");
        shortcut.start(registrar, [] {});
        QCOMPARE(registrar.registered(), std::vector<KeyCombination>{fallback});
        QVERIFY(Settings::analyseSecret());
        QVERIFY(Settings::fileAsSecret());

        // A readable combination without Command, Control or Option (Shift alone) is never
        // registered.
        writeSettings("[General]\nkeyCode=0\nmodifierFlags=131072\n");
        shortcut.start(registrar, [] {});
        QVERIFY(registrar.registered().empty());
        shortcut.stop();
    }
};

QUILLET_XVFB_TEST_MAIN(TestWhatUserSees)
#include "tst_what_user_sees.moc"
