// The plugin store without a window: the "/plugins/" list of the real quillet-sync-server, whose
// store folder holds packages built by quillet-pack-plugin; package downloads into the cache and
// the real installer; the automatic update rule; broken and hostile packages.
#include "PackageBuilder.h"
#include "ServerHarness.h"
#include "StoreFixture.h"
#include "TestDirs.h"
#include "plugins/PluginManager.h"
#include "store/PathHelper.h"
#include "support/NotificationCenter.h"
#include "support/Notifications.h"
#include "sync/ClipPluginPackageHelper.h"
#include "sync/PluginStoreList.h"
#include "sync/PluginStoreRefresh.h"
#include "sync/ServiceRequests.h"

#include <QDir>
#include <QJsonDocument>
#include <QtTest>

namespace {

// Installs through the helper and waits for its completion: its answer, or none.
std::optional<bool> installFromStore(const QString &url, const PluginObject &plugin)
{
    std::optional<bool> answer;
    ClipPluginPackageHelper::sharedInstance().installPackageFromUrl(
        url, plugin, nullptr, [&](bool installed) { answer = installed; });
    (void)QTest::qWaitFor([&] { return answer.has_value(); }, 20000);
    return answer;
}

PluginObject storeEntry(const QString &bundleId, const QString &version)
{
    return PluginObject::loadFromJsonDict({{QStringLiteral("bundle_id"), bundleId},
                                           {QStringLiteral("version"), version},
                                           {QStringLiteral("name"), bundleId}});
}

QString userVersion(const QString &bundleId)
{
    return PluginManager::sharedInstance().listUserPlugins().value(bundleId).plugin_version();
}

std::optional<QString> run(const QString &bundleId, const QString &text)
{
    const PluginObject plugin = PluginManager::sharedInstance().listPlugins().value(bundleId);
    return PluginManager::sharedInstance().processText(text, plugin);
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
    ServerHarness m_server;
    std::unique_ptr<StoreFixture> m_store;

    // Fetches the list as the window does; true when a list was stored.
    bool refresh(int *updatesDone = nullptr)
    {
        std::optional<bool> stored;
        PluginStoreRefresh::requestRemoteData(
            std::make_shared<PluginListRequestManager>(), this, [&](bool ok) { stored = ok; },
            [updatesDone] {
                if (updatesDone)
                    ++*updatesDone;
            });
        (void)QTest::qWaitFor([&] { return stored.has_value(); }, 20000);
        return stored.value_or(false);
    }

    bool restartService()
    {
        if (!m_server.restartService())
            return false;
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
        return true;
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
        m_store = std::make_unique<StoreFixture>(m_server.dataDir() + QStringLiteral("/plugins"));
        QVERIFY(m_store->publish(QStringLiteral("shout"), "org.example.shout", "1.0", "SHOUT:"));
        QVERIFY(m_store->publish(QStringLiteral("whisper"), "org.example.whisper", "2.1", "psst:"));
        PluginManager::sharedInstance().listPlugins(); // loads the registries
    }

    void versionRule_data()
    {
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<bool>("newer");
        QTest::newRow("1.10 after 1.2") << "1.2"
                                        << "1.10" << true;
        QTest::newRow("1.10 after 1.9") << "1.9"
                                        << "1.10" << true;
        QTest::newRow("1.2.1 after 1.2") << "1.2"
                                         << "1.2.1" << true;
        QTest::newRow("same") << "1.2"
                              << "1.2" << false;
        QTest::newRow("1.2.0 is 1.2") << "1.2"
                                      << "1.2.0" << false;
        QTest::newRow("1 is 1.0") << "1.0"
                                  << "1" << false;
        QTest::newRow("older offered") << "2.0"
                                       << "1.9" << false;
    }
    void versionRule()
    {
        QFETCH(QString, installed);
        QFETCH(QString, offered);
        QFETCH(bool, newer);
        QCOMPARE(PluginStoreList::isNewer(installed, offered), newer);
    }

    // The reply is cached as JSON, whole, and the store offers only what is not installed;
    // the bundle id of a shipped plugin is never offered.
    void listIsCachedAndOffersOnlyMissingPlugins()
    {
        const PluginManager::PluginDict shipped = PluginManager::sharedInstance().listPlugins();
        QVERIFY(!shipped.isEmpty());
        const QString systemId = shipped.firstKey();
        QVERIFY(m_store->publish(QStringLiteral("fake_system"), systemId.toUtf8(), "99.0", "fake:"));

        QVERIFY(refresh());
        QFile cache(PluginStoreList::cachePath());
        QVERIFY(cache.open(QIODevice::ReadOnly));
        const QJsonDocument document = QJsonDocument::fromJson(cache.readAll());
        QVERIFY(document.isObject());
        QCOMPARE(document.object().value(QStringLiteral("code")).toInt(-1), 0);
        QCOMPARE(PluginStoreList::entries(document.object()).size(), 3);

        QStringList offered;
        for (const PluginObject &plugin :
             PluginStoreList::offered(document.object(), PluginManager::sharedInstance().listPlugins()))
            offered << plugin.plugin_bundle_id();
        QCOMPARE(offered,
                 (QStringList{QStringLiteral("org.example.shout"), QStringLiteral("org.example.whisper")}));
        // A shipped plugin is not updated either, whatever version the store has.
        QCOMPARE(PluginStoreRefresh::applyUpdates(document.object(), this, {}), 0);
        m_store->withdraw(QStringLiteral("fake_system"));
    }

    // A cached list that is not a JSON object reads as no list; nothing else is made of it.
    void damagedCacheReadsAsNoList()
    {
        const QString path = PluginStoreList::cachePath();
        QFile::remove(path + QStringLiteral(".keep"));
        QVERIFY(QFile::copy(path, path + QStringLiteral(".keep")));
        for (const QByteArray &bytes : {QByteArray("bplist00\x01\x02"), QByteArray("[1,2]"), QByteArray()}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
            file.close();
            QVERIFY(!PluginStoreList::load());
        }
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::rename(path + QStringLiteral(".keep"), path));
        QVERIFY(PluginStoreList::load());
    }

    // A store package is downloaded into the cache under its md5 name, installed and run.
    void downloadInstallsThePackage()
    {
        const QString url = urlOf(QStringLiteral("org.example.shout"));
        QVERIFY(url.startsWith(m_server.origin()));
        const PluginObject entry = storeEntry(QStringLiteral("org.example.shout"), QStringLiteral("1.0"));
        int changes = 0;
        NotificationCenter::sharedInstance().addObserver(QLatin1String(Notifications::NOTIF_PLUGIN_CHANGED),
                                                         this, [&](const QVariant &) { ++changes; });
        // Two requests for one URL share one download; both learn the outcome.
        std::optional<bool> first;
        ClipPluginPackageHelper::sharedInstance().installPackageFromUrl(url, entry, nullptr,
                                                                        [&](bool ok) { first = ok; });
        QCOMPARE(installFromStore(url, entry), std::optional<bool>(true));
        QTRY_COMPARE(first, std::optional<bool>(true));
        NotificationCenter::sharedInstance().removeObserver(this);
        QVERIFY(changes >= 1);

        QCOMPARE(ClipPluginPackageHelper::fileNameFromPlugin(entry),
                 QString::fromLatin1(
                     QCryptographicHash::hash("org.example.shout_1.0", QCryptographicHash::Md5).toHex())
                     + QStringLiteral(".cpk"));
        QCOMPARE(cacheFiles(), QStringList{ClipPluginPackageHelper::fileNameFromPlugin(entry)});
        QCOMPARE(userVersion(QStringLiteral("org.example.shout")), QStringLiteral("1.0"));
        QCOMPARE(run(QStringLiteral("org.example.shout"), QStringLiteral("hi")),
                 std::optional<QString>(QStringLiteral("SHOUT:hi")));

        // Once cached, the package installs again without the network.
        m_server.killService();
        QCOMPARE(installFromStore(url, entry), std::optional<bool>(true));
        QVERIFY(restartService());
    }

    // An installed 1.2 and a store entry at 1.10: the list alone updates it and the old
    // package leaves the cache. 1.2.0 afterwards changes nothing.
    void largerVersionUpdatesWithoutAsking()
    {
        QVERIFY(m_store->publish(QStringLiteral("echo"), "org.example.echo", "1.2", "old:"));
        QVERIFY(refresh());
        const PluginObject old = storeEntry(QStringLiteral("org.example.echo"), QStringLiteral("1.2"));
        QCOMPARE(installFromStore(urlOf(QStringLiteral("org.example.echo")), old), std::optional<bool>(true));
        QVERIFY(QFile::exists(ClipPluginPackageHelper::cachePathFor(old)));

        QVERIFY(m_store->publish(QStringLiteral("echo"), "org.example.echo", "1.10", "new:"));
        int updates = 0;
        QVERIFY(refresh(&updates));
        QTRY_COMPARE_WITH_TIMEOUT(updates, 1, 20000);
        QCOMPARE(userVersion(QStringLiteral("org.example.echo")), QStringLiteral("1.10"));
        QCOMPARE(run(QStringLiteral("org.example.echo"), QStringLiteral("x")),
                 std::optional<QString>(QStringLiteral("new:x")));
        QVERIFY(!QFile::exists(ClipPluginPackageHelper::cachePathFor(old)));
        QVERIFY(QFile::exists(ClipPluginPackageHelper::cachePathFor(
            storeEntry(QStringLiteral("org.example.echo"), QStringLiteral("1.10")))));

        QVERIFY(m_store->publish(QStringLiteral("echo"), "org.example.echo", "1.10.0", "same:"));
        updates = 0;
        QVERIFY(refresh(&updates));
        QCOMPARE(PluginStoreRefresh::applyUpdates(*PluginStoreList::load(), this, {}), 0);
        QCOMPARE(updates, 0);
        QCOMPARE(run(QStringLiteral("org.example.echo"), QStringLiteral("x")),
                 std::optional<QString>(QStringLiteral("new:x")));
    }

    // Packages that are not packages, or that reach outside the extraction folder, install
    // nothing, leave no package in the cache, and the installed plugins keep working.
    void brokenOrHostilePackagesInstallNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("not a zip") << QStringLiteral("garbage");
        QTest::newRow("climbs out") << QStringLiteral("climber");
        QTest::newRow("no plugin") << QStringLiteral("empty");
        QTest::newRow("missing") << QStringLiteral("vanished");
    }
    void brokenOrHostilePackagesInstallNothing()
    {
        QFETCH(QString, name);
        const QByteArray bundleId = "org.example." + name.toUtf8();
        if (name == QLatin1String("garbage")) {
            QVERIFY(m_store->publishBytes(name, bundleId, "9.0", QByteArray(4096, 'x')));
        } else if (name == QLatin1String("climber")) {
            QVERIFY(m_store->publishZip(
                name, bundleId,
                {{"Payload/", {}},
                 {"Payload/../../../escaped.cplugin/", {}},
                 {"Payload/../../../escaped.cplugin/info.lua", PackageBuilder::infoLua(bundleId, "climber")},
                 {"Payload/../../../escaped.cplugin/main.lua", "function main(t) return t end"}}));
        } else if (name == QLatin1String("empty")) {
            QVERIFY(
                m_store->publishZip(name, bundleId, {{"Payload/", {}}, {"Payload/readme.txt", "nothing"}}));
        } else {
            QVERIFY(m_store->publish(name, bundleId, "9.0", "gone:"));
        }
        QVERIFY(refresh());
        const QString url = urlOf(QString::fromUtf8(bundleId));
        QVERIFY(!url.isEmpty());
        if (name == QLatin1String("vanished"))
            m_store->withdraw(name);
        const QStringList cachedBefore = cacheFiles();
        const PluginManager::PluginDict before = PluginManager::sharedInstance().listUserPlugins();

        QCOMPARE(installFromStore(url, storeEntry(QString::fromUtf8(bundleId), QStringLiteral("9.0"))),
                 std::optional<bool>(false));
        QCOMPARE(PluginManager::sharedInstance().listUserPlugins().keys(), before.keys());
        QCOMPARE(cacheFiles(), cachedBefore);
        QVERIFY(!QFileInfo::exists(m_dirs.dataPath() + QStringLiteral("/../escaped.cplugin")));
        QCOMPARE(run(QStringLiteral("org.example.shout"), QStringLiteral("ok")),
                 std::optional<QString>(QStringLiteral("SHOUT:ok")));
        m_store->withdraw(name);
    }

    // Package URLs from a reply are fetched only over the web.
    void onlyWebUrlsAreFetched()
    {
        for (const QString &url : {QStringLiteral("file:///etc/passwd"), QStringLiteral("qrc:/privacy.lua"),
                                   QStringLiteral("not a url"), QString()})
            QCOMPARE(
                installFromStore(url, storeEntry(QStringLiteral("org.example.local"), QStringLiteral("1"))),
                std::optional<bool>(false));
    }

    // A refused or failed request leaves the cached list as it was.
    void failedRequestKeepsTheList()
    {
        const QByteArray before = QJsonDocument(*PluginStoreList::load()).toJson();
        m_server.killService();
        QVERIFY(!refresh());
        QCOMPARE(QJsonDocument(*PluginStoreList::load()).toJson(), before);
        QVERIFY(restartService());
    }
};

QTEST_GUILESS_MAIN(TestPluginStore)
#include "tst_plugin_store.moc"
