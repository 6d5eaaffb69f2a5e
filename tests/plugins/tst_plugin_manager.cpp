// PluginManager with its real queue, the shipped system plugins and user plugins installed from
// packages built in a temporary data folder.

#include "PackageBuilder.h"
#include "TestDirs.h"
#include "platform/UrlOpener.h"
#include "plugins/PluginManager.h"
#include "plugins/PluginPacker.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

#include <memory>

class TestPluginManager final : public QObject
{
    Q_OBJECT

private:
    PluginManager &manager() { return m_manager; }

    // Installs a package holding one plugin, waits for the completion and answers the listed plugin
    // of that bundle id (an empty object, which gives no result, when the install failed).
    PluginObject install(const QString &bundleId, const QByteArray &name, const QByteArray &mainLua)
    {
        const QString archive = m_packages.path() + u"/p.cpk"_s;
        const QList<PackageBuilder::Entry> entries =
            PackageBuilder::pluginEntries("x.cplugin", bundleId.toUtf8(), name, mainLua);
        if (!PackageBuilder::writeZip(archive, entries) || !installFile(archive))
            return {};
        return manager().listPlugins().value(bundleId);
    }

    bool installFile(const QString &archive)
    {
        std::optional<bool> installed;
        manager().installPlugin(QUrl::fromLocalFile(archive), this, [&](bool ok) { installed = ok; });
        return QTest::qWaitFor([&] { return installed.has_value(); }, 10000) && *installed;
    }

    void remove(const PluginObject &plugin)
    {
        bool done = false;
        manager().removePlugin(plugin, this, [&] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    }

    std::optional<QString> run(const QString &bundleId, const QString &text)
    {
        return manager().processText(text, manager().listPlugins().value(bundleId));
    }

    TestDirs m_dirs;
    QTemporaryDir m_packages;
    QList<QUrl> m_opened;
    UrlOpener m_urlOpener{this, [this](const QUrl &url) { m_opened << url; }};
    PluginManager m_manager{m_urlOpener};

private slots:
    void cleanup()
    {
        for (const PluginObject &plugin : manager().listUserPlugins())
            remove(plugin);
        m_opened.clear();
    }

    void systemPluginsTransformText_data()
    {
        QTest::addColumn<QString>("plugin");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const char *plugin, const char *input, const char *expected) {
            QTest::newRow(name) << QString::fromUtf8(plugin) << QString::fromUtf8(input)
                                << QString::fromUtf8(expected);
        };
        // Every script's letters change case; "ß" has no single capital.
        row("upper", "uppercase", "straße Ελλάδα Ёлка ǅemal héllo 汉字",
            "STRASSE ΕΛΛΆΔΑ ЁЛКА ǄEMAL HÉLLO 汉字");
        row("whitespace", "whitespace", " \t a \n\n b\u3000c\u00a0 ", "a b c");
        row("json", "jsonformat", "{\"b\":[1,2.5e3,{}],\"a\":\"x\\\"y\",\"c\":null}",
            "{\n  \"b\": [\n    1,\n    2.5e3,\n    {}\n  ],\n  \"a\": \"x\\\"y\",\n  \"c\": null\n}");
        row("json, not json", "jsonformat", "{\"a\": 1,}", "{\"a\": 1,}");
        row("url decode, not text", "urldecode", "%FF%FE", "%FF%FE");
        row("strip html", "striphtml",
            "<html><style>p{}</style><p>Tom &amp; Jerry&#33; &#x4E2D;&lt;3</p><!-- x --><SCRIPT>a<b</SCRIPT>"
            "<br/>1 < 2</html>",
            "Tom & Jerry! 中<3\n\n1 < 2");
    }
    void systemPluginsTransformText()
    {
        QFETCH(QString, plugin);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(run(u"org.quillet.plugin."_s + plugin, input), std::optional<QString>(expected));
    }

    void userPluginReplacesSystemPluginInListingOnly()
    {
        const QString id = u"org.quillet.plugin.uppercase"_s;
        const PluginObject system = manager().listPlugins().value(id);
        QVERIFY(install(id, "Mine", "function main() return 'mine' end").isInstalled());
        QCOMPARE(run(id, u"x"_s), std::optional<QString>(u"mine"_s));

        // Asking to remove the system plugin leaves its folder alone.
        remove(system);
        QVERIFY(QFile::exists(QString::fromUtf8(system.pluginPath()) + u"main.lua"_s));
        QCOMPARE(manager().listPlugins().value(id).plugin_name(), u"Mine"_s);

        remove(manager().listUserPlugins().value(id));
        QCOMPARE(run(id, u"x"_s), std::optional<QString>(u"X"_s));
    }

    void userPluginStateRestartsAfterInstallOrRemove()
    {
        const PluginObject counter =
            install(u"test.counter"_s, "Counter", "n = 0 function main() n = n + 1 return n end");
        for (const char *expected : {"1", "2"})
            QCOMPARE(manager().processText({}, counter), std::optional<QString>(QLatin1String(expected)));

        // The object listed before a reload (here by another install) still finds its plugin, in a
        // fresh state.
        QVERIFY(install(u"test.other"_s, "Other", "function main() return 'o' end").isInstalled());
        QCOMPARE(manager().processText({}, counter), std::optional<QString>(u"1"_s));
        remove(counter);
        QCOMPARE(manager().processText({}, counter), std::nullopt);
    }

    void asyncProcessingKeepsTheCallerFree()
    {
        const PluginObject loop =
            install(u"test.loop"_s, "Loop",
                    "function main(t) if t == 'loop' then while true do end end return t:upper() end");

        auto gone = std::make_unique<QObject>();
        bool goneCalled = false;
        manager().processText(u"x"_s, loop, gone.get(), [&](std::optional<QString>) { goneCalled = true; });
        gone.reset();

        std::optional<std::optional<QString>> looped;
        manager().processText(u"loop"_s, loop, this, [&](std::optional<QString> r) { looped = r; });
        std::optional<std::optional<QString>> after;
        manager().processText(u"ok"_s, loop, this, [&](std::optional<QString> r) { after = r; });
        QVERIFY(!looped.has_value()); // results arrive later, on the main thread

        QTRY_VERIFY_WITH_TIMEOUT(after.has_value(), 20000);
        QVERIFY(looped.has_value());
        QCOMPARE(*looped, std::nullopt);
        QCOMPARE(*after, std::optional<QString>(u"OK"_s));
        QVERIFY(!goneCalled);
    }

    void pluginsOpenOnlyValidUrls()
    {
        const PluginObject plugin = install(u"test.url"_s, "Url",
                                            "function main(t) local r = app.openURL(t) "
                                            "assert(require('app') == app) return type(r) .. ':' .. r end");
        for (const QString &text :
             {u"http://exa mple.com"_s, u"no url at all"_s, u"https://example.com/a?b=1"_s})
            QCOMPARE(manager().processText(text, plugin), std::optional<QString>(u"string:"_s));
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
        const PluginObject plugin = manager().listPlugins().value(u"test.packed"_s);
        QCOMPARE(manager().processText({}, plugin), std::optional<QString>(u"from helper"_s));

        QVERIFY(PackageBuilder::writePluginFolder(m_packages.path(), u"Bad"_s, "plugin_name = 'no id'",
                                                  "function main() end"));
        QVERIFY(!PluginPacker::pack(m_packages.path() + u"/Bad"_s, archive, &error));
        QVERIFY(PackageBuilder::writePluginFolder(
            m_packages.path(), u"Bad"_s, PackageBuilder::infoLua("id", "Bad"), "function main( end"));
        QVERIFY(!PluginPacker::pack(m_packages.path() + u"/Bad"_s, archive, &error));
    }
};

QTEST_GUILESS_MAIN(TestPluginManager)
#include "tst_plugin_manager.moc"
