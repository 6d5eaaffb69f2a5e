#pragma once

#include <chrono>

struct lua_State;

// Stops Lua code that runs too long: while armed, the state's code raises the error
// "script timed out" once the deadline has passed, so a script stuck in a loop cannot freeze
// the thread that runs it. Disarmed (and the hook removed) when it goes out of scope.
class LuaDeadline final
{
public:
    static constexpr std::chrono::milliseconds kDefaultLimit{3000};

    explicit LuaDeadline(lua_State *state, std::chrono::milliseconds limit = kDefaultLimit);
    ~LuaDeadline();

    LuaDeadline(const LuaDeadline &) = delete;
    LuaDeadline &operator=(const LuaDeadline &) = delete;

    static const char *timeoutMessage();

private:
    lua_State *m_state;
    std::chrono::steady_clock::time_point m_deadline;
};
