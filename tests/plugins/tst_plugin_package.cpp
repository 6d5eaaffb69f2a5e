// The plugin file module through its plain functions (package extraction and install, the Lua
// side of records and registries; remove and links: tst_plugins_contained), and PluginManager with
// its real queue, the shipped plugins and user plugins. Packages are real zip files in temporary
// folders.

#include "PluginSandbox.h"
#include "TestDirs.h"
#include "TestFiles.h"
#include "platform/UrlOpener.h"
#include "plugins/PluginManager.h"
#include "plugins/PluginPacker.h"
#include "support/Md5.h"

#include <QDirIterator>
#include <QTest>

using PackageBuilder::Entry;
using namespace Qt::StringLiterals;
constexpr auto path8 = &PluginSandbox::path8;

class TestPluginPackage final : public QObject
{
    Q_OBJECT

private:
    // Installs a package holding one plugin, waits for the completion and answers the listed plugin
    // of that bundle id (an empty object, which gives no result, when the install failed).
    PluginObject installPlugin(const QString &bundleId, const QByteArray &name, const QByteArray &mainLua)
    {
        const QString archive = m_packages.path() + u"/p.cpk"_s;
        const QList<PackageBuilder::Entry> entries =
            PackageBuilder::pluginEntries("x.cplugin", bundleId.toUtf8(), name, mainLua);
        if (!PackageBuilder::writeZip(archive, entries) || !installFile(archive))
            return {};
        return m_manager.listPlugins().value(bundleId);
    }

    bool installFile(const QString &archive)
    {
        std::optional<bool> installed;
        m_manager.installPlugin(QUrl::fromLocalFile(archive), this, [&](bool ok) { installed = ok; });
        return QTest::qWaitFor([&] { return installed.has_value(); }, 10000) && *installed;
    }

    void removePlugin(const PluginObject &plugin)
    {
        bool done = false;
        m_manager.removePlugin(plugin, this, [&] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    }

    // The result of the listed plugin of this bundle id ("(none)" for no result).
    QString run(const QString &bundleId, const QString &text)
    {
        return m_manager.processText(text, m_manager.listPlugins().value(bundleId)).value_or(u"(none)"_s);
    }

    TestDirs m_dirs;
    QTemporaryDir m_packages;
    QList<QUrl> m_opened;
    UrlOpener m_urlOpener{this, [this](const QUrl &url) { m_opened << url; }};
    PluginManager m_manager{m_urlOpener};

    // Writes <root>/p.cplugin and scans the registry; answers how many plugins it holds.
    int scan(const QByteArray &info, const QByteArray &mainLua)
    {
        PackageBuilder::writePluginFolder(m_box->root(), u"p.cplugin"_s, info, mainLua);
        plugin_registry_scan(m_box->registry());
        return m_box->registry()->count;
    }

    QString installedFolder(const QByteArray &bundleId) const
    {
        return m_box->root() + QLatin1Char('/') + md5_hex(bundleId) + u".cplugin"_s;
    }

    std::unique_ptr<PluginSandbox> m_box;

private slots:
    void init()
    {
        m_box = std::make_unique<PluginSandbox>();
        QVERIFY(m_box->registry());
    }

    void unzipFailsOnBrokenArchives_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("damaged entry bytes") << u"flip"_s;
        QTest::newRow("entry shorter than it claims") << u"size"_s;
        QTest::newRow("file over a folder") << u"clash"_s;
    }
    void unzipFailsOnBrokenArchives()
    {
        QFETCH(QString, damage);
        const QString archive = m_box->path(u"broken.cpk"_s);
        const QByteArray content(4000, 'A');
        QList<Entry> entries{Entry{"dir/", {}}, Entry{"dir/file.txt", content}};
        if (damage == "clash"_L1)
            entries << Entry{"dir", "a file where a folder is"};
        QVERIFY(PackageBuilder::writeZip(archive, entries, true));
        QByteArray bytes = TestFiles::read(archive);
        if (damage == "flip"_L1)
            bytes[bytes.indexOf(content) + 1000] = 'B';
        else if (damage == "size"_L1) {
            // Raise the uncompressed size in the local and the central header of the file entry.
            for (const QByteArray &signature : {QByteArray("PK\x03\x04", 4), QByteArray("PK\x01\x02", 4)}) {
                const int header = bytes.indexOf(signature, bytes.indexOf(signature) + 1);
                const int offset = header + (signature[2] == 3 ? 22 : 24);
                bytes[offset + 1] = static_cast<char>(bytes[offset + 1] + 1);
            }
        }
        QVERIFY(PackageBuilder::writeFiles(m_box->folder(), {Entry{"broken.cpk", bytes}}));
        QCOMPARE(package_unzip(path8(archive).constData(), path8(m_box->extraction()).constData()), 1);
    }

    // A second package of the same bundle id replaces the first, files and all (the first has
    // no folder entries: the missing parents are created).
    void installReplacesThePluginOfTheSameBundleId()
    {
        QCOMPARE(
            m_box->install(PackageBuilder::pluginEntries("a.cplugin", "same.id", "Old", "return 1", false)
                           << Entry{"Payload/a.cplugin/old.lua", "-- old"}),
            0);
        QVERIFY(QFile::exists(installedFolder("same.id") + u"/old.lua"_s));
        QCOMPARE(m_box->install(PackageBuilder::pluginEntries("b.cplugin", "same.id", "New", "")), 0);
        QCOMPARE(QDir(m_box->root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 {md5_hex(QByteArray("same.id")) + u".cplugin"_s});
        QVERIFY(!QFile::exists(installedFolder("same.id") + u"/old.lua"_s));
        QCOMPARE(QByteArray(m_box->registry()->records[0]->name), QByteArray("New"));
    }

    void installTakesOnePluginOfTwo()
    {
        QCOMPARE(m_box->install(PackageBuilder::pluginEntries("a.cplugin", "id.a", "A", "")
                                + PackageBuilder::pluginEntries("b.cplugin", "id.b", "B", "", false)),
                 0);
        QCOMPARE(QDir(m_box->root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
    }

    // Nothing is installed and nothing stays in the extraction folder; an entry whose name leaves
    // the destination stops the extraction before anything is written.
    void installRefusesBadPackages_data()
    {
        QTest::addColumn<QList<Entry>>("entries");
        const QList<Entry> plugin = PackageBuilder::pluginEntries("a.cplugin", "id", "A", "");
        QTest::newRow("no bundle id")
            << QList<Entry>{Entry{"Payload/a.cplugin/info.lua", "plugin_name = 'A'"},
                            Entry{"Payload/a.cplugin/main.lua", ""}};
        QTest::newRow("no plugin folder") << QList<Entry>{Entry{"Payload/readme.txt", "hi"}};
        // Names that leave the package's folder <tmp>/cpk-XXXXXX, after good entries.
        for (const char *name :
             {"../outside.txt", "Payload/../../../outside.txt", "../outside.txt/", "/tmp/outside.txt"})
            QTest::newRow(name) << (QList<Entry>(plugin) << Entry{name, "evil"});
    }
    void installRefusesBadPackages()
    {
        QFETCH(QList<Entry>, entries);
        for (Entry &entry : entries) // an absolute name is made to point into the temporary folder
            entry.name.replace("/tmp/", path8(m_box->extraction() + QLatin1Char('/')));
        QCOMPARE(m_box->install(entries), 1);
        QCOMPARE(m_box->registry()->count, 0);
        QStringList written;
        for (QDirIterator files(m_box->folder(), QDir::Files, QDirIterator::Subdirectories); files.hasNext();)
            written << files.next();
        QCOMPARE(written, QStringList{m_box->path(u"p.cpk"_s)});
    }

    void mainResults_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("expected"); // null for no result
        QTest::newRow("string") << QByteArray("return text .. '!'") << QByteArray("héllo!");
        QTest::newRow("empty string") << QByteArray("return ''") << QByteArray("");
        QTest::newRow("nil") << QByteArray("return nil") << QByteArray();
        QTest::newRow("error") << QByteArray("error('boom')") << QByteArray();
        QTest::newRow("hostile globals")
            << QByteArray("setmetatable(_G, {__index = function() error('no') end}) main = nil")
            << QByteArray();
    }
    void mainResults()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, expected);
        QCOMPARE(scan(PackageBuilder::infoLua("id", "P"), "function main(text) " + body + " end"), 1);
        // Twice: the first call may have changed the plugin's globals.
        for (int call = 0; call < 2; ++call) {
            std::size_t length = 0;
            const char *result = plugin_call_main(m_box->registry()->records[0], "héllo", &length);
            QCOMPARE(result != nullptr, !expected.isNull());
            if (result)
                QCOMPARE(QByteArray(result, static_cast<qsizetype>(length)), expected);
        }
    }

    // A plugin loads when info.lua sets a name and a bundle id and both files run to their end.
    void pluginsThatDoNotLoadAreSkipped_data()
    {
        QTest::addColumn<QByteArray>("info");
        QTest::addColumn<QByteArray>("mainLua");
        const QByteArray named = "plugin_name = 'x' plugin_bundle_id = 'x' ";
        QTest::newRow("no name") << QByteArray("plugin_bundle_id = 'x'") << QByteArray();
        QTest::newRow("info endless") << named + "while true do end" << QByteArray();
        QTest::newRow("info hostile globals")
            << named + "setmetatable(_G, {__index = function() error('no') end})" << QByteArray();
        QTest::newRow("main syntax error") << named << QByteArray("function main( return 1 end");
        QTest::newRow("main endless") << named << QByteArray("while true do end");
    }
    void pluginsThatDoNotLoadAreSkipped()
    {
        QFETCH(QByteArray, info);
        QFETCH(QByteArray, mainLua);
        QCOMPARE(scan(info, mainLua), 0);
    }

    void overlongInfoValuesAreCutAtCharacterBoundaries()
    {
        QCOMPARE(scan("plugin_name = string.rep('é', 600) plugin_version = 'a' .. string.rep('中', 30) "
                      "plugin_bundle_id = string.rep('b', 5000) plugin_desc = string.rep('😀', 1000)",
                      ""),
                 1);
        const PluginRecord *record = m_box->registry()->records[0];
        QCOMPARE(qstrlen(record->name), size_t(1022));
        QCOMPARE(QByteArray(record->version), "a" + QByteArray("中").repeated(20));
        QCOMPARE(qstrlen(record->bundle_id), kPluginBundleIdCapacity - 1);
        QCOMPARE(qstrlen(record->desc), size_t(2044));
        for (const char *field : {record->name, record->version, record->desc})
            QCOMPARE(QString::fromUtf8(field).toUtf8(), QByteArray(field)); // whole characters only
    }

    void registryHoldsAtMostItsCapacity()
    {
        const QByteArray info = PackageBuilder::infoLua("id", "P");
        for (int i = 0; i <= kPluginRegistryCapacity; ++i)
            QVERIFY(PackageBuilder::writePluginFolder(m_box->root(), u"p%1.cplugin"_s.arg(i), info, ""));
        plugin_registry_scan(m_box->registry());
        QCOMPARE(m_box->registry()->count, kPluginRegistryCapacity);
    }

    void cleanup()
    {
        for (const PluginObject &plugin : m_manager.listUserPlugins())
            removePlugin(plugin);
    }

    void systemPluginsTransformText()
    {
        // Every script's letters change case; "ß" has no single capital.
        QCOMPARE(run(u"org.quillet.plugin.uppercase"_s, u"straße Ελλάδα Ёлка ǅemal héllo 汉字"_s),
                 u"STRASSE ΕΛΛΆΔΑ ЁЛКА ǄEMAL HÉLLO 汉字"_s);
        QCOMPARE(run(u"org.quillet.plugin.striphtml"_s,
                     u"<html><style>p{}</style><p>Tom &amp; Jerry&#33; &#x4E2D;&lt;3</p><!-- x -->"
                     "<SCRIPT>a<b</SCRIPT><br/>1 < 2</html>"_s),
                 u"Tom & Jerry! 中<3\n\n1 < 2"_s);
    }

    void userPluginReplacesSystemPluginInListingOnly()
    {
        const QString id = u"org.quillet.plugin.uppercase"_s;
        const PluginObject system = m_manager.listPlugins().value(id);
        QVERIFY(installPlugin(id, "Mine", "function main() return 'mine' end").isInstalled());
        QCOMPARE(run(id, u"x"_s), u"mine"_s);

        // Asking to remove the system plugin leaves its folder alone.
        removePlugin(system);
        QVERIFY(QFile::exists(QString::fromUtf8(system.pluginPath()) + u"main.lua"_s));

        removePlugin(m_manager.listUserPlugins().value(id));
        QCOMPARE(run(id, u"x"_s), u"X"_s);
    }

    void userPluginStateRestartsAfterInstallOrRemove()
    {
        const PluginObject counter =
            installPlugin(u"test.counter"_s, "Counter", "n = 0 function main() n = n + 1 return n end");
        for (const char *expected : {"1", "2"})
            QCOMPARE(m_manager.processText({}, counter), std::optional<QString>(QLatin1String(expected)));

        // The object listed before a reload (here by another install) still finds its plugin, in a
        // fresh state.
        QVERIFY(installPlugin(u"test.other"_s, "Other", "function main() return 'o' end").isInstalled());
        QCOMPARE(m_manager.processText({}, counter), std::optional<QString>(u"1"_s));
        removePlugin(counter);
        QCOMPARE(m_manager.processText({}, counter), std::nullopt);
    }

    void asyncProcessingKeepsTheCallerFree()
    {
        const PluginObject loop =
            installPlugin(u"test.loop"_s, "Loop",
                          "function main(t) if t == 'loop' then while true do end end return t:upper() end");

        auto gone = std::make_unique<QObject>();
        bool goneCalled = false;
        m_manager.processText(u"x"_s, loop, gone.get(), [&](std::optional<QString>) { goneCalled = true; });
        gone.reset();

        std::optional<std::optional<QString>> looped;
        m_manager.processText(u"loop"_s, loop, this, [&](std::optional<QString> r) { looped = r; });
        std::optional<std::optional<QString>> after;
        m_manager.processText(u"ok"_s, loop, this, [&](std::optional<QString> r) { after = r; });
        QVERIFY(!looped.has_value()); // results arrive later, on the main thread

        QTRY_VERIFY_WITH_TIMEOUT(after.has_value(), 20000);
        QVERIFY(looped.has_value());
        QCOMPARE(*looped, std::nullopt);
        QCOMPARE(*after, std::optional<QString>(u"OK"_s));
        QVERIFY(!goneCalled);
    }

    void pluginsOpenOnlyValidUrls()
    {
        const PluginObject plugin =
            installPlugin(u"test.url"_s, "Url",
                          "function main(t) local r = app.openURL(t) "
                          "assert(require('app') == app) return type(r) .. ':' .. r end");
        for (const QString &text :
             {u"http://exa mple.com"_s, u"no url at all"_s, u"https://example.com/a?b=1"_s})
            QCOMPARE(m_manager.processText(text, plugin), std::optional<QString>(u"string:"_s));
        QTRY_COMPARE(m_opened, QList<QUrl>{QUrl(u"https://example.com/a?b=1"_s)});
    }

    // A packed folder installs, and require finds the plugin's own modules; broken packages fail.
    void packedFolderInstalls()
    {
        const QString folder = m_packages.path() + u"/Mine"_s;
        QVERIFY(PackageBuilder::writeFiles(
            folder, {{"info.lua", PackageBuilder::infoLua("test.packed", "Packed")},
                     {"main.lua", "local m = require('sub.helper') function main() return m end"},
                     {"sub/helper.lua", "return 'from helper'"}}));
        QVERIFY(!installFile(m_packages.path() + u"/missing.cpk"_s));

        const QString archive = m_packages.path() + u"/packed.cpk"_s;
        QString error;
        QVERIFY2(PluginPacker::pack(folder, archive, &error), qPrintable(error));
        QVERIFY(installFile(archive));
        const PluginObject plugin = m_manager.listPlugins().value(u"test.packed"_s);
        QCOMPARE(m_manager.processText({}, plugin), std::optional<QString>(u"from helper"_s));

        QVERIFY(PackageBuilder::writePluginFolder(
            m_packages.path(), u"Bad"_s, PackageBuilder::infoLua("id", "Bad"), "function main( end"));
        QVERIFY(!PluginPacker::pack(m_packages.path() + u"/Bad"_s, archive, &error));
    }
};

QTEST_GUILESS_MAIN(TestPluginPackage)
#include "tst_plugin_package.moc"
