// Screenshots of every window a user sees, from a private X server, saved as PNG files in the
// build folder for review: the settings panes in Chinese and English, the script editor, the
// plugin window's tabs and the history window. Each must show a drawn window, not a blank one.
#include "ClipFixtures.h"
#include "PackageBuilder.h"
#include "PluginParts.h"
#include "ScreenShot.h"
#include "SettingsTestHelpers.h"
#include "TestDirs.h"
#include "X11TestMain.h"
#include "store/DBKeeper.h"
#include "sync/PluginStoreList.h"
#include "ui/HistoryWindow.h"
#include "ui/InterfaceLanguage.h"
#include "ui/PrivacyViewController.h"
#include "ui/ScriptEditWindowController.h"

#include <QDateTime>
#include <QJsonObject>
#include <QListWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include <functional>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::function<QWidget *()>)

class TestScreens final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_files;

    // Shows the scene and answers the window to shoot.
    using Scene = std::function<QWidget *()>;

    static QWidget *settingsPane(int pane)
    {
        SettingWindowController &window = SettingsTestHelpers::sharedSettingsWindow();
        window.showWindow();
        window.showPanel(pane);
        return &window;
    }

    static QWidget *pluginTab(int tab)
    {
        PluginWindowController &window = pluginParts().window;
        window.showWindow();
        window.tabView()->setCurrentIndex(tab);
        return &window;
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), u"xcb"_s);
        testSettings().setAdvancePrivacy(true); // so that the privacy pane shows its edit button
        // The store tab from a cached list; the service's address leads nowhere.
        qputenv("QUILLET_API_URL", "http://127.0.0.1:9/api");
        const QString package = m_files.filePath(u"reverse.cpk"_s);
        QVERIFY(PackageBuilder::writeZip(
            package, PackageBuilder::pluginEntries("reverse.cplugin", "org.example.reverse", "倒序",
                                                   "function main(t) return t:reverse() end")));
        bool installed = false;
        pluginParts().plugins.installPlugin(QUrl::fromLocalFile(package), nullptr,
                                            [&](bool ok) { installed = ok; });
        QTRY_VERIFY(installed);
        const QJsonObject entry{{u"name"_s, u"Base64 编码"_s},
                                {u"desc"_s, u"把剪贴内容编码为 Base64"_s},
                                {u"version"_s, u"1.3"_s},
                                {u"author"_s, u"Quillet 示例"_s},
                                {u"bundle_id"_s, u"org.example.base64"_s}};
        QVERIFY(PluginStoreList::save(
            {{u"code"_s, 0},
             {u"plugin_url"_s, QJsonObject{{u"org.example.base64"_s, u"http://127.0.0.1:1/base64.cpk"_s}}},
             {u"plugin_dict"_s, QJsonObject{{u"a"_s, entry}}}}));
        pluginParts().window.reloadStoreTableView();
        // The history window's clips: many texts, an image and a favourite.
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (int i = 0; i < 20; ++i)
            ClipFixtures::text(u"ordinary clip %1"_s.arg(i), now - i);
        ClipFixtures::image(ClipFixtures::encodedImage("PNG", Qt::darkGreen), now + 50);
        ClipFixtures::text(u"A favourite clip"_s, now + 100);
        DBKeeper::setFavourite(1, DBKeeper::getAllHistory().value(0).hash());
    }

    void shows_data()
    {
        QTest::addColumn<Scene>("scene");
        const QStringList panes{u"general"_s, u"account"_s, u"privacy"_s, u"about"_s};
        for (int pane = 0; pane < panes.size(); ++pane)
            QTest::newRow(qPrintable(u"settings-"_s + panes[pane]))
                << Scene([pane] { return settingsPane(pane); });
        QTest::newRow("settings-script-editor") << Scene([] {
            settingsPane(2);
            auto *privacy = qobject_cast<PrivacyViewController *>(
                SettingsTestHelpers::sharedSettingsWindow().currentViewController());
            QTest::mouseClick(privacy->editScriptButton(), Qt::LeftButton);
            return static_cast<QWidget *>(privacy->controllerWindow());
        });
        QTest::newRow("plugins-installed")
            << Scene([] { return pluginTab(PluginWindowController::InstalledTab); });
        QTest::newRow("plugins-store") << Scene([] { return pluginTab(PluginWindowController::StoreTab); });
        // A window takes its texts when it is made: a second settings window, in English, kept
        // (as the program's) until the process ends.
        for (int pane = 0; pane < panes.size(); ++pane)
            QTest::newRow(qPrintable(u"settings-en-"_s + panes[pane])) << Scene([pane]() -> QWidget * {
                static SettingWindowController *window = nullptr;
                if (!window) {
                    (void)InterfaceLanguage::apply(Settings::Language::English);
                    window = new SettingWindowController(
                        SettingsServices{&testSync(), nullptr, new AdvancePrivacyManager(testSettings())});
                }
                window->showWindow();
                window->showPanel(pane);
                return window;
            });
        QTest::newRow("history-window") << Scene([]() -> QWidget * {
            auto *window = new HistoryWindow;
            window->showWindow();
            return window;
        });
    }

    void shows()
    {
        QFETCH(Scene, scene);
        QWidget *window = scene();
        QVERIFY(window);
        QVERIFY(saveWindowShot(window, QStringLiteral(QUILLET_SCREENSHOT_DIR),
                               QString::fromLatin1(QTest::currentDataTag())));
    }
};

QUILLET_XVFB_TEST_MAIN(TestScreens)
#include "tst_screens.moc"
