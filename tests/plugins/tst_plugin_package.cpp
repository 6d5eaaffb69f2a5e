// The plugin file module through its plain functions: package extraction, install and remove,
// and the Lua side of records and registries. Packages are real zip files in temporary folders.

#include "PackageBuilder.h"
#include "plugins/package.h"
#include "support/Md5.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using PackageBuilder::Entry;
Q_DECLARE_METATYPE(PackageBuilder::Entry)

namespace {

struct RegistryDeleter {
    void operator()(PluginRegistry *registry) const { plugin_registry_free(registry); }
};
using Registry = std::unique_ptr<PluginRegistry, RegistryDeleter>;

QByteArray path8(const QString &path)
{
    return QFile::encodeName(path);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool isUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    (void)decoder.decode(bytes);
    return !decoder.hasError();
}

} // namespace

class TestPluginPackage final : public QObject
{
    Q_OBJECT

private:
    QString path(const QString &name) const { return m_dir->path() + QLatin1Char('/') + name; }
    QString root() const { return path(QStringLiteral("plugins")); }
    QString extraction() const { return path(QStringLiteral("tmp")); }

    Registry newRegistry(const QString &rootFolder)
    {
        QDir().mkpath(rootFolder);
        QDir().mkpath(extraction());
        Registry registry(plugin_registry_new());
        plugin_registry_set_paths(path8(rootFolder).constData(), path8(extraction()).constData(), registry.get());
        return registry;
    }

    // A registry holding one plugin whose main.lua is the given code.
    Registry registryWith(const QByteArray &mainLua, const QByteArray &bundleId = "test.plugin")
    {
        PackageBuilder::writePluginFolder(root(), QStringLiteral("one.cplugin"),
                                          PackageBuilder::infoLua(bundleId, "One"), mainLua);
        Registry registry = newRegistry(root());
        plugin_registry_scan(registry.get());
        return registry;
    }

    QString installedFolder(const QByteArray &bundleId) const
    {
        return root() + QLatin1Char('/') + md5_hex(bundleId) + QStringLiteral(".cplugin");
    }

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void unzipWritesFilesAndCreatesMissingParents_data()
    {
        QTest::addColumn<bool>("folderEntries");
        QTest::newRow("with folder entries") << true;
        QTest::newRow("files only") << false;
    }
    void unzipWritesFilesAndCreatesMissingParents()
    {
        QFETCH(bool, folderEntries);
        const QString archive = path(QStringLiteral("p.cpk"));
        QVERIFY(PackageBuilder::writeZip(
            archive, PackageBuilder::pluginEntries("a.cplugin", "id", "A", "return 1", folderEntries)));
        QDir().mkpath(path(QStringLiteral("out")));
        QCOMPARE(package_unzip(path8(archive).constData(), path8(path(QStringLiteral("out"))).constData()), 0);
        QCOMPARE(readFile(path(QStringLiteral("out/Payload/a.cplugin/main.lua"))), QByteArray("return 1"));
    }

    void unzipRefusesNamesLeavingTheDestination_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("parent") << QByteArray("../outside.txt");
        QTest::newRow("nested parent") << QByteArray("Payload/../../outside.txt");
        QTest::newRow("parent folder") << QByteArray("../outside.txt/");
        QTest::newRow("absolute") << QByteArray("/outside.txt");
    }
    void unzipRefusesNamesLeavingTheDestination()
    {
        QFETCH(QByteArray, name);
        const QString archive = path(QStringLiteral("evil.cpk"));
        const QString destination = path(QStringLiteral("dest/inner"));
        QDir().mkpath(destination);
        // An absolute name is made to point into the temporary folder.
        const QByteArray entryName = name.startsWith('/') ? path8(m_dir->path()) + name : name;
        QVERIFY(PackageBuilder::writeZip(archive, {Entry{"good.txt", "fine"}, Entry{entryName, "evil"}}));

        QCOMPARE(package_unzip(path8(archive).constData(), path8(destination).constData()), 1);
        QVERIFY(!QFile::exists(path(QStringLiteral("dest/outside.txt"))));
        QVERIFY(!QFile::exists(path(QStringLiteral("outside.txt"))));
        QVERIFY2(!QFile::exists(destination + QStringLiteral("/good.txt")), "nothing is written at all");
    }

    void unzipFailsOnBrokenArchives_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("not a zip") << QStringLiteral("garbage");
        QTest::newRow("empty file") << QStringLiteral("empty");
        QTest::newRow("missing file") << QStringLiteral("missing");
        QTest::newRow("cut short") << QStringLiteral("cut");
        QTest::newRow("damaged entry bytes") << QStringLiteral("flip");
        QTest::newRow("entry shorter than it claims") << QStringLiteral("size");
        QTest::newRow("file over a folder") << QStringLiteral("clash");
    }
    void unzipFailsOnBrokenArchives()
    {
        QFETCH(QString, damage);
        const QString archive = path(QStringLiteral("broken.cpk"));
        const QByteArray content(4000, 'A');
        QList<Entry> entries{Entry{"dir/", {}}, Entry{"dir/file.txt", content}};
        if (damage == QLatin1String("clash"))
            entries << Entry{"dir", "a file where a folder is"};
        QVERIFY(PackageBuilder::writeZip(archive, entries, true));
        QByteArray bytes = readFile(archive);
        if (damage == QLatin1String("garbage"))
            bytes = "this is no zip archive at all";
        else if (damage == QLatin1String("empty"))
            bytes.clear();
        else if (damage == QLatin1String("cut"))
            bytes.truncate(bytes.size() / 2);
        else if (damage == QLatin1String("flip"))
            bytes[bytes.indexOf(content) + 1000] = 'B';
        else if (damage == QLatin1String("size")) {
            // Raise the uncompressed size in the local and the central header of the file entry.
            for (const QByteArray &signature : {QByteArray("PK\x03\x04", 4), QByteArray("PK\x01\x02", 4)}) {
                const int header = bytes.indexOf(signature, bytes.indexOf(signature) + 1);
                const int offset = header + (signature[2] == 3 ? 22 : 24);
                bytes[offset + 1] = static_cast<char>(bytes[offset + 1] + 1);
            }
        }
        if (damage == QLatin1String("missing")) {
            QFile::remove(archive);
        } else {
            QFile file(archive);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(bytes);
        }
        QDir().mkpath(path(QStringLiteral("out")));
        QCOMPARE(package_unzip(path8(archive).constData(), path8(path(QStringLiteral("out"))).constData()), 1);
    }

    void installReplacesThePluginOfTheSameBundleId()
    {
        Registry registry = newRegistry(root());
        const QString archive = path(QStringLiteral("p.cpk"));
        QVERIFY(PackageBuilder::writeZip(archive, PackageBuilder::pluginEntries("a.cplugin", "same.id", "Old", "")
                                                      << Entry{"Payload/a.cplugin/old.lua", "-- old"}));
        QCOMPARE(plugin_install_package(path8(archive).constData(), registry.get()), 0);
        QVERIFY(QFile::exists(installedFolder("same.id") + QStringLiteral("/old.lua")));

        QVERIFY(PackageBuilder::writeZip(archive, PackageBuilder::pluginEntries("b.cplugin", "same.id", "New", "")));
        QCOMPARE(plugin_install_package(path8(archive).constData(), registry.get()), 0);
        QCOMPARE(QDir(root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), {md5_hex(QByteArray("same.id")) + QStringLiteral(".cplugin")});
        QVERIFY(!QFile::exists(installedFolder("same.id") + QStringLiteral("/old.lua")));
        QCOMPARE(registry->count, 1);
        QCOMPARE(QByteArray(registry->records[0]->name), QByteArray("New"));
    }

    void installTakesOnePluginOfTwo()
    {
        Registry registry = newRegistry(root());
        const QString archive = path(QStringLiteral("two.cpk"));
        QVERIFY(PackageBuilder::writeZip(archive, PackageBuilder::pluginEntries("a.cplugin", "id.a", "A", "")
                                                      + PackageBuilder::pluginEntries("b.cplugin", "id.b", "B", "", false)));
        QCOMPARE(plugin_install_package(path8(archive).constData(), registry.get()), 0);
        QCOMPARE(QDir(root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
        QCOMPARE(registry->count, 1);
    }

    void installRefusesIncompletePackages_data()
    {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<bool>("leavesFiles");
        QList<Entry> noPayload;
        for (Entry entry : PackageBuilder::pluginEntries("a.cplugin", "id", "A", ""))
            noPayload << Entry{entry.name.replace("Payload", "Other"), entry.content};
        QTest::newRow("no Payload") << noPayload << true;
        QTest::newRow("no bundle id") << QList<Entry>{Entry{"Payload/a.cplugin/info.lua", "plugin_name = 'A'"},
                                                      Entry{"Payload/a.cplugin/main.lua", ""}}
                                      << true;
        QTest::newRow("no plugin folder") << QList<Entry>{Entry{"Payload/readme.txt", "hi"}} << true;
        QTest::newRow("zip slip") << (PackageBuilder::pluginEntries("a.cplugin", "id", "A", "")
                                      << Entry{"Payload/../../../escaped.lua", "evil"})
                                  << false;
    }
    void installRefusesIncompletePackages()
    {
        QFETCH(QList<Entry>, entries);
        QFETCH(bool, leavesFiles);
        Registry registry = newRegistry(root());
        const QString archive = path(QStringLiteral("p.cpk"));
        QVERIFY(PackageBuilder::writeZip(archive, entries));
        QCOMPARE(plugin_install_package(path8(archive).constData(), registry.get()), 1);
        const Registry withoutPaths(plugin_registry_new());
        QCOMPARE(plugin_install_package(path8(archive).constData(), withoutPaths.get()), 1);
        QVERIFY(QDir(root()).isEmpty());
        QCOMPARE(registry->count, 0);
        QVERIFY(!QFile::exists(path(QStringLiteral("escaped.lua"))));
        QDirIterator files(extraction(), QDir::Files, QDirIterator::Subdirectories);
        QCOMPARE(files.hasNext(), leavesFiles);
    }

    void removeDeletesOnlyPluginsOfItsRoot()
    {
        Registry registry = newRegistry(root());
        const QString archive = path(QStringLiteral("p.cpk"));
        QVERIFY(PackageBuilder::writeZip(archive, PackageBuilder::pluginEntries("a.cplugin", "id", "A", "")));
        QCOMPARE(plugin_install_package(path8(archive).constData(), registry.get()), 0);

        // A folder of another root (the system plugins) is never deleted.
        const QString elsewhere = path(QStringLiteral("system"));
        QVERIFY(PackageBuilder::writePluginFolder(elsewhere, QStringLiteral("s.cplugin"), "", ""));
        QCOMPARE(plugin_remove(path8(elsewhere + QStringLiteral("/s.cplugin/")).constData(), registry.get()), 0);
        QVERIFY(QFile::exists(elsewhere + QStringLiteral("/s.cplugin/main.lua")));

        // Links inside a plugin are removed, never followed.
        QVERIFY(QFile::link(elsewhere, installedFolder("id") + QStringLiteral("/link")));
        QCOMPARE(plugin_remove(path8(installedFolder("id") + QLatin1Char('/')).constData(), registry.get()), 0);
        QVERIFY(!QFile::exists(installedFolder("id")));
        QVERIFY(QFile::exists(elsewhere + QStringLiteral("/s.cplugin/main.lua")));
        QCOMPARE(registry->count, 0);

        // A folder that has vanished still reloads the registry.
        QVERIFY(PackageBuilder::writePluginFolder(root(), QStringLiteral("new.cplugin"),
                                                  PackageBuilder::infoLua("new", "New"), ""));
        QCOMPARE(plugin_remove(path8(installedFolder("id")).constData(), registry.get()), 0);
        QCOMPARE(registry->count, 1);
    }

    void mainResults_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("hasResult");
        QTest::newRow("string") << QByteArray("return text .. '!'") << QByteArray("héllo!") << true;
        QTest::newRow("number") << QByteArray("return 42") << QByteArray("42") << true;
        QTest::newRow("empty string") << QByteArray("return ''") << QByteArray() << true;
        QTest::newRow("nil") << QByteArray("return nil") << QByteArray() << false;
        QTest::newRow("nothing") << QByteArray("") << QByteArray() << false;
        QTest::newRow("boolean") << QByteArray("return true") << QByteArray() << false;
        QTest::newRow("table") << QByteArray("return {}") << QByteArray() << false;
        QTest::newRow("error") << QByteArray("error('boom')") << QByteArray() << false;
        QTest::newRow("hostile globals")
            << QByteArray("setmetatable(_G, {__index = function() error('no') end}) main = nil")
            << QByteArray() << false;
    }
    void mainResults()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, expected);
        QFETCH(bool, hasResult);
        Registry registry = registryWith("function main(text) " + body + " end");
        QCOMPARE(registry->count, 1);
        // Twice: the first call may have changed the plugin's globals.
        for (int call = 0; call < 2; ++call) {
            std::size_t length = 0;
            const char *result = plugin_call_main(registry->records[0], "héllo", &length);
            QCOMPARE(result != nullptr, hasResult);
            if (result)
                QCOMPARE(QByteArray(result, static_cast<qsizetype>(length)), expected);
        }
    }

    void globalsLastUntilReload()
    {
        Registry registry = registryWith("count = 0 function main() count = count + 1 return count end");
        for (const char *expected : {"1", "2", "3"})
            QCOMPARE(plugin_call_main(registry->records[0], ""), expected);
        plugin_registry_reload(registry.get());
        QCOMPARE(plugin_call_main(registry->records[0], ""), "1");
    }

    void requireFindsTheOwnModules()
    {
        QFile module(root() + QStringLiteral("/one.cplugin/helper_mod.lua"));
        QDir().mkpath(root() + QStringLiteral("/one.cplugin"));
        QVERIFY(module.open(QIODevice::WriteOnly));
        module.write("return { shout = function(s) return s:upper() end }");
        module.close();
        Registry registry = registryWith("local h = require('helper_mod') function main(t) return h.shout(t) end");
        QCOMPARE(plugin_call_main(registry->records[0], "abc"), "ABC");
    }

    void brokenPluginsAreSkippedUntilMended()
    {
        Registry registry = registryWith("function main( return 1 end");
        QCOMPARE(registry->count, 0);
        QVERIFY(PackageBuilder::writePluginFolder(root(), QStringLiteral("one.cplugin"),
                                                  PackageBuilder::infoLua("id", "One"), "function main() return 1 end"));
        plugin_registry_reload(registry.get());
        QCOMPARE(registry->count, 1);
    }

    void infoValues_data()
    {
        QTest::addColumn<QByteArray>("info");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("numbers") << QByteArray("plugin_name = 12 plugin_bundle_id = 3.5") << true;
        QTest::newRow("no name") << QByteArray("plugin_bundle_id = 'x'") << false;
        QTest::newRow("no bundle id") << QByteArray("plugin_name = 'x'") << false;
        QTest::newRow("table name") << QByteArray("plugin_name = {} plugin_bundle_id = 'x'") << false;
        QTest::newRow("error") << QByteArray("plugin_name = 'x' plugin_bundle_id = 'x' error('no')") << false;
        QTest::newRow("hostile globals")
            << QByteArray("plugin_name = 'x' plugin_bundle_id = 'x' "
                          "setmetatable(_G, {__index = function() error('no') end})")
            << false;
    }
    void infoValues()
    {
        QFETCH(QByteArray, info);
        QFETCH(bool, accepted);
        QVERIFY(PackageBuilder::writePluginFolder(root(), QStringLiteral("p.cplugin"), info, ""));
        PluginRecord *record = nullptr;
        QCOMPARE(plugin_read_info(&record, path8(root() + QStringLiteral("/p.cplugin/")).constData()),
                 accepted ? 1 : 0);
        QCOMPARE(record != nullptr, accepted);
        plugin_record_free(record);
    }

    void overlongInfoValuesAreCutAtCharacterBoundaries()
    {
        QVERIFY(PackageBuilder::writePluginFolder(
            root(), QStringLiteral("p.cplugin"),
            "plugin_name = string.rep('é', 600) plugin_version = 'a' .. string.rep('中', 30) "
            "plugin_bundle_id = string.rep('b', 5000) plugin_desc = string.rep('😀', 1000)",
            ""));
        PluginRecord *record = nullptr;
        QCOMPARE(plugin_read_info(&record, path8(root() + QStringLiteral("/p.cplugin/")).constData()), 1);
        QCOMPARE(qstrlen(record->name), size_t(1022));
        QCOMPARE(QByteArray(record->version), "a" + QByteArray("中").repeated(20));
        QCOMPARE(qstrlen(record->bundle_id), kPluginBundleIdCapacity - 1);
        QCOMPARE(qstrlen(record->desc), size_t(2044));
        for (const char *field : {record->name, record->version, record->desc})
            QVERIFY(isUtf8(QByteArray(field)));
        plugin_record_free(record);
    }

    void registryHoldsAtMostItsCapacity()
    {
        const QByteArray info = PackageBuilder::infoLua("id", "P");
        for (int i = 0; i <= kPluginRegistryCapacity; ++i)
            QVERIFY(PackageBuilder::writePluginFolder(root(), QStringLiteral("p%1.cplugin").arg(i), info, ""));
        Registry registry = newRegistry(root());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("1 plugin folders were skipped")));
        plugin_registry_scan(registry.get());
        QCOMPARE(registry->count, kPluginRegistryCapacity);
    }

    void runawayCodeIsStopped()
    {
        QElapsedTimer timer;
        timer.start();
        Registry registry = registryWith("function main(t) if t == 'loop' then while true do end end return 'ok' end");
        QVERIFY(!plugin_call_main(registry->records[0], "loop"));
        QCOMPARE(plugin_call_main(registry->records[0], "again"), "ok");

        // A loop in info.lua or at the top of main.lua makes no plugin either.
        QVERIFY(PackageBuilder::writePluginFolder(root(), QStringLiteral("one.cplugin"),
                                                  "plugin_name='x' plugin_bundle_id='y' while true do end", ""));
        QVERIFY(PackageBuilder::writePluginFolder(root(), QStringLiteral("two.cplugin"),
                                                  PackageBuilder::infoLua("two", "Two"), "while true do end"));
        plugin_registry_reload(registry.get());
        QCOMPARE(registry->count, 0);
        QVERIFY(timer.elapsed() < 60000);
    }
};

QTEST_GUILESS_MAIN(TestPluginPackage)
#include "tst_plugin_package.moc"
