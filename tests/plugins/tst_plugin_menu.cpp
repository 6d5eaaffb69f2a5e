// A shipped plugin chosen from a text clip's submenu pastes its result: the real status menu,
// store and plugin runtime, with the clipboard and the keystroke recorded in memory.

#include "TestDirs.h"
#include "TestSync.h"
#include "menu/ClipFixtures.h"
#include "menu/RecordingPasteboard.h"

#include "menu/MenuController.h"
#include "menu/PluginMenuSource.h"
#include "platform/MemoryKeyInjector.h"
#include "platform/UrlOpener.h"
#include "plugins/PluginManager.h"

#include <QAction>
#include <QMenu>
#include <QTest>

#include <algorithm>

class TestPluginMenu final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    RecordingPasteboard m_pasteboard;
    MemoryKeyInjector m_injector;
    UrlOpener m_urlOpener{nullptr, {}};
    PluginManager m_plugins{m_urlOpener};

private slots:
    void choosingAShippedPluginPastesItsResult()
    {
        MenuController menus(testSync());
        menus.actions().setPlatform({&m_pasteboard, &m_injector, nullptr});
        menus.actions().setPluginSource(pluginMenuSource(m_plugins));
        ClipFixtures::text(QStringLiteral("  hello   plugin\n world "), 10);
        menus.buildMenu();

        QMenu *actions = menus.mainMenu()->actions().at(1)->menu();
        QVERIFY(actions);
        Q_EMIT actions->aboutToShow();
        QStringList titles;
        for (const QAction *item : actions->actions())
            titles << item->text();
        const qsizetype list = titles.indexOf(QStringLiteral("插件列表"));
        QVERIFY(list >= 6);
        QVERIFY(std::is_sorted(titles.begin(), titles.begin() + list));

        actions->actions().at(titles.indexOf(QStringLiteral("整理空白")))->trigger();
        QTRY_COMPARE(m_injector.pasteCount(), 1);
        QCOMPARE(m_pasteboard.string(), std::optional<QString>(QStringLiteral("hello plugin world")));
    }
};

QTEST_MAIN(TestPluginMenu)
#include "tst_plugin_menu.moc"
