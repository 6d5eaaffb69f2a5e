#pragma once

#include "platform/HotKeyRegistrar.h"

#include <QtGlobal>

#include <functional>
#include <optional>

// The global hot key that pops the status menu up at the pointer. The combination is kept in
// the settings ("keyCode", "modifierFlags"); both hold -8192 while the hot key is off. On
// first start the default Command-Shift-V (Super+Shift+V here) is registered and stored.
// At most one hot key is registered at any time. Main thread only.
class ShortcutController final
{
    Q_DISABLE_COPY_MOVE(ShortcutController)

public:
    // Registers the stored combination (or the default, or nothing while off) at once.
    ShortcutController(HotKeyRegistrar &registrar, std::function<void()> action);
    ~ShortcutController();

    // The controller made at start-up, for the settings window; none before and after.
    static ShortcutController *sharedInstance();

    static KeyCombination defaultShortcut();

    std::optional<KeyCombination> shortcut() const { return m_shortcut; }
    // Drops every registration, then stores and registers the combination (a combination the
    // desktop refuses is still stored). None switches the hot key off for now only.
    void setShortcut(const std::optional<KeyCombination> &combination);
    void saveShortcut() const;
    // Switches the hot key off and remembers that across restarts.
    void shortcutOff();
    // The stored combination when both keys are present.
    static std::optional<KeyCombination> storedShortcut();
    static bool isShortcutOff();

private:
    HotKeyRegistrar &m_registrar;
    std::function<void()> m_action;
    std::optional<KeyCombination> m_shortcut;
};
