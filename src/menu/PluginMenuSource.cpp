#include "menu/PluginMenuSource.h"

#include "plugins/PluginManager.h"

MenuPluginSource pluginMenuSource(PluginManager &manager)
{
    MenuPluginSource source;
    source.list = [&manager] {
        QList<MenuPlugin> entries;
        const QList<PluginObject> plugins = manager.pluginsSortedByName();
        for (const PluginObject &plugin : plugins)
            entries << MenuPlugin{plugin.plugin_bundle_id(), plugin.plugin_name(), plugin.plugin_desc()};
        return entries;
    };
    source.process = [&manager](const MenuPlugin &entry, const QString &text, QObject *context,
                                MenuPluginSource::Completion complete) {
        const PluginManager::PluginDict plugins = manager.listPlugins();
        const auto found = plugins.constFind(entry.identifier);
        if (found == plugins.cend()) {
            complete(std::nullopt);
            return;
        }
        manager.processText(text, *found, context, std::move(complete));
    };
    return source;
}
