#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QObject;

// An installed plugin as the submenu of a text clip offers it.
struct MenuPlugin {
    QString identifier;
    QString name;
    QString desc;
};

// Where the menu finds plugins: the installed plugins, and running one on a text. Running never
// waits: complete gets the result (or none) on the main thread later, unless context is gone
// by then. The plugin runtime fills these in; without it a text clip offers no plugin.
struct MenuPluginSource {
    using Completion = std::function<void(std::optional<QString> result)>;
    std::function<QList<MenuPlugin>()> list;
    std::function<void(const MenuPlugin &plugin, const QString &text, QObject *context, Completion complete)>
        process;
};
