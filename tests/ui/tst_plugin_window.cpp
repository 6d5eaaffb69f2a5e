// The plugin window driven through its widgets, against the real quillet-sync-server whose store
// folder holds packages built by quillet-pack-plugin: the store tab, "添加" with its overlay, a
// package added from a file, removing, automatic updates when the window opens, the last list
// without a network, help and the guide. A plugin added from the store then transforms a clip
// chosen from the real status menu.
#include "PackageBuilder.h"
#include "ServerHarness.h"
#include "StoreFixture.h"
#include "TestDirs.h"
#include "menu/ClipFixtures.h"
#include "menu/RecordingPasteboard.h"

#include "menu/MenuController.h"
#include "menu/PluginMenuSource.h"
#include "platform/ClipAppHelper.h"
#include "platform/MemoryKeyInjector.h"
#include "plugins/PluginManager.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"
#include "sync/PluginStoreList.h"
#include "ui/PluginWindowController.h"
#include "ui/ProgressOverlay.h"

#include <QAction>
#include <QFileDialog>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

namespace {

PluginWindowController &window()
{
    return PluginWindowController::sharedInstance();
}

QStringList column(QTableWidget *table, int column = 0)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, column) ? table->item(row, column)->text() : QString());
    return texts;
}

QStringList storeNames()
{
    return column(window().storeTableView());
}

QStringList installedNames()
{
    return column(window().tableView());
}

QPushButton *storeAddButton(const QString &name)
{
    const int row = int(storeNames().indexOf(name));
    if (row < 0)
        return nullptr;
    QWidget *cell = window().storeTableView()->cellWidget(row, 4);
    return cell ? cell->findChild<QPushButton *>() : nullptr;
}

void selectInstalled(const QString &name)
{
    window().tableView()->selectRow(int(installedNames().indexOf(name)));
}

} // namespace

class TestPluginWindow final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ServerHarness m_server;
    std::unique_ptr<StoreFixture> m_store;
    QTemporaryDir m_files;
    RecordingPasteboard m_pasteboard;
    MemoryKeyInjector m_injector;
    QList<QUrl> m_opened;

    void useService() { qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8()); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        useService();
        m_store = std::make_unique<StoreFixture>(m_server.dataDir() + QStringLiteral("/plugins"));
        QVERIFY(m_store->publish(QStringLiteral("shout"), "org.example.shout", "1.0", "SHOUT:"));
        QVERIFY(m_store->publish(QStringLiteral("whisper"), "org.example.whisper", "1.2", "psst:"));
        ClipAppHelper::sharedInstance().setDelegate([this](const QUrl &url) { m_opened << url; });
    }

    // Opening shows the shipped plugins and a store of the plugins not installed; a store entry
    // under a shipped plugin's bundle id never shows.
    void opensWithInstalledAndStore()
    {
        const PluginManager::PluginDict shipped = PluginManager::sharedInstance().listPlugins();
        QVERIFY(m_store->publish(QStringLiteral("impostor"), shipped.firstKey().toUtf8(), "99", "x:"));
        window().showWindow();
        QTRY_COMPARE(storeNames(), (QStringList{QStringLiteral("shout"), QStringLiteral("whisper")}));
        QCOMPARE(installedNames().size(), shipped.size());
        QVERIFY(installedNames().contains(shipped.first().plugin_name()));
        QCOMPARE(window().storeTableView()->item(0, 1)->text(), QStringLiteral("1.0"));
        QCOMPARE(window().storeTableView()->item(0, 3)->text(), QStringLiteral("store tests"));
        m_store->withdraw(QStringLiteral("impostor"));
    }

    // "添加" covers the window with "添加中..." until the plugin is in; it then leaves the store
    // and transforms a clip chosen from the status menu.
    void addFromStoreThenUseFromTheMenu()
    {
        QPushButton *add = storeAddButton(QStringLiteral("shout"));
        QVERIFY(add);
        QCOMPARE(add->text(), QStringLiteral("添加"));
        add->click();
        QVERIFY(window().overlay());
        QCOMPARE(window().overlay()->text(), QStringLiteral("添加中..."));
        QTRY_VERIFY_WITH_TIMEOUT(!window().overlay(), 20000);
        QVERIFY(installedNames().contains(QStringLiteral("shout")));
        QCOMPARE(storeNames(), QStringList{QStringLiteral("whisper")});

        MenuController &menus = MenuController::sharedInstance();
        menus.setPlatform({&m_pasteboard, &m_injector, nullptr});
        menus.setPluginSource(pluginMenuSource());
        ClipFixtures::text(QStringLiteral("quiet words"), 10);
        menus.buildMenu();
        QMenu *clipMenu = menus.mainMenu()->actions().at(1)->menu();
        QVERIFY(clipMenu);
        Q_EMIT clipMenu->aboutToShow();
        QAction *shout = nullptr;
        for (QAction *item : clipMenu->actions()) {
            if (item->text() == QLatin1String("shout"))
                shout = item;
        }
        QVERIFY(shout);
        shout->trigger();
        QTRY_COMPARE(m_injector.pasteCount(), 1);
        QCOMPARE(m_pasteboard.string(), std::optional<QString>(QStringLiteral("SHOUT:quiet words")));
    }

    // A package chosen in the open panel ("选择") is installed.
    void addFromFile()
    {
        QVERIFY(PackageBuilder::writeZip(m_files.filePath(QStringLiteral("local.cpk")),
                                         PackageBuilder::pluginEntries("local.cplugin", "org.example.local",
                                                                       "local",
                                                                       "function main(t) return t end")));
        window().tabView()->setCurrentIndex(PluginWindowController::InstalledTab);
        window().addButton()->click();
        QFileDialog *panel = window().openPanel();
        QVERIFY(panel);
        QCOMPARE(panel->labelText(QFileDialog::Accept), QStringLiteral("选择"));
        QCOMPARE(panel->fileMode(), QFileDialog::ExistingFile);
        panel->selectFile(m_files.filePath(QStringLiteral("local.cpk")));
        QMetaObject::invokeMethod(panel, "accept");
        QTRY_VERIFY(installedNames().contains(QStringLiteral("local")));
    }

    // Remove does nothing without a selection and cannot remove a shipped plugin; a selected
    // user plugin goes and returns to the store when the store offers it.
    void remove()
    {
        window().tableView()->clearSelection();
        const QStringList before = installedNames();
        window().removeClicked();
        QCoreApplication::processEvents();
        QCOMPARE(installedNames(), before);

        const PluginObject shipped = PluginManager::sharedInstance().listPlugins().value(
            QStringLiteral("org.quillet.plugin.uppercase"));
        QVERIFY(!shipped.plugin_name().isEmpty());
        selectInstalled(shipped.plugin_name());
        QVERIFY(!window().tableView()->selectedItems().isEmpty());
        QVERIFY(!window().removeButton()->isEnabled());

        selectInstalled(QStringLiteral("shout"));
        QVERIFY(window().removeButton()->isEnabled());
        window().removeButton()->click();
        QTRY_VERIFY(!installedNames().contains(QStringLiteral("shout")));
        QVERIFY(storeNames().contains(QStringLiteral("shout")));
        QCOMPARE(installedNames().size(), before.size() - 1);
    }

    // Opening the window with the store at a larger version updates without a click.
    void updatesWhenOpened()
    {
        storeAddButton(QStringLiteral("whisper"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(installedNames().contains(QStringLiteral("whisper")), 20000);
        QTRY_VERIFY(!window().overlay());
        QVERIFY(m_store->publish(QStringLiteral("whisper"), "org.example.whisper", "1.10", "PSST:"));
        window().showWindow();
        const auto version = [] {
            return PluginManager::sharedInstance()
                .listUserPlugins()
                .value(QStringLiteral("org.example.whisper"))
                .plugin_version();
        };
        QTRY_COMPARE_WITH_TIMEOUT(version(), QStringLiteral("1.10"), 20000);
        QTRY_COMPARE(
            window().tableView()->item(int(installedNames().indexOf(QStringLiteral("whisper"))), 1)->text(),
            QStringLiteral("1.10"));
    }

    // Without the service the store shows the last list.
    void lastListWithoutNetwork()
    {
        QVERIFY(m_store->publish(QStringLiteral("later"), "org.example.later", "0.1", "later:"));
        window().showWindow();
        QTRY_VERIFY_WITH_TIMEOUT(storeNames().contains(QStringLiteral("later")), 20000);
        const QStringList before = storeNames();
        m_server.killService();
        window().showWindow();
        window().reloadStoreTableView();
        QCOMPARE(storeNames(), before);
        QVERIFY(m_server.restartService());
        useService();
    }

    // Help opens the service's developer page when it is a web page, else the default; the
    // guide opens the PDF built with the program.
    void helpAndGuide()
    {
        m_opened.clear();
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::developerPage),
                                   QStringLiteral("https://dev.example.org/plugins"));
        window().helpButton()->click();
        QTRY_COMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("https://dev.example.org/plugins"))});
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::developerPage),
                                   QStringLiteral("file:///etc/passwd"));
        window().helpButton()->click();
        QTRY_COMPARE(m_opened.size(), 2);
        QCOMPARE(m_opened.last(), QUrl(QString::fromLatin1(SettingsDefaults::developerPage)));

        window().gettingStartButton()->click();
        QTRY_COMPARE(m_opened.size(), 3);
        QVERIFY(m_opened.last().isLocalFile());
        QFile guide(m_opened.last().toLocalFile());
        QVERIFY(guide.open(QIODevice::ReadOnly));
        QVERIFY(guide.read(5) == "%PDF-");
    }
};

QTEST_MAIN(TestPluginWindow)
#include "tst_plugin_window.moc"
