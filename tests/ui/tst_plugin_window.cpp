// The plugin window driven through its widgets, against the real quillet-sync-server whose store
// folder holds packages built by quillet-pack-plugin: a plugin added from the store transforms a
// clip chosen from the real status menu; removing, the guide.
#include "ServerHarness.h"
#include "StoreFixture.h"
#include "TestDirs.h"
#include "TestFiles.h"
#include "TestSync.h"
#include "menu/ClipFixtures.h"
#include "platform/MemoryPasteboard.h"

#include "menu/MenuController.h"
#include "menu/PluginMenuSource.h"
#include "platform/MemoryKeyInjector.h"
#include "platform/UrlOpener.h"
#include "plugins/PluginManager.h"
#include "sync/ClipPluginPackageHelper.h"
#include "ui/PluginWindowController.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// The plugin window with the parts the program gives it, kept, as the program's is, until the
// process ends. The URLs it opens are recorded, not opened.
struct PluginParts {
    QList<QUrl> opened;
    UrlOpener urlOpener{QCoreApplication::instance(), [this](const QUrl &url) { opened << url; }};
    PluginManager plugins{urlOpener};
    ClipPluginPackageHelper packages{testSync(), plugins};
    PluginWindowController window{packages, urlOpener};
};

PluginParts &pluginParts()
{
    static auto *instance = new PluginParts;
    return *instance;
}

PluginWindowController &window()
{
    return pluginParts().window;
}

QStringList names(QTableWidget *table)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, 0) ? table->item(row, 0)->text() : QString());
    return texts;
}

QStringList storeNames()
{
    return names(window().storeTableView());
}

QStringList installedNames()
{
    return names(window().tableView());
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
    MemoryPasteboard m_pasteboard;
    MemoryKeyInjector m_injector;

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
        m_store = std::make_unique<StoreFixture>(m_server.dataDir() + u"/plugins"_s);
        QVERIFY(m_store->publish(u"shout"_s, "org.example.shout", "1.0", "SHOUT:"));
    }

    // "添加" covers the window until the plugin is in; it then leaves the store (its rules:
    // tst_plugin_store) and transforms a clip chosen from the status menu.
    void addFromStoreThenUseFromTheMenu()
    {
        window().showWindow();
        QTRY_VERIFY(storeAddButton(u"shout"_s));
        storeAddButton(u"shout"_s)->click();
        QVERIFY(window().overlay());
        QTRY_VERIFY_WITH_TIMEOUT(!window().overlay(), 20000);
        QVERIFY(installedNames().contains(u"shout"_s));
        QVERIFY(!storeNames().contains(u"shout"_s));

        MenuController menus(testSync());
        menus.actions().setPlatform({&m_pasteboard, &m_injector, nullptr});
        menus.actions().setPluginSource(pluginMenuSource(pluginParts().plugins));
        ClipFixtures::text(u"quiet words"_s, 10);
        menus.buildMenu();
        QMenu *clipMenu = menus.mainMenu()->actions().at(1)->menu();
        Q_EMIT clipMenu->aboutToShow();
        const QList<QAction *> items = clipMenu->actions();
        const auto shout =
            std::find_if(items.begin(), items.end(), [](QAction *a) { return a->text() == "shout"_L1; });
        QVERIFY(shout != items.end());
        (*shout)->trigger();
        QTRY_COMPARE(m_injector.pasteCount(), 1);
        QCOMPARE(m_pasteboard.string(), std::optional<QString>(u"SHOUT:quiet words"_s));
    }

    // A shipped plugin cannot be removed; a user plugin goes and returns to the store.
    void remove()
    {
        selectInstalled(
            pluginParts().plugins.listPlugins().value(u"org.quillet.plugin.uppercase"_s).plugin_name());
        QVERIFY(!window().removeButton()->isEnabled());
        selectInstalled(u"shout"_s);
        window().removeButton()->click();
        QTRY_VERIFY(!installedNames().contains(u"shout"_s));
        QVERIFY(storeNames().contains(u"shout"_s));
    }

    // The guide opens the PDF built with the program.
    void guide()
    {
        window().gettingStartButton()->click();
        QTRY_VERIFY(!pluginParts().opened.isEmpty());
        QVERIFY(TestFiles::read(pluginParts().opened.last().toLocalFile()).startsWith("%PDF-"));
    }
};

QTEST_MAIN(TestPluginWindow)
#include "tst_plugin_window.moc"
