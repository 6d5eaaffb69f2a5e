#pragma once

#include <chrono>

struct lua_State;

// Stops Lua code that runs too long: while armed, the state's code raises the timeout error
// once the deadline has passed, so a script stuck in a loop cannot freeze the thread that runs
// it. Disarmed (and the hook removed) when it goes out of scope. The hook only runs between Lua
// instructions: a single call into C (a string pattern that backtracks badly) is not stopped.
class LuaDeadline final
{
public:
    static constexpr std::chrono::milliseconds kDefaultLimit{3000};

    explicit LuaDeadline(lua_State *state, std::chrono::milliseconds limit = kDefaultLimit);
    ~LuaDeadline();

    LuaDeadline(const LuaDeadline &) = delete;
    LuaDeadline &operator=(const LuaDeadline &) = delete;

    // The error raised when the deadline has passed; a user reads it in the script editor.
    static const char *timeoutMessage();

    // Takes debug.sethook and debug.gethook away from the scripts of a state whose libraries
    // are open, so a script can neither remove nor replace the deadline's hook: both raise an
    // error instead. Call it once, after the libraries are opened.
    static void reserveHook(lua_State *state);

private:
    lua_State *m_state;
    std::chrono::steady_clock::time_point m_deadline;
};
