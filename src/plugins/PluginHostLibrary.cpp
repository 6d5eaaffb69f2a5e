#include "plugins/PluginHostLibrary.h"

#include "platform/UrlOpener.h"
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
        const auto *opener = static_cast<const UrlOpener *>(lua_touserdata(state, lua_upvalueindex(1)));
        if (opener && url.isValid() && !url.scheme().isEmpty())
            opener->openURL(url);
    }
    lua_pushstring(state, "");
    return 1;
}

// The text argument as UTF-8 (a number counts as its text); invalid bytes become U+FFFD.
QString textArgument(lua_State *state)
{
    std::size_t length = 0;
    const char *text = luaL_checklstring(state, 1, &length);
    return QString::fromUtf8(text, static_cast<qsizetype>(length));
}

void pushText(lua_State *state, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    lua_pushlstring(state, utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

// app.upper(text) and app.lower(text): the text with the letters of every script in upper or
// lower case, by Unicode's full case mappings ("ß" becomes "SS").
int app_upper(lua_State *state)
{
    pushText(state, textArgument(state).toUpper());
    return 1;
}

int app_lower(lua_State *state)
{
    pushText(state, textArgument(state).toLower());
    return 1;
}

int luaopen_app(lua_State *state)
{
    static const luaL_Reg functions[] = {
        {"openURL", app_openURL},
        {"upper", app_upper},
        {"lower", app_lower},
        {nullptr, nullptr},
    };
    // The opener travels as an upvalue of every function of the library.
    void *opener = lua_touserdata(state, 1);
    luaL_newlibtable(state, functions);
    lua_pushlightuserdata(state, opener);
    luaL_setfuncs(state, functions, 1);
    return 1;
}

} // namespace

void plugin_install_app_library(lua_State *state, void *urlOpener)
{
    lua_pushcfunction(state, luaopen_app);
    lua_pushlightuserdata(state, urlOpener);
    lua_call(state, 1, 1);
    lua_pushvalue(state, -1);
    lua_setglobal(state, "app");
    luaL_getsubtable(state, LUA_REGISTRYINDEX, "_LOADED");
    lua_pushvalue(state, -2);
    lua_setfield(state, -2, "app");
    lua_pop(state, 2);
}
