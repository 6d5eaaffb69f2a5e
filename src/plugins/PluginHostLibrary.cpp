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
    luaL_newlib(state, functions);
    return 1;
}

} // namespace

void plugin_install_app_library(lua_State *state)
{
    luaL_requiref(state, "app", luaopen_app, 1);
    lua_pop(state, 1);
}
