#pragma once

#include <QString>

// Builds ".cpk" packages for plugin authors: a zip archive holding "Payload/<name>.cplugin/"
// with every folder entry ahead of the entries inside it, as the installer expects.
namespace PluginPacker {
// Packs pluginFolder (which must hold an info.lua that sets plugin_name and plugin_bundle_id,
// and a main.lua that compiles) into packagePath, replacing any file there. On failure returns
// false with the reason in *error; nothing is left at packagePath then.
bool pack(const QString &pluginFolder, const QString &packagePath, QString *error = nullptr);
} // namespace PluginPacker
