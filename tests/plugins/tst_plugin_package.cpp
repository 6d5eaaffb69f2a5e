// The plugin file module through its plain functions: package extraction and install, and the
// Lua side of records and registries (remove and links: tst_plugins_contained). Packages are real zip files
// in temporary folders.

#include "PackageBuilder.h"
#include "PluginSandbox.h"
#include "TestFiles.h"
#include "plugins/package.h"
#include "support/Md5.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using PackageBuilder::Entry;
Q_DECLARE_METATYPE(PackageBuilder::Entry)

using namespace Qt::StringLiterals;

namespace {

const auto path8 = &PluginSandbox::path8;

} // namespace

class TestPluginPackage final : public QObject
{
    Q_OBJECT

private:
    QString path(const QString &name) const { return m_box->path(name); }
    QString root() const { return m_box->root(); }
    QString extraction() const { return m_box->extraction(); }
    PluginRegistry *registry() const { return m_box->registry(); }
    int install(const QList<Entry> &entries) { return m_box->install(entries); }

    // Writes <root>/p.cplugin and scans the registry; answers how many plugins it holds.
    int scan(const QByteArray &info, const QByteArray &mainLua)
    {
        PackageBuilder::writePluginFolder(root(), u"p.cplugin"_s, info, mainLua);
        plugin_registry_scan(registry());
        return registry()->count;
    }

    QStringList rootFolders() const { return QDir(root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot); }

    QString installedFolder(const QByteArray &bundleId) const
    {
        return root() + QLatin1Char('/') + md5_hex(bundleId) + u".cplugin"_s;
    }

    std::unique_ptr<PluginSandbox> m_box;

private slots:
    void init()
    {
        m_box = std::make_unique<PluginSandbox>();
        QVERIFY(registry());
    }

    void unzipFailsOnBrokenArchives_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("not a zip") << u"garbage"_s;
        QTest::newRow("cut short") << u"cut"_s;
        QTest::newRow("damaged entry bytes") << u"flip"_s;
        QTest::newRow("entry shorter than it claims") << u"size"_s;
        QTest::newRow("file over a folder") << u"clash"_s;
    }
    void unzipFailsOnBrokenArchives()
    {
        QFETCH(QString, damage);
        const QString archive = path(u"broken.cpk"_s);
        const QByteArray content(4000, 'A');
        QList<Entry> entries{Entry{"dir/", {}}, Entry{"dir/file.txt", content}};
        if (damage == "clash"_L1)
            entries << Entry{"dir", "a file where a folder is"};
        QVERIFY(PackageBuilder::writeZip(archive, entries, true));
        QByteArray bytes = TestFiles::read(archive);
        if (damage == "garbage"_L1)
            bytes = "this is no zip archive at all";
        else if (damage == "cut"_L1)
            bytes.truncate(bytes.size() / 2);
        else if (damage == "flip"_L1)
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
        QCOMPARE(package_unzip(path8(archive).constData(), path8(extraction()).constData()), 1);
    }

    // A second package of the same bundle id replaces the first, files and all (the first has
    // no folder entries: the missing parents are created); of two plugins in one package, one
    // is taken.
    void installReplacesThePluginOfTheSameBundleId()
    {
        QCOMPARE(install(PackageBuilder::pluginEntries("a.cplugin", "same.id", "Old", "return 1", false)
                         << Entry{"Payload/a.cplugin/old.lua", "-- old"}),
                 0);
        QVERIFY(QFile::exists(installedFolder("same.id") + u"/old.lua"_s));
        QCOMPARE(install(PackageBuilder::pluginEntries("b.cplugin", "same.id", "New", "")
                         + PackageBuilder::pluginEntries("c.cplugin", "id.c", "C", "", false)),
                 0);
        QCOMPARE(rootFolders(), {md5_hex(QByteArray("same.id")) + u".cplugin"_s});
        QVERIFY(!QFile::exists(installedFolder("same.id") + u"/old.lua"_s));
        QCOMPARE(QByteArray(registry()->records[0]->name), QByteArray("New"));
    }

    // Nothing is installed and nothing stays in the extraction folder; an entry whose name leaves
    // the destination stops the extraction before anything is written.
    void installRefusesBadPackages_data()
    {
        QTest::addColumn<QList<Entry>>("entries");
        const QList<Entry> plugin = PackageBuilder::pluginEntries("a.cplugin", "id", "A", "");
        QList<Entry> noPayload;
        for (Entry entry : plugin)
            noPayload << Entry{entry.name.replace("Payload", "Other"), entry.content};
        QTest::newRow("no Payload") << noPayload;
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
            entry.name.replace("/tmp/", path8(extraction() + QLatin1Char('/')));
        QCOMPARE(install(entries), 1);
        QCOMPARE(registry()->count, 0);
        QStringList written;
        for (QDirIterator files(m_box->folder(), QDir::Files, QDirIterator::Subdirectories); files.hasNext();)
            written << files.next();
        QCOMPARE(written, QStringList{path(u"p.cpk"_s)});
    }

    void mainResults_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("expected"); // null for no result
        QTest::newRow("string") << QByteArray("return text .. '!'") << QByteArray("héllo!");
        QTest::newRow("number") << QByteArray("return 42") << QByteArray("42");
        QTest::newRow("empty string") << QByteArray("return ''") << QByteArray("");
        QTest::newRow("nil") << QByteArray("return nil") << QByteArray();
        QTest::newRow("table") << QByteArray("return {}") << QByteArray();
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
            const char *result = plugin_call_main(registry()->records[0], "héllo", &length);
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
        QTest::addColumn<bool>("loads");
        const QByteArray named = "plugin_name = 'x' plugin_bundle_id = 'x' ";
        QTest::newRow("numbers") << QByteArray("plugin_name = 12 plugin_bundle_id = 3.5") << QByteArray()
                                 << true;
        QTest::newRow("no name") << QByteArray("plugin_bundle_id = 'x'") << QByteArray() << false;
        QTest::newRow("table name") << QByteArray("plugin_name = {} plugin_bundle_id = 'x'") << QByteArray()
                                    << false;
        QTest::newRow("info error") << named + "error('no')" << QByteArray() << false;
        QTest::newRow("info endless") << named + "while true do end" << QByteArray() << false;
        QTest::newRow("info hostile globals")
            << named + "setmetatable(_G, {__index = function() error('no') end})" << QByteArray() << false;
        QTest::newRow("main syntax error") << named << QByteArray("function main( return 1 end") << false;
        QTest::newRow("main endless") << named << QByteArray("while true do end") << false;
    }
    void pluginsThatDoNotLoadAreSkipped()
    {
        QFETCH(QByteArray, info);
        QFETCH(QByteArray, mainLua);
        QFETCH(bool, loads);
        QCOMPARE(scan(info, mainLua), loads ? 1 : 0);
    }

    void overlongInfoValuesAreCutAtCharacterBoundaries()
    {
        QCOMPARE(scan("plugin_name = string.rep('é', 600) plugin_version = 'a' .. string.rep('中', 30) "
                      "plugin_bundle_id = string.rep('b', 5000) plugin_desc = string.rep('😀', 1000)",
                      ""),
                 1);
        const PluginRecord *record = registry()->records[0];
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
            QVERIFY(PackageBuilder::writePluginFolder(root(), u"p%1.cplugin"_s.arg(i), info, ""));
        plugin_registry_scan(registry());
        QCOMPARE(registry()->count, kPluginRegistryCapacity);
    }
};

QTEST_GUILESS_MAIN(TestPluginPackage)
#include "tst_plugin_package.moc"
