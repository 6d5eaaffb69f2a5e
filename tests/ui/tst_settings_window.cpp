// The settings window driven through its widgets: sidebar and panes, the general pane's
// shortcut, autostart, poll interval and history clearing, the privacy pane, the privacy
// script's editor, the account pane's two forms and the about pane.
#include "SettingsTestHelpers.h"
#include "TestDirs.h"
#include "app/ClipController.h"
#include "app/NMLoginItems.h"
#include "app/ShortcutController.h"
#include "platform/MemoryHotKeyRegistrar.h"
#include "plugins/AdvancePrivacyManager.h"
#include "plugins/ScriptEditWindowController.h"
#include "store/ClipFileManager.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "support/NotificationCenter.h"
#include "support/Notifications.h"
#include "ui/AboutViewController.h"
#include "ui/ClearHistoryFlow.h"
#include "ui/GeneralViewController.h"
#include "ui/PrivacyViewController.h"
#include "ui/ProgressOverlay.h"
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
#include <QSlider>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

using namespace SettingsTestHelpers;

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
    ClipFileManager::sharedInstance().saveData(hash.toUtf8(), hash);
}

// Clicks the box's indicator, as a user does; its middle may lie beyond its text.
void clickBox(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

qsizetype rowCount()
{
    return DBKeeper::getAllHistory().size() + DBKeeper::getAllFavourites().size();
}

} // namespace

// Receives the URLs the panes open instead of a browser.
class UrlCatcher final : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void openUrl(const QUrl &url) { urls << url; }
};

class TestSettingsWindow final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_xdgConfig;
    UrlCatcher m_urls;
    MemoryHotKeyRegistrar m_hotKeys;
    std::unique_ptr<ShortcutController> m_shortcuts;
    int m_dataChanged = 0;

    static SettingWindowController &window() { return SettingWindowController::sharedInstance(); }

    template<typename Pane>
    Pane *showPane(int index)
    {
        window().showPanel(index);
        return qobject_cast<Pane *>(window().currentViewController());
    }

    // Clicks the button of the alert with this message once it is open.
    static bool answerAlert(const QString &message, const QString &button)
    {
        QMessageBox *box = nullptr;
        [&] { QTRY_VERIFY_WITH_TIMEOUT((box = openAlert(message)) != nullptr, 10000); }();
        if (!box)
            return false;
        QAbstractButton *target = alertButton(box, button);
        if (!target)
            return false;
        target->click();
        return true;
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_xdgConfig.path()));
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_urls, "openUrl");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_urls, "openUrl");
        m_shortcuts = std::make_unique<ShortcutController>(m_hotKeys, [] {});
        NotificationCenter::sharedInstance().addObserver(key(Notifications::DATA_CHANGED), this,
                                                         [this](const QVariant &) { ++m_dataChanged; });
        window().showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&window()));
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        window().hide();
        m_shortcuts.reset();
    }

    void sidebarShowsFourRowsAndAFreshPaneEachTime()
    {
        SettingSideBar *sideBar = window().sideBar();
        QCOMPARE(sideBar->count(), 4);
        QStringList titles;
        for (int row = 0; row < sideBar->count(); ++row) {
            titles << sideBar->button(row)->text();
            QVERIFY(!sideBar->button(row)->icon().isNull());
        }
        QCOMPARE(titles, (QStringList{QStringLiteral("常规"), QStringLiteral("用户"), QStringLiteral("隐私"),
                                      QStringLiteral("关于")}));

        QTest::mouseClick(sideBar->button(2), Qt::LeftButton);
        QCOMPARE(sideBar->selectedRow(), 2);
        QPointer<QWidget> privacy = qobject_cast<PrivacyViewController *>(window().currentViewController());
        QVERIFY(privacy);
        QCOMPARE(privacy->parentWidget(), window().panelView());

        QTest::mouseClick(sideBar->button(2), Qt::LeftButton);
        QVERIFY(window().currentViewController() != privacy.data());
        QTRY_VERIFY(!privacy); // the replaced pane goes

        QVERIFY(showPane<AboutViewController>(3));
        QCOMPARE(sideBar->selectedRow(), 3);
        window().showPanel(4);
        window().showPanel(-1);
        QCOMPARE(sideBar->selectedRow(), 3);
        QVERIFY(qobject_cast<AboutViewController *>(window().currentViewController()));
        QVERIFY(showPane<GeneralViewController>(0));
    }

    void aboutPaneShowsVersionAndOpensTheHomePage()
    {
        ClipUserDefaults::remove(key(SettingsKeys::homepage));
        auto *about = showPane<AboutViewController>(3);
        QVERIFY(about);
        QCOMPARE(about->versionLable()->text(), QStringLiteral("Quillet ") + Utils::appVersion());

        m_urls.urls.clear();
        QTest::mouseClick(about->findChild<QPushButton *>(QStringLiteral("homepageButton")), Qt::LeftButton);
        QCOMPARE(m_urls.urls, QList<QUrl>{QUrl(QString::fromLatin1(SettingsDefaults::homepage))});

        ClipUserDefaults::setValue(key(SettingsKeys::homepage), QStringLiteral("http://127.0.0.1:8888/quillet/"));
        about = showPane<AboutViewController>(3);
        QTest::mouseClick(about->findChild<QPushButton *>(QStringLiteral("homepageButton")), Qt::LeftButton);
        QCOMPARE(m_urls.urls.last(), QUrl(QStringLiteral("http://127.0.0.1:8888/quillet/")));

        // An empty page counts as none; so does anything but a web address, which the desktop
        // would open as a local file or program.
        const QUrl fallback(QString::fromLatin1(SettingsDefaults::homepage));
        for (const QString &page : {QString(), QStringLiteral("file:///tmp/evil.desktop"),
                                    QStringLiteral("/usr/bin/xterm"), QStringLiteral("smb://host/share")}) {
            ClipUserDefaults::setValue(key(SettingsKeys::homepage), page);
            QCOMPARE(AboutViewController::homepage(), fallback);
        }
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_urls, "openUrl");
        about = showPane<AboutViewController>(3);
        QTest::mouseClick(about->findChild<QPushButton *>(QStringLiteral("homepageButton")), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(m_urls.urls.last(), fallback);
    }

    void sliderMarksStoreTheIntervalAndRestartTheMonitor()
    {
        ClipController &monitor = ClipController::sharedInstance();
        ClipUserDefaults::setValue(key(SettingsKeys::CLIP_MONITOR_SPEED), 0.1);
        auto *general = showPane<GeneralViewController>(0);
        QVERIFY(general);
        QCOMPARE(general->speedSlider()->value(), 0);
        QCOMPARE(general->speedLabel()->text(), QStringLiteral("0.1"));

        general->speedSlider()->setFocus();
        QTest::keyClick(general->speedSlider(), Qt::Key_Right);
        QTest::keyClick(general->speedSlider(), Qt::Key_Right);
        QCOMPARE(general->speedSlider()->value(), 40);
        QCOMPARE(ClipUserDefaults::doubleValue(key(SettingsKeys::CLIP_MONITOR_SPEED), 0), 0.3);
        QCOMPARE(general->speedLabel()->text(), QStringLiteral("0.3"));
        QCOMPARE(monitor.pollInterval(), 300);

        // A position between two marks snaps to the nearer one.
        general->speedSlider()->setValue(67);
        QCOMPARE(general->speedSlider()->value(), 60);
        QCOMPARE(ClipUserDefaults::doubleValue(key(SettingsKeys::CLIP_MONITOR_SPEED), 0), 0.4);
        QCOMPARE(monitor.pollInterval(), 400);

        QTest::keyClick(general->speedSlider(), Qt::Key_End);
        QCOMPARE(ClipUserDefaults::doubleValue(key(SettingsKeys::CLIP_MONITOR_SPEED), 0), 0.6);
        QCOMPARE(monitor.pollInterval(), 600);
    }

    void anIntervalBetweenTheMarksLeavesTheSliderAlone()
    {
        ClipUserDefaults::setValue(key(SettingsKeys::CLIP_MONITOR_SPEED), 0.25);
        auto *general = showPane<GeneralViewController>(0);
        QCOMPARE(general->speedSlider()->value(), GeneralViewController::kRestingSliderPosition);
        QCOMPARE(general->speedLabel()->text(), QStringLiteral("0.25"));
        // Showing the pane stores nothing.
        QCOMPARE(ClipUserDefaults::doubleValue(key(SettingsKeys::CLIP_MONITOR_SPEED), 0), 0.25);
        ClipUserDefaults::remove(key(SettingsKeys::CLIP_MONITOR_SPEED));
        general = showPane<GeneralViewController>(0);
        QCOMPARE(general->speedSlider()->value(), 100);
        QCOMPARE(general->speedLabel()->text(), QStringLiteral("0.6"));
    }

    void shortcutRecorderReplacesAndSwitchesOffTheHotKey()
    {
        m_shortcuts->setShortcut(ShortcutController::defaultShortcut());
        auto *general = showPane<GeneralViewController>(0);
        ShortcutRecorder *recorder = general->shortcutView();
        QCOMPARE(recorder->text(), QStringLiteral("Shift+Super+V"));

        auto *field = recorder->findChild<QPushButton *>(QStringLiteral("shortcutField"));
        QTest::mouseClick(field, Qt::LeftButton);
        QVERIFY(recorder->isRecording());
        // A plain letter would take a typing key away; it is not recorded.
        QTest::keyClick(field, Qt::Key_K);
        QVERIFY(recorder->isRecording());
        QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(!recorder->isRecording());
        const KeyCombination recorded{40, KeyCombination::Control | KeyCombination::Option};
        QCOMPARE(m_shortcuts->shortcut(), std::optional<KeyCombination>(recorded));
        QCOMPARE(m_hotKeys.registered(), std::vector<KeyCombination>{recorded});
        QCOMPARE(ClipUserDefaults::intValue(key(SettingsKeys::keyCode), 0), 40);
        QCOMPARE(recorder->text(), QStringLiteral("Ctrl+Alt+K"));

        // Escape ends recording without a change; Shift+1 is the key of "1".
        QTest::mouseClick(field, Qt::LeftButton);
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!recorder->isRecording());
        QCOMPARE(m_shortcuts->shortcut(), std::optional<KeyCombination>(recorded));
        QTest::mouseClick(field, Qt::LeftButton);
        QTest::keyClick(field, Qt::Key_Exclam, Qt::MetaModifier | Qt::ShiftModifier);
        QCOMPARE(m_shortcuts->shortcut()->keyCode, 18u);

        QTest::mouseClick(recorder->findChild<QToolButton *>(QStringLiteral("shortcutClearButton")), Qt::LeftButton);
        QVERIFY(!m_shortcuts->shortcut());
        QVERIFY(m_hotKeys.registered().empty());
        QVERIFY(ShortcutController::isShortcutOff());
        QVERIFY(!showPane<GeneralViewController>(0)->shortcutView()->shortcut());
        m_shortcuts->setShortcut(ShortcutController::defaultShortcut());
    }

    void startAtLoginFollowsTheCheckbox()
    {
        const QString program = QCoreApplication::applicationFilePath();
        NMLoginItems::removePathFromLoginItems(program);
        auto *general = showPane<GeneralViewController>(0);
        QVERIFY(!general->startupButton()->isChecked());
        clickBox(general->startupButton());
        QVERIFY(NMLoginItems::pathInLoginItems(program));
        QVERIFY(showPane<GeneralViewController>(0)->startupButton()->isChecked());
        clickBox(showPane<GeneralViewController>(0)->startupButton());
        QVERIFY(!NMLoginItems::pathInLoginItems(program));
    }

    void clearingWhileSignedOutCountsRowsAndSparesFavourites()
    {
        QVERIFY(!ConfigureManager::sharedInstance().isLogined());
        DBKeeper::removeAllData();
        addClip(QStringLiteral("aaaa"), Category::history, 0);
        addClip(QStringLiteral("bbbb"), Category::history, 0);
        addClip(QStringLiteral("cccc"), Category::history, -5); // unmarked favourite: goes too
        addClip(QStringLiteral("ffff"), Category::history, 1700000000);
        addClip(QStringLiteral("ffff"), Category::favourite, 1700000000);

        // Cancelling changes nothing.
        auto *general = showPane<GeneralViewController>(0);
        QTest::mouseClick(general->clearButton(), Qt::LeftButton);
        QMessageBox *sheet = nullptr;
        QTRY_VERIFY((sheet = openAlert(QStringLiteral("清空历史纪录?"))) != nullptr);
        QCOMPARE(sheet->informativeText(), QStringLiteral("点击清空将会删除您的所有历史纪录(除收藏外)"));
        QCOMPARE(alertButtonTitles(sheet), (QStringList{QStringLiteral("清空历史纪录"), QStringLiteral("取消")}));
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->parentWidget(), &window());
        alertButton(sheet, QStringLiteral("取消"))->click();
        QTRY_VERIFY(!openAlert(QStringLiteral("清空历史纪录?")));
        QCOMPARE(rowCount(), 5);

        const int changesBefore = m_dataChanged;
        QTest::mouseClick(general->clearButton(), Qt::LeftButton);
        QVERIFY(answerAlert(QStringLiteral("清空历史纪录?"), QStringLiteral("清空历史纪录")));
        QVERIFY(answerAlert(QStringLiteral("共清空了：3条"), QStringLiteral("知道了")));
        QCOMPARE(m_dataChanged, changesBefore + 1);
        QTRY_VERIFY(!window().findChild<QWidget *>(QStringLiteral("progressOverlay")));

        QCOMPARE(DBKeeper::getAllHistory().size(), 1);
        QCOMPARE(DBKeeper::getAllFavourites().size(), 1);
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(QStringLiteral("aaaa"))));
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(QStringLiteral("cccc"))));
        QVERIFY(QFile::exists(PathHelper::getBaseFilePath(QStringLiteral("ffff"))));
    }

    void clearingWhileSignedInWaitsForTheService()
    {
        DBKeeper::removeAllData();
        addClip(QStringLiteral("aaaa"), Category::history, 0);
        ConfigureManager::sharedInstance().setLoginUserEmail(QStringLiteral("me@example.org"));
        ConfigureManager::sharedInstance().setLoginUserToken(QStringLiteral("token"));

        // No service to ask: the clear fails and the history stays.
        ClearHistoryFlow::setServiceClear({});
        auto *general = showPane<GeneralViewController>(0);
        QTest::mouseClick(general->clearButton(), Qt::LeftButton);
        QVERIFY(answerAlert(QStringLiteral("清空历史纪录?"), QStringLiteral("清空历史纪录")));
        QVERIFY(answerAlert(QStringLiteral("清空失败"), QStringLiteral("知道了")));
        QCOMPARE(rowCount(), 1);

        // A refusal leaves the history too.
        ClearHistoryFlow::setServiceClear([](QObject *, auto done) { done(std::nullopt); });
        QTest::mouseClick(showPane<GeneralViewController>(0)->clearButton(), Qt::LeftButton);
        QVERIFY(answerAlert(QStringLiteral("清空历史纪录?"), QStringLiteral("清空历史纪录")));
        QVERIFY(answerAlert(QStringLiteral("清空失败"), QStringLiteral("知道了")));
        QCOMPARE(rowCount(), 1);

        // Confirmed: while the service works the overlay covers the window; then the local rows
        // go and the service's count is reported.
        std::function<void(std::optional<qint64>)> pending;
        ClearHistoryFlow::setServiceClear([&pending](QObject *, auto done) { pending = std::move(done); });
        QTest::mouseClick(showPane<GeneralViewController>(0)->clearButton(), Qt::LeftButton);
        QVERIFY(answerAlert(QStringLiteral("清空历史纪录?"), QStringLiteral("清空历史纪录")));
        QTRY_VERIFY(pending);
        ProgressOverlay *overlay = nullptr;
        const QList<ProgressOverlay *> overlays = window().findChildren<ProgressOverlay *>();
        for (ProgressOverlay *candidate : overlays) {
            if (candidate->isVisible())
                overlay = candidate;
        }
        QVERIFY(overlay);
        QCOMPARE(overlay->text(), QStringLiteral("删除中..."));
        QCOMPARE(overlay->geometry(), window().rect());
        QCOMPARE(rowCount(), 1);
        pending(qint64(42));
        QVERIFY(answerAlert(QStringLiteral("共清空了：42条"), QStringLiteral("知道了")));
        QTRY_VERIFY(!window().findChild<ProgressOverlay *>(QStringLiteral("progressOverlay")));
        QCOMPARE(rowCount(), 0);
        ClearHistoryFlow::setServiceClear({});
    }

    void accountPaneFollowsSignInAndSignOut()
    {
        ConfigureManager::sharedInstance().setLoginUserEmail(QStringLiteral("me@example.org"));
        ConfigureManager::sharedInstance().setLoginUserToken(QStringLiteral("token"));
        auto *info = showPane<UserInfoViewController>(1);
        QVERIFY(info);
        QCOMPARE(info->userName()->text(), QStringLiteral("当前用户：me@example.org"));
        addClip(QStringLiteral("dddd"), Category::history, 0);

        QTest::mouseClick(info->logoutButton(), Qt::LeftButton);
        QTRY_VERIFY(qobject_cast<UserloginViewController *>(window().currentViewController()));
        QCOMPARE(window().sideBar()->selectedRow(), 1);
        QCOMPARE(rowCount(), 0);

        auto *login = qobject_cast<UserloginViewController *>(window().currentViewController());
        QCOMPARE(login->selectPopUpButton()->currentIndex(), 0);
        login->nameField()->setText(QStringLiteral("me@example.org"));
        login->pwdField()->setText(QStringLiteral("secret"));
        login->nameField()->setFocus();
        QTest::keyClick(login->nameField(), Qt::Key_Tab);
        QCOMPARE(login->pwdField()->selectedText(), QStringLiteral("secret"));
        QTest::keyClick(login->pwdField(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(login->nameField()->selectedText(), QStringLiteral("me@example.org"));

        // Signing in elsewhere (the menu, the service) switches the open pane.
        ConfigureManager::sharedInstance().setLoginUserToken(QStringLiteral("token"));
        QTRY_VERIFY(qobject_cast<UserInfoViewController *>(window().currentViewController()));
        ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
        QTRY_VERIFY(qobject_cast<UserloginViewController *>(window().currentViewController()));
    }

    void keywordsAreAddedEditedAndRemovedUpToTheLimit()
    {
        ConfigureManager &configure = ConfigureManager::sharedInstance();
        while (!configure.customKeyWords().isEmpty())
            configure.removeKeyWordAtIndex(0);
        auto *privacy = showPane<PrivacyViewController>(2);
        QCOMPARE(privacy->sysKeyWordsTableView()->rowCount(), 10);
        QCOMPARE(privacy->sysKeyWordsTableView()->item(0, 0)->text(), QStringLiteral("密码"));
        QCOMPARE(privacy->sysKeyWordsTableView()->editTriggers(), QAbstractItemView::NoEditTriggers);

        QTest::mouseClick(privacy->addButton(), Qt::LeftButton);
        QTableWidget *table = privacy->tableView();
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(configure.customKeyWords(), QStringList{QStringLiteral("新关键字")});
        // The new row is open for editing: typing replaces the placeholder.
        QTRY_VERIFY(table->focusWidget() && qobject_cast<QLineEdit *>(table->focusWidget()));
        auto *editor = qobject_cast<QLineEdit *>(table->focusWidget());
        editor->selectAll();
        QTest::keyClicks(editor, QStringLiteral("salary"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(configure.customKeyWords(), QStringList{QStringLiteral("salary")});
        QVERIFY(Utils::isSecret(QStringLiteral("my Salary slip")));

        // Emptying a cell keeps the old word.
        table->item(0, 0)->setText(QString());
        QTRY_COMPARE(table->item(0, 0)->text(), QStringLiteral("salary"));
        QCOMPARE(configure.customKeyWords(), QStringList{QStringLiteral("salary")});

        // Remove needs a selection.
        table->clearSelection();
        QTest::mouseClick(privacy->removeButton(), Qt::LeftButton);
        QCOMPARE(configure.customKeyWords().size(), 1);
        table->selectRow(0);
        QTest::mouseClick(privacy->removeButton(), Qt::LeftButton);
        QVERIFY(configure.customKeyWords().isEmpty());
        QCOMPARE(table->rowCount(), 0);

        for (int i = 0; i < 25; ++i)
            QVERIFY(configure.addNewWord(QStringLiteral("word%1").arg(i)));
        privacy = showPane<PrivacyViewController>(2);
        QCOMPARE(privacy->tableView()->rowCount(), 25);
        QTest::mouseClick(privacy->addButton(), Qt::LeftButton);
        QMessageBox *sheet = nullptr;
        QTRY_VERIFY((sheet = openAlert(QStringLiteral("超过最大数量"))) != nullptr);
        QCOMPARE(sheet->informativeText(), QStringLiteral("关键字最多可以添加25"));
        QCOMPARE(alertButtonTitles(sheet), QStringList{QStringLiteral("知道了")});
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        alertButton(sheet, QStringLiteral("知道了"))->click();
        QCOMPARE(configure.customKeyWords().size(), 25);
        QCOMPARE(ClipUserDefaults::stringList(key(SettingsKeys::userKeyWords)).size(), 25);
        QCOMPARE(privacy->tableView()->rowCount(), 25);
        while (!configure.customKeyWords().isEmpty())
            configure.removeKeyWordAtIndex(0);
    }

    void switchesWriteAtEachClick()
    {
        Utils::setAnalySecert(true);
        Utils::setFileAsSecert(true);
        auto *privacy = showPane<PrivacyViewController>(2);
        QVERIFY(privacy->analySecertButton()->isChecked());
        clickBox(privacy->analySecertButton());
        QVERIFY(!Utils::isNeedAnalyseSecert());
        clickBox(privacy->fileAsSecertButton());
        QVERIFY(!Utils::isFileAsSecert());
        clickBox(privacy->fileAsSecertButton());
        QVERIFY(Utils::isFileAsSecert());
        privacy = showPane<PrivacyViewController>(2);
        QVERIFY(!privacy->analySecertButton()->isChecked());
        QVERIFY(privacy->fileAsSecertButton()->isChecked());
        Utils::setAnalySecert(true);
    }

    void advancedModeAsksFirst()
    {
        Utils::setAdvancePrivacy(false);
        auto *privacy = showPane<PrivacyViewController>(2);
        QVERIFY(privacy->editScriptButton()->isHidden());

        clickBox(privacy->advancePrivacyButton());
        QMessageBox *sheet = nullptr;
        QTRY_VERIFY((sheet = openAlert(QStringLiteral("确认开启高级隐私模式?"))) != nullptr);
        QCOMPARE(sheet->informativeText(),
                 QStringLiteral("高级隐私模式需要lua编程或有编程基础的用户，开启后简单的关键字识别将不再使用，请谨慎选择."));
        QCOMPARE(alertButtonTitles(sheet), (QStringList{QStringLiteral("取消"), QStringLiteral("开启")}));
        alertButton(sheet, QStringLiteral("取消"))->click();
        QTRY_VERIFY(!privacy->advancePrivacyButton()->isChecked());
        QVERIFY(!Utils::isAdvancePrivacy());
        QVERIFY(privacy->editScriptButton()->isHidden());

        clickBox(privacy->advancePrivacyButton());
        QVERIFY(answerAlert(QStringLiteral("确认开启高级隐私模式?"), QStringLiteral("开启")));
        QTRY_VERIFY(Utils::isAdvancePrivacy());
        QVERIFY(privacy->advancePrivacyButton()->isChecked());
        QVERIFY(!privacy->editScriptButton()->isHidden());
        QVERIFY(!showPane<PrivacyViewController>(2)->editScriptButton()->isHidden());

        privacy = qobject_cast<PrivacyViewController *>(window().currentViewController());
        clickBox(privacy->advancePrivacyButton());
        QVERIFY(!Utils::isAdvancePrivacy());
        QVERIFY(privacy->editScriptButton()->isHidden());
    }

    void scriptEditorTestsRevertsAndSavesOnlyAPassingScript()
    {
        ClipUserDefaults::remove(key(SettingsKeys::privacy_script));
        Utils::setAdvancePrivacy(true);
        AdvancePrivacyManager &manager = AdvancePrivacyManager::sharedInstance();
        auto *privacy = showPane<PrivacyViewController>(2);
        QTest::mouseClick(privacy->editScriptButton(), Qt::LeftButton);
        ScriptEditWindowController *editor = privacy->controllerWindow();
        QVERIFY(editor);
        QTRY_VERIFY(editor->isVisible());
        QCOMPARE(editor->windowModality(), Qt::WindowModal);
        QCOMPARE(editor->luaLabel()->text(), QStringLiteral("lua:502"));
        QVERIFY(editor->errorLabelView()->text().isEmpty());
        QCOMPARE(editor->textEditView()->toPlainText(), *AdvancePrivacyManager::defaultScript());

        // Test: an empty text and a broken one name their fault; nothing is stored.
        editor->textEditView()->clear();
        QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("testButton")), Qt::LeftButton);
        QCOMPARE(editor->errorLabelView()->text(), QStringLiteral("不能为空!"));
        editor->textEditView()->setFocus();
        QTest::keyClicks(editor->textEditView(), QStringLiteral("x = 1"));
        QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("testButton")), Qt::LeftButton);
        QVERIFY(!editor->errorLabelView()->text().isEmpty()); // no main to call

        // Done with a failing script: the alert, the editor stays, nothing is stored.
        QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("doneButton")), Qt::LeftButton);
        QMessageBox *alert = nullptr;
        QTRY_VERIFY((alert = openAlert(QStringLiteral("错啦!"))) != nullptr);
        QVERIFY(alert->informativeText().startsWith(QStringLiteral("不能正确运行! 这里有问题:")));
        QVERIFY(alert->informativeText().endsWith(QStringLiteral("\n可以再改改，或者点击取消!")));
        QCOMPARE(alert->parentWidget(), editor);
        QCOMPARE(alertButtonTitles(alert), QStringList{QStringLiteral("我再改改")});
        alertButton(alert, QStringLiteral("我再改改"))->click();
        QTRY_VERIFY(!openAlert(QStringLiteral("错啦!")));
        QVERIFY(editor->isVisible());
        QVERIFY(!ClipUserDefaults::contains(key(SettingsKeys::privacy_script)));

        // Revert brings back the built-in script.
        QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("revertButton")), Qt::LeftButton);
        QCOMPARE(editor->textEditView()->toPlainText(), *AdvancePrivacyManager::defaultScript());

        // Done with a passing script stores it and the live state answers with it.
        const QString script = QStringLiteral("function main(from, ext, content)\n"
                                              "  if content == 'top secret' then return 1 end\n"
                                              "  return 0\nend\n");
        editor->textEditView()->setPlainText(script);
        QSignalSpy finished(editor, &QDialog::finished);
        QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("doneButton")), Qt::LeftButton);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toInt(), 1);
        QCOMPARE(ClipUserDefaults::stringValue(key(SettingsKeys::privacy_script)), std::optional<QString>(script));
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("top secret")), 1);
        QTRY_VERIFY(!privacy->controllerWindow());

        // Cancel stores nothing.
        QTest::mouseClick(privacy->editScriptButton(), Qt::LeftButton);
        editor = privacy->controllerWindow();
        QVERIFY(editor);
        QCOMPARE(editor->textEditView()->toPlainText(), script);
        editor->textEditView()->setPlainText(QStringLiteral("function main() return 1 end"));
        QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("cancelButton")), Qt::LeftButton);
        QTRY_VERIFY(!privacy->controllerWindow());
        QCOMPARE(manager.scriptContent(), script);
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("hello")), 0);
        Utils::setAdvancePrivacy(false);
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settings_window.moc"
