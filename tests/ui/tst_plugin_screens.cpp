// Screenshots of the plugin window's two tabs and of its "添加中..." overlay, taken from a
// private X server and saved as PNG files in the build folder for review. The store tab is
// built from a cached list; the service's address leads nowhere, as without a network.
#include "PackageBuilder.h"
#include "PluginParts.h"
#include "ScreenShot.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "X11TestMain.h"
#include "platform/UrlOpener.h"
#include "plugins/PluginManager.h"
#include "sync/ClipPluginPackageHelper.h"
#include "sync/PluginStoreList.h"
#include "ui/PluginWindowController.h"
#include "ui/ProgressOverlay.h"

#include <QJsonObject>
#include <QTabWidget>
#include <QTableWidget>
#include <QTcpServer>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QJsonObject entry(const char *name, const char *desc, const char *version, const char *bundleId)
{
    return {{u"name"_s, QString::fromUtf8(name)},
            {u"desc"_s, QString::fromUtf8(desc)},
            {u"version"_s, QString::fromUtf8(version)},
            {u"author"_s, u"Quillet 示例"_s},
            {u"bundle_id"_s, QString::fromUtf8(bundleId)}};
}

bool shoot(const QString &name)
{
    return saveWindowShot(&pluginParts().window, QStringLiteral(QUILLET_SCREENSHOT_DIR), name);
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
        QCOMPARE(QGuiApplication::platformName(), u"xcb"_s);
        int closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            closedPort = probe.serverPort();
        }
        qputenv("QUILLET_API_URL", u"http://127.0.0.1:%1/api"_s.arg(closedPort).toUtf8());

        const QString package = m_files.filePath(u"reverse.cpk"_s);
        QVERIFY(PackageBuilder::writeZip(
            package, PackageBuilder::pluginEntries("reverse.cplugin", "org.example.reverse", "倒序",
                                                   "function main(t) return t:reverse() end")));
        bool installed = false;
        pluginParts().plugins.installPlugin(QUrl::fromLocalFile(package), nullptr,
                                            [&](bool ok) { installed = ok; });
        QTRY_VERIFY(installed);

        QVERIFY(PluginStoreList::save(
            {{u"code"_s, 0},
             {u"plugin_url"_s, QJsonObject{{u"org.example.base64"_s, u"http://127.0.0.1:1/base64.cpk"_s}}},
             {u"plugin_dict"_s,
              QJsonObject{
                  {u"a"_s, entry("Base64 编码", "把剪贴内容编码为 Base64", "1.3", "org.example.base64")},
                  {u"b"_s, entry("Markdown 表格", "把制表符分隔的文字变成 Markdown 表格", "0.9",
                                 "org.example.mdtable")},
                  {u"c"_s, entry("倒序", "already installed", "2.0", "org.example.reverse")}}}}));
        // The window was made with the plugins, before this list was cached.
        pluginParts().window.reloadStoreTableView();
        pluginParts().window.showWindow();
    }

    void installedTab()
    {
        PluginWindowController &window = pluginParts().window;
        window.tabView()->setCurrentIndex(PluginWindowController::InstalledTab);
        window.tableView()->selectRow(0);
        QVERIFY(window.tableView()->rowCount() >= 7);
        QVERIFY(shoot(u"plugins-installed"_s));
    }

    void storeTab()
    {
        PluginWindowController &window = pluginParts().window;
        window.tabView()->setCurrentIndex(PluginWindowController::StoreTab);
        QCOMPARE(window.storeTableView()->rowCount(), 2);
        QVERIFY(shoot(u"plugins-store"_s));
    }

    void addingOverlay()
    {
        PluginWindowController &window = pluginParts().window;
        window.storeAddClicked(0);
        QVERIFY(window.overlay());
        QVERIFY(shoot(u"plugins-store-adding"_s));
        // Nobody serves the package: the overlay closes and the entry stays in the store.
        QTRY_VERIFY_WITH_TIMEOUT(!window.overlay(), 20000);
        QCOMPARE(window.storeTableView()->rowCount(), 2);
    }
};

QUILLET_XVFB_TEST_MAIN(TestPluginScreens)
#include "tst_plugin_screens.moc"
