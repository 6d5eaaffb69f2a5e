#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// An installed plugin as the submenu of a text clip offers it.
struct MenuPlugin {
    QString identifier;
    QString name;
    QString desc;
};

// Where the menu finds plugins: the installed plugins, and running one on a text (its result,
// or none). The plugin runtime fills these in; without it a text clip offers no plugin.
struct MenuPluginSource {
    std::function<QList<MenuPlugin>()> list;
    std::function<std::optional<QString>(const MenuPlugin &plugin, const QString &text)> process;
};
