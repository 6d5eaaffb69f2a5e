#pragma once

#include <functional>

// A key combination as the settings keep it: a virtual key code of the ANSI keyboard and the
// modifier bits Shift 0x20000, Control 0x40000, Option 0x80000, Command 0x100000.
struct KeyCombination {
    unsigned keyCode = 0;
    unsigned modifierFlags = 0;

    static constexpr unsigned Shift = 0x20000;
    static constexpr unsigned Control = 0x40000;
    static constexpr unsigned Option = 0x80000;
    static constexpr unsigned Command = 0x100000;

    friend bool operator==(const KeyCombination &, const KeyCombination &) = default;
};

// Registers system-wide hot keys. At most what the caller asks for is registered; every
// registration is dropped by unregisterAll(). The action runs on the main thread.
class HotKeyRegistrar
{
public:
    virtual ~HotKeyRegistrar() = default;

    // False when the combination cannot be translated or the desktop refuses it (another
    // program holds it).
    virtual bool registerHotKey(const KeyCombination &combination, std::function<void()> action) = 0;
    virtual void unregisterAll() = 0;
};
