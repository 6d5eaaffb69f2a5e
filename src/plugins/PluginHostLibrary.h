#pragma once

struct lua_State;

// Installs the host library `app` into a plugin state, as the global table `app` and the loaded
// module "app". PluginManager sets this as its registries' state hook, with its UrlOpener as
// the context. app.openURL(text) hands an absolute URL to that opener and always returns "";
// app.upper(text) and app.lower(text) change the case of the letters of every script (Unicode
// case mapping of UTF-8 text).
void plugin_install_app_library(lua_State *state, void *urlOpener);
