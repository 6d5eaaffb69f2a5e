#pragma once

#include "menu/ClipFixtures.h"
#include "menu/MenuController.h"
#include "menu/PluginMenuSource.h"
#include "platform/MemoryKeyInjector.h"
#include "platform/MemoryPasteboard.h"
#include "plugins/PluginManager.h"

#include <QAction>
#include <QMenu>

#include <algorithm>

// The menu as the program builds it, with the manager's plugins, an in-memory clipboard and
// keyboard, over one stored text clip.
struct PluginMenuFixture {
    MemoryPasteboard pasteboard;
    MemoryKeyInjector injector;
    MenuController menus{testSync()};

    PluginMenuFixture(PluginManager &plugins, const QString &clipText)
    {
        menus.actions().setPlatform({&pasteboard, &injector, nullptr});
        menus.actions().setPluginSource(pluginMenuSource(plugins));
        ClipFixtures::text(clipText, 10);
        menus.buildMenu();
    }

    // The newest clip's action with this title, its submenu filled as when it is about to show;
    // null when there is none.
    QAction *clipAction(const QString &title)
    {
        QMenu *clipMenu = menus.mainMenu()->actions().at(1)->menu();
        Q_EMIT clipMenu->aboutToShow();
        const QList<QAction *> items = clipMenu->actions();
        const auto found =
            std::ranges::find_if(items, [&](QAction *action) { return action->text() == title; });
        return found == items.end() ? nullptr : *found;
    }
};
