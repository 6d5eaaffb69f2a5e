// The plugin window driven through its widgets, against the real quillet-sync-server whose store
// folder holds packages built by quillet-pack-plugin: the store tab, "添加" with its overlay, a
// package added from a file, removing, help and the guide. A plugin added from the store then transforms a
// clip chosen from the real status menu.
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

    // Opening shows the shipped plugins and the store's (its rules: tst_plugin_store).
    void opensWithInstalledAndStore()
    {
        window().showWindow();
        QTRY_COMPARE(storeNames(), (QStringList{u"shout"_s, u"whisper"_s}));
        QCOMPARE(installedNames().size(), pluginParts().plugins.listPlugins().size());
    }

    // "添加" covers the window with "添加中..." until the plugin is in; it then leaves the store
    // and transforms a clip chosen from the status menu.
    void addFromStoreThenUseFromTheMenu()
    {
        QPushButton *add = storeAddButton(u"shout"_s);
        QVERIFY(add);
        add->click();
        QVERIFY(window().overlay());
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
