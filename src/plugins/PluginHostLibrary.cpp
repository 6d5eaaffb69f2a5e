#include "plugins/PluginHostLibrary.h"

#include "platform/ClipAppHelper.h"
#include "support/Log.h"

#include <QString>
#include <QUrl>

#include <lua.hpp>

namespace {

// Parses its first argument (a string or a number) as a URL; an absolute URL is opened, any
// other text or argument is ignored.
int app_openURL(lua_State *state)
{
    const int type = lua_type(state, 1);
    if (type == LUA_TSTRING || type == LUA_TNUMBER) {
        std::size_t length = 0;
        const char *text = lua_tolstring(state, 1, &length);
        const QUrl url(QString::fromUtf8(text, static_cast<qsizetype>(length)), QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            ClipAppHelper::sharedInstance().openURL(url);
    }
    lua_pushstring(state, "");
    return 1;
}

int luaopen_app(lua_State *state)
{
    static const luaL_Reg functions[] = {
        {"openURL", app_openURL},
        {nullptr, nullptr},
    };
    luaL_newlib(state, functions);
    return 1;
}

} // namespace

void plugin_install_app_library(lua_State *state)
{
    qCDebug(lcPlugins, "lua state here %p", static_cast<void *>(state));
    luaL_requiref(state, "app", luaopen_app, 1);
    lua_pop(state, 1);
}
