// The plugin store without a window: the "/plugins/" list of the real quillet-sync-server, whose
// store folder holds packages built by quillet-pack-plugin; package downloads into the cache and
// the real installer; the automatic update rule; broken and hostile packages.
#include "ServerHarness.h"
#include "StoreFixture.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "platform/UrlOpener.h"
#include "plugins/PluginManager.h"
#include "store/PathHelper.h"
#include "sync/ClipPluginPackageHelper.h"
#include "sync/PluginStoreList.h"
#include "sync/PluginStoreRefresh.h"
#include "sync/ServiceRequests.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// Installs through the helper and waits for its completion: its answer, or none.
std::optional<bool> installFromStore(ClipPluginPackageHelper &packages, const QString &url,
                                     const PluginObject &plugin)
{
    std::optional<bool> answer;
    packages.installPackageFromUrl(url, plugin, nullptr, [&](bool installed) { answer = installed; });
    (void)QTest::qWaitFor([&] { return answer.has_value(); }, 20000);
    return answer;
}

PluginObject storeEntry(const QString &bundleId, const QString &version)
{
    return PluginObject::loadFromJsonDict(
        {{u"bundle_id"_s, bundleId}, {u"version"_s, version}, {u"name"_s, bundleId}});
}

std::optional<QString> run(PluginManager &plugins, const QString &bundleId, const QString &text)
{
    const PluginObject plugin = plugins.listPlugins().value(bundleId);
    return plugins.processText(text, plugin);
}

QStringList cacheFiles()
{
    return QDir(PathHelper::getPluginsPackageCachePath()).entryList(QDir::Files);
}

} // namespace

class TestPluginStore final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    UrlOpener m_urlOpener{nullptr, {}};
    PluginManager m_plugins{m_urlOpener};
    ClipPluginPackageHelper m_packages{testSync(), m_plugins};
    ServerHarness m_server;
    std::unique_ptr<StoreFixture> m_store;

    // Fetches the list as the window does; true when a list was stored.
    bool refresh(int *updatesDone = nullptr)
    {
        std::optional<bool> stored;
        PluginStoreRefresh::requestRemoteData(
            std::make_shared<PluginListRequestManager>(), m_packages, this, [&](bool ok) { stored = ok; },
            [updatesDone] {
                if (updatesDone)
                    ++*updatesDone;
            });
        (void)QTest::qWaitFor([&] { return stored.has_value(); }, 20000);
        return stored.value_or(false);
    }

    QString urlOf(const QString &bundleId)
    {
        return PluginStoreList::urls(PluginStoreList::load().value_or(QJsonObject())).value(bundleId);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
        m_store = std::make_unique<StoreFixture>(m_server.dataDir() + u"/plugins"_s);
        QVERIFY(m_store->publish(u"shout"_s, "org.example.shout", "1.0", "SHOUT:"));
        QVERIFY(m_store->publish(u"whisper"_s, "org.example.whisper", "2.1", "psst:"));
        m_plugins.listPlugins(); // loads the registries
    }

    // The reply is cached as JSON, whole, and the store offers only what is not installed;
    // the bundle id of a shipped plugin is never offered.
    void listIsCachedAndOffersOnlyMissingPlugins()
    {
        const PluginManager::PluginDict shipped = m_plugins.listPlugins();
        QVERIFY(!shipped.isEmpty());
        const QString systemId = shipped.firstKey();
        QVERIFY(m_store->publish(u"fake_system"_s, systemId.toUtf8(), "99.0", "fake:"));

        QVERIFY(refresh());
        const QJsonObject list = PluginStoreList::load().value_or(QJsonObject());
        QStringList offered;
        for (const PluginObject &plugin : PluginStoreList::offered(list, m_plugins.listPlugins()))
            offered << plugin.plugin_bundle_id();
        QCOMPARE(offered, (QStringList{u"org.example.shout"_s, u"org.example.whisper"_s}));
        // A shipped plugin is not updated either, whatever version the store has.
        QCOMPARE(PluginStoreRefresh::applyUpdates(list, m_packages, this, {}), 0);
        m_store->withdraw(u"fake_system"_s);
    }

    // A cached list that is not a JSON object reads as no list; nothing else is made of it.
    void damagedCacheReadsAsNoList()
    {
        QVERIFY(TestFiles::write(PluginStoreList::cachePath(), "[1,2]"));
        QVERIFY(!PluginStoreList::load());
        QVERIFY(refresh());
    }

    // A store package is downloaded into the cache, installed and run.
    void downloadInstallsThePackage()
    {
        const PluginObject entry = storeEntry(u"org.example.shout"_s, u"1.0"_s);
        QCOMPARE(installFromStore(m_packages, urlOf(u"org.example.shout"_s), entry),
                 std::optional<bool>(true));
        QCOMPARE(cacheFiles(), QStringList{ClipPluginPackageHelper::fileNameFromPlugin(entry)});
        QCOMPARE(run(m_plugins, u"org.example.shout"_s, u"hi"_s), std::optional<QString>(u"SHOUT:hi"_s));
    }

    // An installed 1.2 and a store entry at 1.10: the list alone updates it and the old
    // package leaves the cache (the version rule itself: tst_dbkeeper versionComparison).
    void largerVersionUpdatesWithoutAsking()
    {
        QVERIFY(m_store->publish(u"echo"_s, "org.example.echo", "1.2", "old:"));
        QVERIFY(refresh());
        const PluginObject old = storeEntry(u"org.example.echo"_s, u"1.2"_s);
        QCOMPARE(installFromStore(m_packages, urlOf(u"org.example.echo"_s), old), std::optional<bool>(true));

        QVERIFY(m_store->publish(u"echo"_s, "org.example.echo", "1.10", "new:"));
        int updates = 0;
        QVERIFY(refresh(&updates));
        QTRY_COMPARE_WITH_TIMEOUT(updates, 1, 20000);
        QCOMPARE(run(m_plugins, u"org.example.echo"_s, u"x"_s), std::optional<QString>(u"new:x"_s));
        QVERIFY(!QFile::exists(ClipPluginPackageHelper::cachePathFor(old)));
    }

    // A store package that reaches outside the extraction folder installs nothing, leaves no
    // package in the cache, and the installed plugins keep working (the other broken packages:
    // tst_plugin_package installRefusesBadPackages).
    void hostilePackageInstallsNothing()
    {
        QVERIFY(m_store->publishZip(
            u"climber"_s, "org.example.climber",
            {{"Payload/", {}},
             {"Payload/../../../escaped.cplugin/", {}},
             {"Payload/../../../escaped.cplugin/info.lua",
              PackageBuilder::infoLua("org.example.climber", "climber")},
             {"Payload/../../../escaped.cplugin/main.lua", "function main(t) return t end"}}));
        QVERIFY(refresh());
        const QStringList cachedBefore = cacheFiles();
        const QStringList before = m_plugins.listUserPlugins().keys();
        QCOMPARE(installFromStore(m_packages, urlOf(u"org.example.climber"_s),
                                  storeEntry(u"org.example.climber"_s, u"9.0"_s)),
                 std::optional<bool>(false));
        QCOMPARE(m_plugins.listUserPlugins().keys(), before);
        QCOMPARE(cacheFiles(), cachedBefore);
        QVERIFY(!QFileInfo::exists(m_dirs.dataPath() + u"/../escaped.cplugin"_s));
        QCOMPARE(run(m_plugins, u"org.example.shout"_s, u"ok"_s), std::optional<QString>(u"SHOUT:ok"_s));
    }

    // Package URLs from a reply are fetched only over the web.
    void onlyWebUrlsAreFetched()
    {
        for (const QString &url : {u"file:///etc/passwd"_s, u"qrc:/privacy.lua"_s, u"not a url"_s, QString()})
            QCOMPARE(installFromStore(m_packages, url, storeEntry(u"org.example.local"_s, u"1"_s)),
                     std::optional<bool>(false));
    }
};

QTEST_GUILESS_MAIN(TestPluginStore)
#include "tst_plugin_store.moc"
