#pragma once

struct lua_State;

// Installs the host library `app` into a plugin state, as the global table `app` and the loaded
// module "app". PluginManager sets this as plugin_state_hook. The library's one function,
// app.openURL(text), hands an absolute URL to ClipAppHelper and always returns "".
void plugin_install_app_library(lua_State *state);
