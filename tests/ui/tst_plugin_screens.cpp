// Screenshots of the plugin window's two tabs and of its "添加中..." overlay, taken from a
// private X server and saved as PNG files in the build folder for review. The store tab is
// built from a cached list; the service's address leads nowhere, as without a network.
#include "PackageBuilder.h"
#include "ScreenShot.h"
#include "TestDirs.h"
#include "X11TestMain.h"
#include "plugins/PluginManager.h"
#include "sync/PluginStoreList.h"
#include "ui/PluginWindowController.h"
#include "ui/ProgressOverlay.h"

#include <QJsonObject>
#include <QTabWidget>
#include <QTableWidget>
#include <QTcpServer>
#include <QtTest>

namespace {

QJsonObject entry(const char *name, const char *desc, const char *version, const char *bundleId)
{
    return {{QStringLiteral("name"), QString::fromUtf8(name)},
            {QStringLiteral("desc"), QString::fromUtf8(desc)},
            {QStringLiteral("version"), QString::fromUtf8(version)},
            {QStringLiteral("author"), QStringLiteral("Quillet 示例")},
            {QStringLiteral("bundle_id"), QString::fromUtf8(bundleId)}};
}

bool shoot(const QString &name)
{
    return saveWindowShot(&PluginWindowController::sharedInstance(), QStringLiteral(QUILLET_SCREENSHOT_DIR),
                          name);
}

} // namespace

class TestPluginScreens final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_files;

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        int closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            closedPort = probe.serverPort();
        }
        qputenv("QUILLET_API_URL", QStringLiteral("http://127.0.0.1:%1/api").arg(closedPort).toUtf8());

        const QString package = m_files.filePath(QStringLiteral("reverse.cpk"));
        QVERIFY(PackageBuilder::writeZip(
            package, PackageBuilder::pluginEntries("reverse.cplugin", "org.example.reverse", "倒序",
                                                   "function main(t) return t:reverse() end")));
        bool installed = false;
        PluginManager::sharedInstance().installPlugin(QUrl::fromLocalFile(package), nullptr,
                                                      [&](bool ok) { installed = ok; });
        QTRY_VERIFY(installed);

        QVERIFY(PluginStoreList::save(
            {{QStringLiteral("code"), 0},
             {QStringLiteral("plugin_url"), QJsonObject{{QStringLiteral("org.example.base64"),
                                                         QStringLiteral("http://127.0.0.1:1/base64.cpk")}}},
             {QStringLiteral("plugin_dict"),
              QJsonObject{{QStringLiteral("a"),
                           entry("Base64 编码", "把剪贴内容编码为 Base64", "1.3", "org.example.base64")},
                          {QStringLiteral("b"), entry("Markdown 表格", "把制表符分隔的文字变成 Markdown 表格",
                                                      "0.9", "org.example.mdtable")},
                          {QStringLiteral("c"),
                           entry("倒序", "already installed", "2.0", "org.example.reverse")}}}}));
        PluginWindowController::sharedInstance().showWindow();
    }

    void installedTab()
    {
        PluginWindowController &window = PluginWindowController::sharedInstance();
        window.tabView()->setCurrentIndex(PluginWindowController::InstalledTab);
        window.tableView()->selectRow(0);
        QVERIFY(window.tableView()->rowCount() >= 7);
        QVERIFY(shoot(QStringLiteral("plugins-installed")));
    }

    void storeTab()
    {
        PluginWindowController &window = PluginWindowController::sharedInstance();
        window.tabView()->setCurrentIndex(PluginWindowController::StoreTab);
        QCOMPARE(window.storeTableView()->rowCount(), 2);
        QVERIFY(shoot(QStringLiteral("plugins-store")));
    }

    void addingOverlay()
    {
        PluginWindowController &window = PluginWindowController::sharedInstance();
        window.optButtonClickect(0);
        QVERIFY(window.overlay());
        QVERIFY(shoot(QStringLiteral("plugins-store-adding")));
        // Nobody serves the package: the overlay closes and the entry stays in the store.
        QTRY_VERIFY_WITH_TIMEOUT(!window.overlay(), 20000);
        QCOMPARE(window.storeTableView()->rowCount(), 2);
    }
};

QUILLET_XVFB_TEST_MAIN(TestPluginScreens)
#include "tst_plugin_screens.moc"
