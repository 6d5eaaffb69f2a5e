// The settings window driven through its widgets: sidebar and panes, the general pane's
// shortcut, autostart, poll interval and history clearing, the privacy pane, the privacy
// script's editor and the about pane (the account pane: tst_account_pane).
#include "SettingsTestHelpers.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "capture/ShortcutController.h"
#include "platform/MemoryHotKeyRegistrar.h"
#include "platform/NMLoginItems.h"
#include "plugins/AdvancePrivacyManager.h"
#include "plugins/PrivacyRules.h"
#include "store/ClipFileManager.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "support/Database.h"
#include "ui/AboutViewController.h"
#include "ui/ClearHistoryFlow.h"
#include "ui/GeneralViewController.h"
#include "ui/PrivacyViewController.h"
#include "ui/ProgressOverlay.h"
#include "ui/ScriptEditWindowController.h"
#include "ui/SettingSideBar.h"
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
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

using namespace SettingsTestHelpers;
using namespace Qt::StringLiterals;

namespace {

QString key(const char *name)
{
    return QLatin1String(name);
}

void addClip(const QString &hash, const QString &category, qint64 favourite)
{
    HistoryModel clip;
    clip.content = hash;
    clip.file_hash = hash;
    clip.timestamp = 1700000000;
    clip.category = category;
    clip.favourite = favourite;
    clip.save();
    testFiles().saveData(hash.toUtf8(), hash);
}

void click(QWidget *widget)
{
    QTest::mouseClick(widget, Qt::LeftButton);
}

// Clicks the named button inside parent.
template<typename Button = QPushButton> void clickNamed(QObject *parent, const char *name)
{
    click(parent->findChild<Button *>(QLatin1String(name)));
}

// Clicks the box's indicator, as a user does; its middle may lie beyond its text.
void clickBox(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

void removeAllKeywords()
{
    while (!testAccount().customKeyWords().isEmpty())
        testAccount().removeKeyWordAtIndex(0);
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
    int m_dataChanged = 0;
    // The window with the services the program gives it.
    ShortcutController m_shortcuts{testSettings()};
    ShortcutController m_historyShortcuts{testSettings(), ShortcutController::Role::History};
    AdvancePrivacyManager m_script{testSettings()};
    std::unique_ptr<SettingWindowController> m_window;

    SettingWindowController &window() { return *m_window; }
    ShortcutController &shortcuts() { return m_shortcuts; }

    GeneralViewController *generalPane() { return showPane<GeneralViewController>(window(), 0); }
    PrivacyViewController *privacyPane() { return showPane<PrivacyViewController>(window(), 2); }

    // Opens a fresh about pane and clicks its home-page button.
    QUrl openedHomepage()
    {
        clickNamed(showPane<AboutViewController>(window(), 3), "homepageButton");
        return m_urls.urls.value(m_urls.urls.size() - 1);
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_xdgConfig.path()));
        QDesktopServices::setUrlHandler(u"http"_s, &m_urls, "openUrl");
        QDesktopServices::setUrlHandler(u"https"_s, &m_urls, "openUrl");
        shortcuts().start(m_hotKeys, [] {});
        m_historyShortcuts.start(m_historyHotKeys, [] {});
        m_window = std::make_unique<SettingWindowController>(
            SettingsServices{&testSync(), &m_shortcuts, &m_script, &m_historyShortcuts});
        connect(&testStore(), &HistoryStore::changed, this, [this] { ++m_dataChanged; });
        window().showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&window()));
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(u"http"_s);
        QDesktopServices::unsetUrlHandler(u"https"_s);
        window().hide();
        shortcuts().stop();
        m_historyShortcuts.stop();
        m_window.reset();
    }

    void sidebarShowsFourRowsAndAFreshPaneEachTime()
    {
        SettingSideBar *sideBar = window().sideBar();
        QCOMPARE(sideBar->count(), 4);
        click(sideBar->button(2));
        QCOMPARE(sideBar->selectedRow(), 2);
        QPointer<QWidget> privacy = qobject_cast<PrivacyViewController *>(window().currentViewController());
        QVERIFY(privacy);
        QCOMPARE(privacy->parentWidget(), window().panelView());
        click(sideBar->button(2));
        QVERIFY(window().currentViewController() != privacy.data());
        QTRY_VERIFY(!privacy); // the replaced pane goes

        // Rows out of range leave the shown pane.
        QVERIFY(showPane<AboutViewController>(window(), 3));
        window().showPanel(4);
        window().showPanel(-1);
        QCOMPARE(sideBar->selectedRow(), 3);
        QVERIFY(qobject_cast<AboutViewController *>(window().currentViewController()));
    }

    void aboutPaneShowsVersionAndOpensTheHomePage()
    {
        ClipUserDefaults::remove(key(SettingsKeys::homepage));
        auto *about = showPane<AboutViewController>(window(), 3);
        QVERIFY(about);
        QCOMPARE(about->versionLabel()->text(), u"Quillet "_s + Utils::appVersion());
        m_urls.urls.clear();
        const QUrl fallback(QString::fromLatin1(SettingsDefaults::homepage));
        QCOMPARE(openedHomepage(), fallback);
        ClipUserDefaults::setValue(key(SettingsKeys::homepage), u"http://127.0.0.1:8888/quillet/"_s);
        QCOMPARE(openedHomepage(), QUrl(u"http://127.0.0.1:8888/quillet/"_s));

        // An empty page counts as none; so does anything but a web address, which the desktop
        // would open as a local file or program.
        for (const QString &page :
             {QString(), u"file:///tmp/evil.desktop"_s, u"/usr/bin/xterm"_s, u"smb://host/share"_s}) {
            ClipUserDefaults::setValue(key(SettingsKeys::homepage), page);
            QCOMPARE(AboutViewController::homepage(), fallback);
        }
        QDesktopServices::setUrlHandler(u"file"_s, &m_urls, "openUrl");
        const QUrl opened = openedHomepage();
        QDesktopServices::unsetUrlHandler(u"file"_s);
        QCOMPARE(opened, fallback);
        QCOMPARE(m_urls.urls.size(), 3); // one page per click
    }

    void sliderShowsTheIntervalStoresItsMarksAndRestartsTheMonitor()
    {
        const QString speedKey = key(SettingsKeys::CLIP_MONITOR_SPEED);
        // A stored interval between the marks leaves the slider at rest; none stored shows 0.6.
        // Showing the pane stores nothing.
        struct Shown {
            double stored;
            int position;
            const char *label;
        };
        for (const Shown &shown : {Shown{0.25, GeneralViewController::kRestingSliderPosition, "0.25"},
                                   Shown{0, 100, "0.6"}, Shown{0.1, 0, "0.1"}}) {
            if (shown.stored > 0)
                ClipUserDefaults::setValue(speedKey, shown.stored);
            else
                ClipUserDefaults::remove(speedKey);
            GeneralViewController *pane = generalPane();
            QCOMPARE(pane->speedSlider()->value(), shown.position);
            QCOMPARE(pane->speedLabel()->text(), QLatin1String(shown.label));
            QCOMPARE(ClipUserDefaults::doubleValue(speedKey, 0), shown.stored);
        }

        // Whoever follows the interval (the capture, in the program) learns of each change.
        QSignalSpy changes(&testSettings(), &Settings::changed);
        GeneralViewController *pane = generalPane();
        QSlider *slider = pane->speedSlider();
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Right);
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(slider->value(), 40);
        QCOMPARE(ClipUserDefaults::doubleValue(speedKey, 0), 0.3);
        QCOMPARE(pane->speedLabel()->text(), u"0.3"_s);
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes.last().first().value<Settings::Key>(), Settings::Key::PollInterval);

        // A position between two marks snaps to the nearer one.
        slider->setValue(67);
        QCOMPARE(slider->value(), 60);
        QCOMPARE(ClipUserDefaults::doubleValue(speedKey, 0), 0.4);

        QTest::keyClick(slider, Qt::Key_End);
        QCOMPARE(ClipUserDefaults::doubleValue(speedKey, 0), 0.6);
    }

    void shortcutRecorderReplacesAndSwitchesOffTheHotKey()
    {
        shortcuts().setShortcut(ShortcutController::defaultShortcut());
        ShortcutRecorder *recorder = generalPane()->shortcutView();
        QCOMPARE(recorder->text(), u"Shift+Super+V"_s);

        auto *field = recorder->findChild<QPushButton *>(u"shortcutField"_s);
        click(field);
        QVERIFY(recorder->isRecording());
        // A plain letter would take a typing key away; it is not recorded.
        QTest::keyClick(field, Qt::Key_K);
        QVERIFY(recorder->isRecording());
        QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(!recorder->isRecording());
        const KeyCombination recorded{40, KeyCombination::Control | KeyCombination::Option};
        QCOMPARE(m_hotKeys.registered(), std::vector<KeyCombination>{recorded});
        QCOMPARE(ClipUserDefaults::intValue(key(SettingsKeys::keyCode), 0), 40);
        QCOMPARE(recorder->text(), u"Ctrl+Alt+K"_s);

        // Escape ends recording without a change; Shift+1 is the key of "1".
        click(field);
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!recorder->isRecording());
        QCOMPARE(shortcuts().shortcut(), std::optional<KeyCombination>(recorded));
        click(field);
        QTest::keyClick(field, Qt::Key_Exclam, Qt::MetaModifier | Qt::ShiftModifier);
        QCOMPARE(shortcuts().shortcut()->keyCode, 18u);

        clickNamed<QToolButton>(recorder, "shortcutClearButton");
        QVERIFY(m_hotKeys.registered().empty());
        QVERIFY(ShortcutController::isShortcutOff());
        QVERIFY(!generalPane()->shortcutView()->shortcut());
        shortcuts().setShortcut(ShortcutController::defaultShortcut());
    }

    // The history window has a hot key of its own, Super+Shift+H at first, recorded and
    // switched off beside the menu's without touching it.
    void historyHotKeyIsSeparate()
    {
        const KeyCombination historyDefault{4, KeyCombination::Command | KeyCombination::Shift};
        QCOMPARE(m_historyHotKeys.registered(), std::vector<KeyCombination>{historyDefault});
        QCOMPARE(m_hotKeys.registered(), std::vector<KeyCombination>{ShortcutController::defaultShortcut()});
        ShortcutRecorder *recorder = generalPane()->historyShortcutView();
        auto *field = recorder->findChild<QPushButton *>(u"shortcutField"_s);
        click(field);
        QTest::keyClick(field, Qt::Key_J, Qt::ControlModifier | Qt::AltModifier);
        const KeyCombination recorded{38, KeyCombination::Control | KeyCombination::Option};
        QCOMPARE(m_historyHotKeys.registered(), std::vector<KeyCombination>{recorded});
        QCOMPARE(ShortcutController::storedShortcut(ShortcutController::Role::History),
                 std::optional<KeyCombination>(recorded));
        QCOMPARE(m_hotKeys.registered(), std::vector<KeyCombination>{ShortcutController::defaultShortcut()});

        clickNamed<QToolButton>(recorder, "shortcutClearButton");
        QVERIFY(m_historyHotKeys.registered().empty());
        QVERIFY(ShortcutController::isShortcutOff(ShortcutController::Role::History));
        QVERIFY(!ShortcutController::isShortcutOff());
        m_historyShortcuts.setShortcut(historyDefault);
    }

    void startAtLoginFollowsTheCheckbox()
    {
        const QString program = QCoreApplication::applicationFilePath();
        NMLoginItems::removePathFromLoginItems(program);
        QVERIFY(!generalPane()->startupButton()->isChecked());
        clickBox(generalPane()->startupButton());
        QVERIFY(NMLoginItems::pathInLoginItems(program));
        QVERIFY(generalPane()->startupButton()->isChecked());
        clickBox(generalPane()->startupButton());
        QVERIFY(!NMLoginItems::pathInLoginItems(program));
    }

    void clearingWhileSignedOutCountsRowsAndSparesFavourites()
    {
        QVERIFY(!testAccount().isSignedIn());
        DBKeeper::removeAllData();
        addClip(u"aaaa"_s, Category::history, 0);
        addClip(u"bbbb"_s, Category::history, 0);
        addClip(u"cccc"_s, Category::history, -5); // unmarked favourite: goes too
        addClip(u"ffff"_s, Category::history, 1700000000);
        addClip(u"ffff"_s, Category::favourite, 1700000000);

        // Cancelling changes nothing.
        click(generalPane()->clearButton());
        QMessageBox *sheet = waitForAlert(u"清空历史纪录?"_s);
        QVERIFY(sheet);
        alertButton(sheet, u"取消"_s)->click();
        QTRY_VERIFY(!openAlert(u"清空历史纪录?"_s));
        QCOMPARE(storedRowCount(), 5);

        const int changesBefore = m_dataChanged;
        QVERIFY(confirmClear(window()));
        QVERIFY(answerAlert(u"共清空了：3条"_s, u"知道了"_s));
        QCOMPARE(m_dataChanged, changesBefore + 1);
        QTRY_VERIFY(!window().findChild<QWidget *>(u"progressOverlay"_s));
        QCOMPARE(DBKeeper::getAllHistory().size(), 1);
        QCOMPARE(DBKeeper::getAllFavourites().size(), 1);
        for (const QString &gone : {u"aaaa"_s, u"cccc"_s})
            QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(gone)));
        QVERIFY(QFile::exists(PathHelper::getBaseFilePath(u"ffff"_s)));
    }

    // Another program holds the database's write lock longer than a write waits: the clear
    // says it failed, and every row stays.
    void clearingABusyDatabaseFailsVisibly()
    {
        DBKeeper::removeAllData();
        addClip(u"aaaa"_s, Category::history, 0);
        addClip(u"bbbb"_s, Category::history, 0);
        Database other(PathHelper::getBaseAppLibraryPath(u"clipDB.sqlite"_s));
        QVERIFY(other.exec("BEGIN IMMEDIATE"));
        QVERIFY(confirmClear(window()));
        QVERIFY(answerAlert(u"清空失败"_s, u"知道了"_s));
        QVERIFY(other.exec("COMMIT"));
        QCOMPARE(storedRowCount(), 2);
        QVERIFY(QFile::exists(PathHelper::getBaseFilePath(u"aaaa"_s)));
    }

    void keywordsAreAddedEditedAndRemoved()
    {
        ConfigureManager &configure = testAccount();
        removeAllKeywords();
        auto *privacy = privacyPane();
        QCOMPARE(privacy->sysKeyWordsTableView()->editTriggers(), QAbstractItemView::NoEditTriggers);

        click(privacy->addButton());
        QTableWidget *table = privacy->tableView();
        QCOMPARE(configure.customKeyWords(), QStringList{u"新关键字"_s});
        // The new row is open for editing: typing replaces the placeholder.
        QLineEdit *editor = nullptr;
        QTRY_VERIFY((editor = qobject_cast<QLineEdit *>(table->focusWidget())) != nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, u"salary"_s);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(configure.customKeyWords(), QStringList{u"salary"_s});
        QVERIFY(PrivacyRules::isSecret(u"my Salary slip"_s, testAccount()));

        // Remove needs a selection.
        table->clearSelection();
        click(privacy->removeButton());
        QCOMPARE(configure.customKeyWords().size(), 1);
        table->selectRow(0);
        click(privacy->removeButton());
        QVERIFY(configure.customKeyWords().isEmpty());
        QCOMPARE(table->rowCount(), 0);

        // The limit and the edits' rules are ConfigureManager's (tst_privacy).
    }

    void switchesWriteAtEachClick()
    {
        testSettings().setAnalyseSecret(true);
        testSettings().setFileAsSecret(true);
        auto *privacy = privacyPane();
        clickBox(privacy->analyseSecretButton());
        QVERIFY(!Settings::analyseSecret());
        clickBox(privacy->fileAsSecretButton());
        QVERIFY(!Settings::fileAsSecret());
        clickBox(privacy->fileAsSecretButton());
        QVERIFY(Settings::fileAsSecret());
        privacy = privacyPane();
        QVERIFY(!privacy->analyseSecretButton()->isChecked());
        QVERIFY(privacy->fileAsSecretButton()->isChecked());
        testSettings().setAnalyseSecret(true);
    }

    void advancedModeAsksFirst()
    {
        testSettings().setAdvancePrivacy(false);
        auto *privacy = privacyPane();
        QVERIFY(privacy->editScriptButton()->isHidden());

        clickBox(privacy->advancePrivacyButton());
        QMessageBox *sheet = waitForAlert(u"确认开启高级隐私模式?"_s);
        QVERIFY(sheet);
        alertButton(sheet, u"取消"_s)->click();
        QTRY_VERIFY(!privacy->advancePrivacyButton()->isChecked());
        QVERIFY(!Settings::advancePrivacy());
        QVERIFY(privacy->editScriptButton()->isHidden());

        clickBox(privacy->advancePrivacyButton());
        QVERIFY(answerAlert(u"确认开启高级隐私模式?"_s, u"开启"_s));
        QTRY_VERIFY(Settings::advancePrivacy());
        QVERIFY(!privacy->editScriptButton()->isHidden());
        privacy = privacyPane();
        QVERIFY(!privacy->editScriptButton()->isHidden());
        clickBox(privacy->advancePrivacyButton()); // switching off asks nothing
        QVERIFY(!Settings::advancePrivacy());
        QVERIFY(privacy->editScriptButton()->isHidden());
    }

    void scriptEditorTestsRevertsAndSavesOnlyAPassingScript()
    {
        ClipUserDefaults::remove(key(SettingsKeys::privacy_script));
        testSettings().setAdvancePrivacy(true);
        AdvancePrivacyManager &manager = m_script;
        auto *privacy = privacyPane();
        click(privacy->editScriptButton());
        ScriptEditWindowController *editor = privacy->controllerWindow();
        QVERIFY(editor);
        QTRY_VERIFY(editor->isVisible());
        QCOMPARE(editor->textEditView()->toPlainText(), *AdvancePrivacyManager::defaultScript());

        // Test: an empty text and a broken one name their fault; nothing is stored.
        editor->textEditView()->clear();
        clickNamed(editor, "testButton");
        QCOMPARE(editor->errorLabelView()->text(), u"不能为空!"_s);
        editor->textEditView()->setFocus();
        QTest::keyClicks(editor->textEditView(), u"x = 1"_s);
        clickNamed(editor, "testButton");
        QVERIFY(!editor->errorLabelView()->text().isEmpty()); // no main to call

        // Done with a failing script: the alert, the editor stays, nothing is stored.
        clickNamed(editor, "doneButton");
        QMessageBox *alert = waitForAlert(u"错啦!"_s);
        QVERIFY(alert);
        alertButton(alert, u"我再改改"_s)->click();
        QTRY_VERIFY(!openAlert(u"错啦!"_s));
        QVERIFY(editor->isVisible());
        QVERIFY(!ClipUserDefaults::contains(key(SettingsKeys::privacy_script)));

        // Revert brings back the built-in script.
        clickNamed(editor, "revertButton");
        QCOMPARE(editor->textEditView()->toPlainText(), *AdvancePrivacyManager::defaultScript());

        // Done with a passing script stores it and the live state answers with it.
        const QString script = u"function main(from, ext, content)\n"
                               "  if content == 'top secret' then return 1 end\n"
                               "  return 0\nend\n"_s;
        editor->textEditView()->setPlainText(script);
        QSignalSpy finished(editor, &QDialog::finished);
        clickNamed(editor, "doneButton");
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toInt(), 1);
        QCOMPARE(ClipUserDefaults::stringValue(key(SettingsKeys::privacy_script)),
                 std::optional<QString>(script));
        QCOMPARE(manager.saveOptionFrom(u"text"_s, QString(), u"top secret"_s), 1);
        QTRY_VERIFY(!privacy->controllerWindow());

        // Cancel stores nothing.
        click(privacy->editScriptButton());
        editor = privacy->controllerWindow();
        QVERIFY(editor);
        QCOMPARE(editor->textEditView()->toPlainText(), script);
        editor->textEditView()->setPlainText(u"function main() return 1 end"_s);
        clickNamed(editor, "cancelButton");
        QTRY_VERIFY(!privacy->controllerWindow());
        QCOMPARE(manager.scriptContent(), script);
        QCOMPARE(manager.saveOptionFrom(u"text"_s, QString(), u"hello"_s), 0);
        testSettings().setAdvancePrivacy(false);
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settings_window.moc"
