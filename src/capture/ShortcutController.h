#pragma once

#include "platform/HotKeyRegistrar.h"

#include <QtGlobal>

#include <functional>
#include <optional>

class Settings;

// A global hot key: the one that pops the status menu up at the pointer, or the one that opens
// the history window. The menu's combination is kept in the settings ("keyCode",
// "modifierFlags"), the history's in "historyKeyCode" and "historyModifierFlags"; both keys hold
// -8192 while the hot key is off. On first start the default Command-Shift-V (Super+Shift+V
// here), or Super+Shift+H for the history, is registered and stored. Each controller registers
// at most one hot key at any time, with a registrar of its own. The application starts it with the desktop's
// registrar; until then, and after stop(), nothing is registered. Main thread only.
class ShortcutController final
{
    Q_DISABLE_COPY_MOVE(ShortcutController)

public:
    enum class Role { Menu, History };

    // The combination is stored through settings.
    explicit ShortcutController(Settings &settings, Role role = Role::Menu)
        : m_settings(settings)
        , m_role(role)
    { }

    // Registers the stored combination (or the default, or nothing while off) at once, with
    // the registrar that reports presses to the action.
    void start(HotKeyRegistrar &registrar, std::function<void()> action);
    // Drops the registration and forgets the registrar.
    void stop();
    bool isStarted() const { return m_registrar != nullptr; }

    static KeyCombination defaultShortcut(Role role = Role::Menu);
    Role role() const { return m_role; }

    std::optional<KeyCombination> shortcut() const { return m_shortcut; }
    // Drops every registration, then stores and registers the combination (a combination the
    // desktop refuses is still stored; before start() it is only stored). A combination without
    // Command, Control or Option is never registered: it would swallow plain typing. None
    // switches the hot key off for now only.
    void setShortcut(const std::optional<KeyCombination> &combination);
    void saveShortcut() const;
    // Switches the hot key off and remembers that across restarts.
    void shortcutOff();
    // The stored combination when both keys are present and parse as numbers; otherwise the
    // default applies.
    static std::optional<KeyCombination> storedShortcut(Role role = Role::Menu);
    static bool isShortcutOff(Role role = Role::Menu);

private:
    Settings &m_settings;
    Role m_role;
    HotKeyRegistrar *m_registrar = nullptr;
    std::function<void()> m_action;
    std::optional<KeyCombination> m_shortcut;
};
