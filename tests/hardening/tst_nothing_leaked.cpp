// What must not leak out of the history: shared copies of image clips, texts the keyword rules
// should have marked secret, and keystrokes a damaged settings file would take away. Real store,
// settings file, status menu and privacy pane (offscreen).

#include "TestDirs.h"
#include "TestSync.h"
#include "menu/ClipFixtures.h"
#include "ui/SettingsTestHelpers.h"

#include "capture/ShortcutController.h"
#include "menu/MenuController.h"
#include "platform/MemoryHotKeyRegistrar.h"
#include "platform/MemorySharingServices.h"
#include "plugins/AdvancePrivacyManager.h"
#include "plugins/PrivacyRules.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/PathHelper.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "ui/PrivacyViewController.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTableWidget>
#include <QTest>

using namespace Qt::StringLiterals;

class TestNothingLeaked final : public QObject
{
    Q_OBJECT

private:
    static ConfigureManager &configure() { return testAccount(); }

    static void clearCustomKeyWords()
    {
        while (!configure().customKeyWords().isEmpty())
            configure().removeKeyWordAtIndex(0);
    }

    // Replaces the settings file by this text, as a damaged file would read.
    void writeSettings(const QByteArray &text)
    {
        QFile file(ClipUserDefaults::settingsPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

    TestDirs m_dirs;
    MemorySharingServices m_sharing{{ShareService{u"mail"_s, u"邮件"_s, {}}}};

private slots:
    void sharedImageCopiesGoWithTheirClip()
    {
        MenuController menus(testSync());
        menus.actions().setPlatform({nullptr, nullptr, &m_sharing});
        const auto sharedPath = [this] { return m_sharing.performed().last().second.filePath; };

        // Deleting the clip removes the decoded copy that was handed to the sharing service.
        const HistoryModel deleted = ClipFixtures::image(ClipFixtures::encodedImage("TIFF"), 10);
        menus.actions().shareClicked(m_sharing.servicesFor(ShareKind::File).first(), deleted);
        const QString copy = sharedPath();
        QVERIFY(QImage(copy).size() == QSize(16, 8));
        QCOMPARE(QFileInfo(copy).permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFileDevice::Permissions());
        QVERIFY(copy.startsWith(QDir(m_dirs.dataPath()).canonicalPath())
                || copy.startsWith(m_dirs.dataPath()));
        menus.actions().deleteClip(deleted);
        QVERIFY(!QFileInfo::exists(copy));

        // So does signing out, which wipes the local history.
        const HistoryModel kept = ClipFixtures::image(ClipFixtures::encodedImage("PNG", Qt::blue), 11);
        menus.actions().shareClicked(m_sharing.servicesFor(ShareKind::File).first(), kept);
        QVERIFY(QFileInfo::exists(sharedPath()));
        configure().userLogoutProcess();
        QVERIFY(!QFileInfo::exists(sharedPath()));
        // Nothing decoded is left anywhere outside the clips' own files.
        QVERIFY(QDir(PathHelper::getTmpDir()).isEmpty());
    }

    void aKeywordThatIsNoPatternNeverSwitchesPrivacyOff()
    {
        clearCustomKeyWords();
        testSettings().setAnalyseSecret(true);
        QVERIFY(configure().addNewWord(u"工资"_s));
        QVERIFY(configure().addNewWord(u"("_s)); // a stored list that does not compile as a whole
        QVERIFY(!PrivacyRules::isValidKeyword(u"("_s));
        QVERIFY(PrivacyRules::isSecret(u"我的密码是123"_s, testAccount())); // built in
        QVERIFY(PrivacyRules::isSecret(u"My PASSWORD"_s, testAccount())); // built in, any case
        QVERIFY(PrivacyRules::isSecret(u"本月工资单"_s, testAccount())); // the user's valid keyword
        QVERIFY(!PrivacyRules::isSecret(u"an ordinary (text)"_s, testAccount()));
        clearCustomKeyWords();

        // The pane refuses such a keyword with a message and keeps the old word.
        QVERIFY(configure().addNewWord(u"暗号"_s));
        AdvancePrivacyManager script{testSettings()};
        PrivacyViewController pane(script, testAccount());
        pane.show();
        auto *table = pane.findChild<QTableWidget *>(u"tableView"_s);
        QVERIFY(table && table->rowCount() == 1);
        table->item(0, 0)->setText(u"a(b"_s);
        QMessageBox *alert = SettingsTestHelpers::waitForAlert(u"关键字无效"_s);
        QVERIFY(alert);
        QVERIFY(alert->informativeText().contains(u"a(b"_s));
        SettingsTestHelpers::alertButton(alert, u"知道了"_s)->click();
        QCOMPARE(configure().customKeyWords(), QStringList{u"暗号"_s});
        QTRY_COMPARE(table->item(0, 0)->text(), u"暗号"_s);

        // A valid pattern is taken as it is typed.
        table->item(0, 0)->setText(u"a\\(b"_s);
        QCOMPARE(configure().customKeyWords(), QStringList{u"a\\(b"_s});
        QVERIFY(PrivacyRules::isSecret(u"xa(by"_s, testAccount()));
        clearCustomKeyWords();
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

        writeSettings("[General]\nkeyCode=9\nmodifierFlags=zz\n");
        shortcut.start(registrar, [] {});
        QCOMPARE(registrar.registered(), std::vector<KeyCombination>{fallback});

        // A readable combination without Command, Control or Option is never registered,
        // Shift alone included; nor is one set from the settings window.
        writeSettings("[General]\nkeyCode=0\nmodifierFlags=0\n");
        shortcut.start(registrar, [] {});
        QVERIFY(registrar.registered().empty());
        writeSettings("[General]\nkeyCode=0\nmodifierFlags=131072\n");
        shortcut.start(registrar, [] {});
        QVERIFY(registrar.registered().empty());
        shortcut.setShortcut(KeyCombination{8, KeyCombination::Control});
        QCOMPARE(registrar.registered(),
                 std::vector<KeyCombination>{(KeyCombination{8, KeyCombination::Control})});
        shortcut.stop();
    }
};

QTEST_MAIN(TestNothingLeaked)
#include "tst_nothing_leaked.moc"
