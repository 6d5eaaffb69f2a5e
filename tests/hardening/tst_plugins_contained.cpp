// Plugins and scripts cannot take the program down: real Lua states, real packages and plugin
// folders in temporary folders, the real plugin queue, status menu, store and capture.

#include "CaptureWait.h"
#include "TestDirs.h"
#include "menu/PluginMenuFixture.h"
#include "plugins/PluginSandbox.h"

#include "platform/UrlOpener.h"
#include "plugins/AdvancePrivacyManager.h"
#include "plugins/PluginManager.h"

#include <QFileInfo>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;
using PackageBuilder::Entry;

namespace {

// A Lua string pattern that backtracks for ages inside one C call, where no hook runs.
constexpr char kStuckInC[] =
    "function main(text) return ((\"a\"):rep(40)):find((\"a*\"):rep(25) .. \"b\") end";

} // namespace

class TestPluginsContained final : public QObject
{
    Q_OBJECT

private:
    // Loads one plugin folder with this main.lua into the sandbox's registry and answers its record.
    static PluginRecord *loadPlugin(const PluginSandbox &box, const QByteArray &mainLua)
    {
        if (!PackageBuilder::writePluginFolder(box.root(), u"p.cplugin"_s, PackageBuilder::infoLua("p", "P"),
                                               mainLua)
            || plugin_registry_reload(box.registry()) != 0 || box.registry()->count != 1)
            return nullptr;
        return box.registry()->records[0];
    }

    TestDirs m_dirs;

private slots:
    // The time limit is the host's hook; a script can neither remove nor replace it.
    void theDeadlineHoldsAgainstTheScript()
    {
        PluginSandbox box;
        QVERIFY(box.registry());
        const QByteArray escapes[] = {
            "function main(t) debug.sethook() while true do end end",
            "function main(t) pcall(debug.sethook) while true do end end",
            "function main(t) pcall(debug.sethook, function() end, '', 0) while true do end end",
            "function main(t) local co = coroutine.wrap(function() pcall(debug.sethook) while true do end end) co() end",
            "function main(t) local h = debug.gethook() return tostring(h) end",
        };
        for (const QByteArray &mainLua : escapes) {
            PluginRecord *record = loadPlugin(box, mainLua);
            QVERIFY2(record && !plugin_call_main(record, "x"), mainLua.constData());
        }
        // Everything else of the debug library is still there.
        PluginRecord *record = loadPlugin(box, "function main(t) return type(debug.traceback) end");
        QCOMPARE(QByteArray(plugin_call_main(record, "x")), QByteArray("function"));

        // The privacy script is held to its time limit the same way.
        AdvancePrivacyManager privacy{testSettings()};
        QVERIFY(privacy.testScript(u"function main() pcall(debug.sethook) while true do end end"_s)
                    .value_or(QString())
                    .contains(u"脚本运行超时"_s));
    }

    // A plugin stuck in C holds the plugin queue; the menu and the capture go on.
    void aPluginStuckInCLeavesMenuAndCaptureWorking()
    {
        const UrlOpener opener(nullptr, {});
        PluginManager manager(opener);
        const PluginSandbox box;
        const QString archive = box.path(u"stuck.cpk"_s);
        QVERIFY(PackageBuilder::writeZip(
            archive, PackageBuilder::pluginEntries("s.cplugin", "test.stuck", "卡住", kStuckInC)));
        std::optional<bool> installed;
        manager.installPlugin(QUrl::fromLocalFile(archive), this, [&](bool ok) { installed = ok; });
        QTRY_VERIFY_WITH_TIMEOUT(installed.has_value(), 10000);
        QVERIFY(*installed);

        PluginMenuFixture menu(manager, u"some text"_s);
        QAction *stuck = menu.clipAction(u"卡住"_s);
        QVERIFY(stuck);
        stuck->trigger(); // returns at once; the plugin now holds the plugin queue

        // The menu is rebuilt, and the capture stores a new clip.
        menu.menus.buildMenu();
        menu.clipAction(u"卡住"_s); // opening the clip's actions must not wait for the plugin
        ClipController capture(menu.pasteboard, testFiles());
        menu.pasteboard.writeString(u"copied while a plugin is stuck"_s);
        QVERIFY(captureNow(capture));
    }

    // A plugin folder that is a link to the user's files: removing it removes the link only.
    // (tst_plugin_package runs bad packages and links inside a plugin.)
    void removingALinkedPluginFolderKeepsItsTarget()
    {
        const PluginSandbox box;
        QVERIFY(box.registry());
        const QString precious = box.path(u"precious"_s);
        QVERIFY(PackageBuilder::writeFiles(precious, {Entry{"info.lua", PackageBuilder::infoLua("id.l", "L")},
                                                      Entry{"main.lua", ""}, Entry{"notes.txt", "keep me"}}));
        const QString link = box.root() + u"/linked.cplugin"_s;
        QVERIFY(QFile::link(precious, link));
        QCOMPARE(plugin_remove(PluginSandbox::path8(link + u"/"_s).constData(), box.registry()), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(QFile::exists(precious + u"/notes.txt"_s));
    }

    // info.lua runs while a package is installed: it can neither touch files nor start
    // programs. The plugin's own main.lua keeps the standard libraries.
    void infoLuaOfAPackageIsConfined()
    {
        const PluginSandbox box;
        PluginRegistry *registry = box.registry();
        QVERIFY(registry);
        const QByteArray marker = PluginSandbox::path8(box.path(u"marker"_s));
        QByteArray info = PackageBuilder::infoLua("id.c", "C");
        const QList<QByteArray> attempts = {"io.open('" + marker + "', 'w'):write('x')",
                                            "os.execute('touch " + marker + "')",
                                            "loadfile('/etc/hostname')()",
                                            "dofile('/etc/hostname')",
                                            "require('io').open('" + marker + "', 'w')",
                                            "package.loadlib('liblua5.2.so.0', 'luaopen_io')",
                                            "load('x = 1')()",
                                            "loadstring('x = 1')()"};
        for (const QByteArray &attempt : attempts)
            info += "pcall(function() " + attempt + " end)\n";
        info += "plugin_desc = type(io) .. type(os) .. type(require) .. type(loadfile) .. type(dofile)"
                " .. type(load) .. type(string.upper) .. type(table.concat) .. type(math.floor)\n";
        QCOMPARE(
            box.install(
                {Entry{"Payload/c.cplugin/info.lua", info},
                 Entry{"Payload/c.cplugin/main.lua",
                       "function main() return type(io.open) .. type(os.execute) .. type(require) end"}}),
            0);
        QVERIFY(!QFile::exists(QString::fromUtf8(marker)));
        QCOMPARE(registry->count, 1);
        QCOMPARE(QByteArray(registry->records[0]->desc),
                 QByteArray("nilnilnilnilnilnilfunctionfunctionfunction"));
        QCOMPARE(QByteArray(plugin_call_main(registry->records[0], "")),
                 QByteArray("functionfunctionfunction"));
    }
};

QTEST_MAIN(TestPluginsContained)
#include "tst_plugins_contained.moc"
