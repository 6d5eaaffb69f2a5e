// The settings window driven through its widgets: the general pane's hot keys, poll interval and
// history clearing, the privacy pane, the privacy script's editor and the about
// pane's home page (the account pane: tst_service_panes).
#include "SettingsTestHelpers.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "capture/ShortcutController.h"
#include "menu/ClipFixtures.h"
#include "platform/MemoryHotKeyRegistrar.h"
#include "plugins/AdvancePrivacyManager.h"
#include "plugins/PrivacyRules.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/PathHelper.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "support/Database.h"
#include "ui/AboutViewController.h"
#include "ui/PrivacyViewController.h"
#include "ui/ScriptEditWindowController.h"
#include "ui/ShortcutRecorder.h"

#include <QCheckBox>
#include <QDesktopServices>
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

} // namespace

class TestSettingsWindow final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_xdgConfig;
    UrlCatcher m_urls;
    MemoryHotKeyRegistrar m_hotKeys;
    MemoryHotKeyRegistrar m_historyHotKeys;
    ShortcutController m_shortcuts{testSettings()};
    ShortcutController m_historyShortcuts{testSettings(), ShortcutController::Role::History};
    AdvancePrivacyManager m_script{testSettings()};
    std::unique_ptr<SettingWindowController> m_window;

    GeneralViewController *generalPane() { return showPane<GeneralViewController>(*m_window, 0); }
    PrivacyViewController *privacyPane() { return showPane<PrivacyViewController>(*m_window, 2); }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_xdgConfig.path()));
        for (const QString &scheme : {u"http"_s, u"https"_s, u"file"_s})
            QDesktopServices::setUrlHandler(scheme, &m_urls, "openUrl");
        m_shortcuts.start(m_hotKeys, [] {});
        m_historyShortcuts.start(m_historyHotKeys, [] {});
        m_window = std::make_unique<SettingWindowController>(
            SettingsServices{&testSync(), &m_shortcuts, &m_script, &m_historyShortcuts});
        m_window->showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanupTestCase()
    {
        for (const QString &scheme : {u"http"_s, u"https"_s, u"file"_s})
            QDesktopServices::unsetUrlHandler(scheme);
        m_shortcuts.stop();
        m_historyShortcuts.stop();
        m_window.reset();
    }

    // Anything but a web address, which the desktop would open as a local file or program,
    // opens the built-in home page instead.
    void homePageIsOnlyAWebPage()
    {
        const QString key = QLatin1String(SettingsKeys::homepage);
        for (const QString &page : {u"http://127.0.0.1:8888/quillet/"_s, u"file:///tmp/evil.desktop"_s}) {
            ClipUserDefaults::setValue(key, page);
            clickNamed(showPane<AboutViewController>(*m_window, 3), "homepageButton");
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
        QCOMPARE(m_hotKeys.registered(), std::vector<KeyCombination>{recorded});
        QCOMPARE(ShortcutController::storedShortcut(), std::optional<KeyCombination>(recorded));

        record(generalPane()->historyShortcutView(), Qt::Key_J, Qt::ControlModifier | Qt::AltModifier);
        const KeyCombination history{38, KeyCombination::Control | KeyCombination::Option};
        QCOMPARE(m_historyHotKeys.registered(), std::vector<KeyCombination>{history});
        QCOMPARE(m_hotKeys.registered(), std::vector<KeyCombination>{recorded});

        clickNamed<QToolButton>(generalPane()->shortcutView(), "shortcutClearButton");
        QVERIFY(m_hotKeys.registered().empty());
        QVERIFY(ShortcutController::isShortcutOff());
        QCOMPARE(m_historyHotKeys.registered(), std::vector<KeyCombination>{history});
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
        QVERIFY(confirmClear(*m_window));
        QVERIFY(answerAlert(u"清空失败"_s, u"知道了"_s));
        QVERIFY(other.exec("COMMIT"));
        QCOMPARE(storedRowCount(), 3);

        click(generalPane()->clearButton());
        QVERIFY(answerAlert(u"清空历史纪录?"_s, u"取消"_s));
        QTRY_VERIFY(!anyAlertOpen());
        QCOMPARE(storedRowCount(), 3);

        QVERIFY(confirmClear(*m_window));
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
        QVERIFY(!Settings::advancePrivacy());
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
        QCOMPARE(m_script.saveOptionFrom(u"text"_s, QString(), u"top secret"_s), 1);
        QTRY_VERIFY(!privacy->controllerWindow());

        click(privacy->editScriptButton());
        privacy->controllerWindow()->textEditView()->setPlainText(u"function main() return 1 end"_s);
        clickNamed(privacy->controllerWindow(), "cancelButton");
        QTRY_VERIFY(!privacy->controllerWindow());
        QCOMPARE(m_script.scriptContent(), script);
        testSettings().setAdvancePrivacy(false);
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settings_window.moc"
