// The plugin window driven through its widgets, against the real quillet-sync-server whose store
// folder holds packages built by quillet-pack-plugin: the store tab, "添加" with its overlay, a
// package added from a file, removing, automatic updates when the window opens, the last list
// without a network, help and the guide. A plugin added from the store then transforms a clip
// chosen from the real status menu.
#include "PackageBuilder.h"
#include "PluginParts.h"
#include "ServerHarness.h"
#include "StoreFixture.h"
#include "TestDirs.h"
#include "TestFiles.h"
#include "TestSync.h"
#include "menu/ClipFixtures.h"
#include "menu/RecordingPasteboard.h"

#include "menu/MenuController.h"
#include "menu/PluginMenuSource.h"
#include "platform/MemoryKeyInjector.h"
#include "platform/UrlOpener.h"
#include "plugins/PluginManager.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"
#include "sync/ClipPluginPackageHelper.h"
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

using namespace Qt::StringLiterals;

namespace {

PluginWindowController &window()
{
    return pluginParts().window;
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

    void useService() { qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8()); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        useService();
        m_store = std::make_unique<StoreFixture>(m_server.dataDir() + u"/plugins"_s);
        QVERIFY(m_store->publish(u"shout"_s, "org.example.shout", "1.0", "SHOUT:"));
        QVERIFY(m_store->publish(u"whisper"_s, "org.example.whisper", "1.2", "psst:"));
    }

    // Opening shows the shipped plugins and a store of the plugins not installed; a store entry
    // under a shipped plugin's bundle id never shows.
    void opensWithInstalledAndStore()
    {
        const PluginManager::PluginDict shipped = pluginParts().plugins.listPlugins();
        QVERIFY(m_store->publish(u"impostor"_s, shipped.firstKey().toUtf8(), "99", "x:"));
        window().showWindow();
        QTRY_COMPARE(storeNames(), (QStringList{u"shout"_s, u"whisper"_s}));
        QCOMPARE(installedNames().size(), shipped.size());
        QVERIFY(installedNames().contains(shipped.first().plugin_name()));
        QCOMPARE(window().storeTableView()->item(0, 1)->text(), u"1.0"_s);
        QCOMPARE(window().storeTableView()->item(0, 3)->text(), u"store tests"_s);
        m_store->withdraw(u"impostor"_s);
    }

    // "添加" covers the window with "添加中..." until the plugin is in; it then leaves the store
    // and transforms a clip chosen from the status menu.
    void addFromStoreThenUseFromTheMenu()
    {
        QPushButton *add = storeAddButton(u"shout"_s);
        QVERIFY(add);
        QCOMPARE(add->text(), u"添加"_s);
        add->click();
        QVERIFY(window().overlay());
        QCOMPARE(window().overlay()->text(), u"添加中..."_s);
        QTRY_VERIFY_WITH_TIMEOUT(!window().overlay(), 20000);
        QVERIFY(installedNames().contains(u"shout"_s));
        QCOMPARE(storeNames(), QStringList{u"whisper"_s});

        MenuController menus(testSync());
        menus.actions().setPlatform({&m_pasteboard, &m_injector, nullptr});
        menus.actions().setPluginSource(pluginMenuSource(pluginParts().plugins));
        ClipFixtures::text(u"quiet words"_s, 10);
        menus.buildMenu();
        QMenu *clipMenu = menus.mainMenu()->actions().at(1)->menu();
        QVERIFY(clipMenu);
        Q_EMIT clipMenu->aboutToShow();
        QAction *shout = nullptr;
        for (QAction *item : clipMenu->actions()) {
            if (item->text() == "shout"_L1)
                shout = item;
        }
        QVERIFY(shout);
        shout->trigger();
        QTRY_COMPARE(m_injector.pasteCount(), 1);
        QCOMPARE(m_pasteboard.string(), std::optional<QString>(u"SHOUT:quiet words"_s));
    }

    // A package chosen in the open panel ("选择") is installed.
    void addFromFile()
    {
        QVERIFY(PackageBuilder::writeZip(m_files.filePath(u"local.cpk"_s),
                                         PackageBuilder::pluginEntries("local.cplugin", "org.example.local",
                                                                       "local",
                                                                       "function main(t) return t end")));
        window().tabView()->setCurrentIndex(PluginWindowController::InstalledTab);
        window().addButton()->click();
        QFileDialog *panel = window().openPanel();
        QVERIFY(panel);
        QCOMPARE(panel->labelText(QFileDialog::Accept), u"选择"_s);
        QCOMPARE(panel->fileMode(), QFileDialog::ExistingFile);
        panel->selectFile(m_files.filePath(u"local.cpk"_s));
        QMetaObject::invokeMethod(panel, "accept");
        QTRY_VERIFY(installedNames().contains(u"local"_s));
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

        const PluginObject shipped =
            pluginParts().plugins.listPlugins().value(u"org.quillet.plugin.uppercase"_s);
        QVERIFY(!shipped.plugin_name().isEmpty());
        selectInstalled(shipped.plugin_name());
        QVERIFY(!window().tableView()->selectedItems().isEmpty());
        QVERIFY(!window().removeButton()->isEnabled());

        selectInstalled(u"shout"_s);
        QVERIFY(window().removeButton()->isEnabled());
        window().removeButton()->click();
        QTRY_VERIFY(!installedNames().contains(u"shout"_s));
        QVERIFY(storeNames().contains(u"shout"_s));
        QCOMPARE(installedNames().size(), before.size() - 1);
    }

    // Opening the window with the store at a larger version updates without a click.
    void updatesWhenOpened()
    {
        storeAddButton(u"whisper"_s)->click();
        QTRY_VERIFY_WITH_TIMEOUT(installedNames().contains(u"whisper"_s), 20000);
        QTRY_VERIFY(!window().overlay());
        QVERIFY(m_store->publish(u"whisper"_s, "org.example.whisper", "1.10", "PSST:"));
        window().showWindow();
        const auto version = [] {
            return pluginParts().plugins.listUserPlugins().value(u"org.example.whisper"_s).plugin_version();
        };
        QTRY_COMPARE_WITH_TIMEOUT(version(), u"1.10"_s, 20000);
        QTRY_COMPARE(window().tableView()->item(int(installedNames().indexOf(u"whisper"_s)), 1)->text(),
                     u"1.10"_s);
    }

    // Without the service the store shows the last list.
    void lastListWithoutNetwork()
    {
        QVERIFY(m_store->publish(u"later"_s, "org.example.later", "0.1", "later:"));
        window().showWindow();
        QTRY_VERIFY_WITH_TIMEOUT(storeNames().contains(u"later"_s), 20000);
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
        pluginParts().opened.clear();
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::developerPage),
                                   u"https://dev.example.org/plugins"_s);
        window().helpButton()->click();
        QTRY_COMPARE(pluginParts().opened, QList<QUrl>{QUrl(u"https://dev.example.org/plugins"_s)});
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::developerPage), u"file:///etc/passwd"_s);
        window().helpButton()->click();
        QTRY_COMPARE(pluginParts().opened.size(), 2);
        QCOMPARE(pluginParts().opened.last(), QUrl(QString::fromLatin1(SettingsDefaults::developerPage)));

        window().gettingStartButton()->click();
        QTRY_COMPARE(pluginParts().opened.size(), 3);
        QVERIFY(pluginParts().opened.last().isLocalFile());
        QVERIFY(TestFiles::read(pluginParts().opened.last().toLocalFile()).startsWith("%PDF-"));
    }
};

QTEST_MAIN(TestPluginWindow)
#include "tst_plugin_window.moc"
