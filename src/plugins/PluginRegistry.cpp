// Registries, records and the Lua side of the plugin file module.

#include "plugins/PluginRegistry.h"

#include "plugins/PluginFiles.h"

#include "support/Log.h"
#include "support/LuaDeadline.h"

#include <lua.hpp>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <iterator>
#include <sys/stat.h>

namespace {

// "<folder><file>" for a folder that ends in "/", else "<folder>/<file>".
bool folder_file(char *out, std::size_t capacity, const char *folder, const char *file)
{
    const std::size_t length = std::strlen(folder);
    if (length > 0 && folder[length - 1] == '/') {
        const int written = std::snprintf(out, capacity, "%s%s", folder, file);
        if (written < 0 || static_cast<std::size_t>(written) >= capacity) {
            out[0] = '\0';
            return false;
        }
        return true;
    }
    return join_path(out, capacity, folder, file) == 0;
}

// Runs a file of a plugin in a protected call under the deadline; text chunks only, since a
// hand-made binary chunk can corrupt the interpreter's memory.
bool run_file(lua_State *state, const char *path)
{
    bool ok = false;
    {
        LuaDeadline deadline(state);
        ok = luaL_loadfilex(state, path, "t") == LUA_OK && lua_pcall(state, 0, 0, 0) == LUA_OK;
    }
    if (!ok)
        qCDebug(lcPlugins) << "plugin file failed:" << path << lua_tostring(state, -1);
    lua_settop(state, 0);
    return ok;
}

struct InfoField {
    const char *global;
    std::size_t offset;
    std::size_t capacity;
};

const InfoField kInfoFields[] = {
    {"plugin_name", offsetof(PluginRecord, name), kPluginNameCapacity},
    {"plugin_desc", offsetof(PluginRecord, desc), kPluginDescCapacity},
    {"plugin_version", offsetof(PluginRecord, version), kPluginVersionCapacity},
    {"plugin_author", offsetof(PluginRecord, author), kPluginAuthorCapacity},
    {"plugin_bundle_id", offsetof(PluginRecord, bundle_id), kPluginBundleIdCapacity},
};

// Copies the info globals into the record (a light userdata argument) and returns a bit mask of
// the globals that were present. Runs as a protected call: info.lua may have given the globals
// table a metatable whose __index raises errors.
int read_info_globals(lua_State *state)
{
    auto *record = static_cast<PluginRecord *>(lua_touserdata(state, 1));
    lua_Integer present = 0;
    for (std::size_t i = 0; i < std::size(kInfoFields); ++i) {
        const InfoField &field = kInfoFields[i];
        lua_getglobal(state, field.global);
        if (lua_type(state, -1) == LUA_TSTRING || lua_type(state, -1) == LUA_TNUMBER) {
            std::size_t length = 0;
            const char *value = lua_tolstring(state, -1, &length);
            copy_field(reinterpret_cast<char *>(record) + field.offset, field.capacity, value, length);
            present |= lua_Integer(1) << i;
        }
        lua_pop(state, 1);
    }
    lua_pushinteger(state, present);
    return 1;
}

// Calls the global main with the text on the stack; protected for the same reason as above.
int call_main(lua_State *state)
{
    lua_getglobal(state, "main");
    lua_insert(state, 1);
    lua_call(state, 1, 1);
    return 1;
}

// The libraries of the state that reads a package's info.lua: values and text only. Nothing
// that reaches files, programs or the loader (io, os, package, debug, dofile, loadfile, load,
// loadstring, require) is there.
void open_info_libraries(lua_State *state)
{
    static const luaL_Reg libraries[] = {
        {"_G", luaopen_base},
        {LUA_STRLIBNAME, luaopen_string},
        {LUA_TABLIBNAME, luaopen_table},
        {LUA_MATHLIBNAME, luaopen_math},
        {LUA_BITLIBNAME, luaopen_bit32},
    };
    for (const luaL_Reg &library : libraries) {
        luaL_requiref(state, library.name, library.func, 1);
        lua_pop(state, 1);
    }
    for (const char *name : {"dofile", "loadfile", "load", "loadstring", "require"}) {
        lua_pushnil(state);
        lua_setglobal(state, name);
    }
}

void free_records(PluginRegistry *registry)
{
    for (std::int32_t i = 0; i < registry->count; ++i) {
        plugin_record_free(registry->records[i]);
        registry->records[i] = nullptr;
    }
    registry->count = 0;
}

} // namespace

PluginRegistry *plugin_registry_new()
{
    return new PluginRegistry{};
}

int plugin_registry_set_paths(const char *root, const char *extraction_folder, PluginRegistry *registry)
{
    if (!registry || !root || !extraction_folder || !*root || !*extraction_folder)
        return 1;
    if (std::strlen(root) >= kPluginPathCapacity || std::strlen(extraction_folder) >= kPluginPathCapacity)
        return 1;
    std::strcpy(registry->root, root);
    std::strcpy(registry->extraction_folder, extraction_folder);
    return 0;
}

int plugin_registry_scan(PluginRegistry *registry)
{
    if (!registry)
        return 0;
    DIR *dir = opendir(registry->root);
    if (!dir)
        return 0;
    int skipped = 0;
    while (const dirent *entry = readdir(dir)) {
        if (!has_suffix(entry->d_name, kPluginFolderSuffix))
            continue;
        char path[kPluginPathCapacity];
        int is_folder = 0;
        if (join_path(path, sizeof path, registry->root, entry->d_name) != 0
            || path_kind(path, &is_folder) != 0 || !is_folder)
            continue;
        if (registry->count >= kPluginRegistryCapacity) {
            ++skipped;
            continue;
        }
        char folder[kPluginPathCapacity];
        const int written = std::snprintf(folder, sizeof folder, "%s/", path);
        if (written < 0 || static_cast<std::size_t>(written) >= sizeof folder)
            continue;
        PluginRecord *record = nullptr;
        if (plugin_read_info(&record, folder) == 0)
            plugin_load_main(registry, record);
    }
    closedir(dir);
    if (skipped > 0)
        qCWarning(lcPlugins, "%s holds more than %d plugins; %d plugin folders were skipped", registry->root,
                  kPluginRegistryCapacity, skipped);
    return 0;
}

int plugin_registry_reload(PluginRegistry *registry)
{
    if (!registry)
        return 0;
    free_records(registry);
    return plugin_registry_scan(registry);
}

void plugin_registry_free(PluginRegistry *registry)
{
    if (!registry)
        return;
    free_records(registry);
    delete registry;
}

int plugin_read_info(PluginRecord **out, const char *folder)
{
    if (!out)
        return 1;
    *out = nullptr;
    if (!folder || std::strlen(folder) >= kPluginPathCapacity)
        return 1;
    char info_path[kPluginPathCapacity];
    struct stat info_stat {
    };
    if (!folder_file(info_path, sizeof info_path, folder, "info.lua") || stat(info_path, &info_stat) != 0)
        return 1;

    auto *record = new PluginRecord{};
    std::strcpy(record->path, folder);
    record->state = luaL_newstate();

    lua_State *scratch = luaL_newstate();
    lua_Integer present = 0;
    if (record->state && scratch) {
        open_info_libraries(scratch);
        if (run_file(scratch, info_path)) {
            lua_pushcfunction(scratch, read_info_globals);
            lua_pushlightuserdata(scratch, record);
            if (lua_pcall(scratch, 1, 1, 0) == LUA_OK)
                present = lua_tointeger(scratch, -1);
        }
    }
    if (scratch)
        lua_close(scratch);

    constexpr lua_Integer kRequired = (1 << 0) | (1 << 4); // plugin_name and plugin_bundle_id
    if ((present & kRequired) != kRequired) {
        plugin_record_free(record);
        return 1;
    }
    *out = record;
    return 0;
}

int plugin_load_main(PluginRegistry *registry, PluginRecord *record)
{
    if (!record)
        return 1;
    if (!registry || registry->count >= kPluginRegistryCapacity) {
        plugin_record_free(record);
        return 1;
    }
    if (registry->state_hook)
        registry->state_hook(record->state, registry->state_hook_context);
    luaL_openlibs(record->state);
    LuaDeadline::reserveHook(record->state);
    set_package_path(record->state, record->path);

    char main_path[kPluginPathCapacity];
    if (!folder_file(main_path, sizeof main_path, record->path, "main.lua")
        || !run_file(record->state, main_path)) {
        plugin_record_free(record);
        return 1;
    }
    registry->records[registry->count++] = record;
    return 0;
}

const char *plugin_call_main(PluginRecord *record, const char *text, std::size_t *length)
{
    if (length)
        *length = 0;
    if (!record || !record->state)
        return nullptr;
    lua_State *state = record->state;
    lua_settop(state, 0); // drops the previous result
    lua_pushcfunction(state, call_main);
    lua_pushstring(state, text ? text : "");
    int status = LUA_OK;
    {
        LuaDeadline deadline(state);
        status = lua_pcall(state, 1, 1, 0);
    }
    if (status != LUA_OK) {
        qCDebug(lcPlugins) << "plugin" << record->name << "failed:" << lua_tostring(state, -1);
        lua_settop(state, 0);
        return nullptr;
    }
    const int type = lua_type(state, -1);
    if (type != LUA_TSTRING && type != LUA_TNUMBER) {
        lua_settop(state, 0);
        return nullptr;
    }
    // The converted string stays on the stack, which keeps it alive until the next call.
    return lua_tolstring(state, -1, length);
}

void plugin_record_free(PluginRecord *record)
{
    if (!record)
        return;
    if (record->state)
        lua_close(record->state);
    delete record;
}

int set_package_path(lua_State *state, const char *folder)
{
    if (!state || !folder)
        return 1;
    lua_getglobal(state, "package");
    if (lua_istable(state, -1)) {
        lua_getfield(state, -1, "path");
        const char *old_path = lua_tostring(state, -1);
        lua_pushfstring(state, "%s;%s?.lua", old_path ? old_path : "", folder);
        lua_setfield(state, -3, "path");
        lua_pop(state, 1);
    }
    lua_pop(state, 1);
    return 0;
}
