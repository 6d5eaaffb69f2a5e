#pragma once

#include "plugins/PluginFiles.h"

#include <cstddef>
#include <cstdint>

struct lua_State;

// The registry side of the plugin file module: loaded plugins as plain structures with
// fixed-capacity, zero-terminated text buffers, their Lua states, and installing and removing
// plugins (which reload a registry). It uses the file side (PluginFiles.h); the file side never
// uses it. Every function that answers an int answers 0 for success and a non-zero value (1 or
// -1) for failure; the others answer a pointer (null for none) or nothing. None of them is
// thread-safe: PluginManager runs every call on its worker.
//
// A plugin is a folder whose name ends in ".cplugin" holding "info.lua" and "main.lua". A ".cpk"
// package is a zip archive with the layout "Payload/<name>.cplugin/<files>".

inline constexpr std::size_t kPluginNameCapacity = 1024;
inline constexpr std::size_t kPluginDescCapacity = 2048;
inline constexpr std::size_t kPluginVersionCapacity = 64;
inline constexpr std::size_t kPluginAuthorCapacity = 2048;
inline constexpr std::size_t kPluginBundleIdCapacity = 1024;
inline constexpr int kPluginRegistryCapacity = 2048;

// One loaded plugin. Text values longer than their field are cut at a UTF-8 character boundary.
struct PluginRecord {
    char name[kPluginNameCapacity];
    char desc[kPluginDescCapacity];
    char version[kPluginVersionCapacity];
    char path[kPluginPathCapacity]; // the plugin folder, ending in "/"
    char author[kPluginAuthorCapacity];
    char bundle_id[kPluginBundleIdCapacity];
    lua_State *state; // the plugin's own Lua state, owned by the record
};

// The plugins of one root folder, in load order. The registry owns its records. state_hook,
// when set, receives every new plugin state of the registry (with state_hook_context) before
// its standard libraries are opened.
struct PluginRegistry {
    char root[kPluginPathCapacity];
    char extraction_folder[kPluginPathCapacity];
    std::int32_t count;
    PluginRecord *records[kPluginRegistryCapacity];
    void (*state_hook)(lua_State *state, void *context);
    void *state_hook_context;
};

PluginRegistry *plugin_registry_new();
// 0 when both paths were set; 1, setting nothing, when either is empty or too long for its field.
int plugin_registry_set_paths(const char *root, const char *extraction_folder, PluginRegistry *registry);
// Loads every "<root>/<name>.cplugin" folder; folders beyond the capacity are skipped and logged.
int plugin_registry_scan(PluginRegistry *registry);
// Frees every record and scans again: each plugin gets a fresh state.
int plugin_registry_reload(PluginRegistry *registry);
void plugin_registry_free(PluginRegistry *registry);

// Reads "<folder>info.lua" (folder ends in "/") in a scratch state that has only the base
// (without loading of files or chunks), string, table, math and bit32 libraries: a package's
// info.lua runs before the user has chosen anything, so it can neither touch files nor start
// programs. Returns 0 and a new record (with a fresh, still empty Lua state) in *out when the
// file ran and set both plugin_name and plugin_bundle_id; 1 and no record otherwise.
int plugin_read_info(PluginRecord **out, const char *folder);
// Opens the standard libraries in the record's state (debug.sethook and debug.gethook are
// replaced: the time limit's hook is the host's) and runs its "main.lua". Returns 0 when the
// record was appended to the registry, 1 when it was discarded (freed).
int plugin_load_main(PluginRegistry *registry, PluginRecord *record);
// Calls the plugin's global main with text. Returns the result when main returned a string or a
// number, else nullptr (error, timeout, other value). The text belongs to the record's state and
// stays readable until the next call into that state; *length (when given) receives its size.
const char *plugin_call_main(PluginRecord *record, const char *text, std::size_t *length = nullptr);
void plugin_record_free(PluginRecord *record);
// Appends "<folder>?.lua" to the state's package.path so require finds the plugin's own modules.
// 0 on success, 1 without a state or folder.
int set_package_path(lua_State *state, const char *folder);

// Installs a ".cpk" package into the registry's root, replacing the folder of the same bundle
// id, and reloads the registry. 0 on success, 1 on failure. The package's extraction folder is
// removed whatever the outcome.
int plugin_install_package(const char *package_path, PluginRegistry *registry);
// Deletes a plugin folder that lies directly in the registry's root (a symbolic link there is
// removed as a link; what it points to is never touched), then reloads the registry. Folders
// elsewhere are left alone. 0 when the plugin is gone, 1 otherwise.
int plugin_remove(const char *folder, PluginRegistry *registry);
