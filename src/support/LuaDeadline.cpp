#include "support/LuaDeadline.h"

#include <QtGlobal>

#include <lua.hpp>

namespace {

// The registry key under which the armed deadline of a state is kept.
const char kDeadlineKey = 0;
// Instructions between two looks at the clock.
constexpr int kCheckEvery = 1000;

void checkDeadline(lua_State *state, lua_Debug *)
{
    lua_rawgetp(state, LUA_REGISTRYINDEX, &kDeadlineKey);
    const auto *deadline =
        static_cast<const std::chrono::steady_clock::time_point *>(lua_touserdata(state, -1));
    lua_pop(state, 1);
    if (deadline && std::chrono::steady_clock::now() > *deadline) {
        // From now on every instruction raises the error, so a script that catches it with
        // pcall inside a loop meets it again in the loop itself, outside the protection.
        lua_sethook(state, checkDeadline, LUA_MASKCOUNT, 1);
        luaL_error(state, "%s", LuaDeadline::timeoutMessage());
    }
}

int hookReserved(lua_State *state)
{
    return luaL_error(state, "the debug hook is reserved for the host's time limit");
}

} // namespace

LuaDeadline::LuaDeadline(lua_State *state, std::chrono::milliseconds limit)
    : m_state(state)
    , m_deadline(std::chrono::steady_clock::now() + limit)
{
    lua_pushlightuserdata(m_state, &m_deadline);
    lua_rawsetp(m_state, LUA_REGISTRYINDEX, &kDeadlineKey);
    lua_sethook(m_state, checkDeadline, LUA_MASKCOUNT, kCheckEvery);
}

LuaDeadline::~LuaDeadline()
{
    lua_sethook(m_state, nullptr, 0, 0);
    lua_pushnil(m_state);
    lua_rawsetp(m_state, LUA_REGISTRYINDEX, &kDeadlineKey);
}

const char *LuaDeadline::timeoutMessage()
{
    // Translated where it is shown (the privacy script's error text).
    return QT_TRANSLATE_NOOP("LuaDeadline", "脚本运行超时");
}

void LuaDeadline::reserveHook(lua_State *state)
{
    lua_getglobal(state, "debug");
    if (lua_istable(state, -1)) {
        for (const char *name : {"sethook", "gethook"}) {
            lua_pushcfunction(state, hookReserved);
            lua_setfield(state, -2, name);
        }
    }
    lua_pop(state, 1);
}
