#pragma once

#include "platform/HotKeyRegistrar.h"

#include <QtGlobal>

#include <functional>
#include <optional>

class Settings;

// The global hot key that pops the status menu up at the pointer. The combination is kept in
// the settings ("keyCode", "modifierFlags"); both hold -8192 while the hot key is off. On
// first start the default Command-Shift-V (Super+Shift+V here) is registered and stored.
// At most one hot key is registered at any time. The application starts it with the desktop's
// registrar; until then, and after stop(), nothing is registered. Main thread only.
class ShortcutController final
{
    Q_DISABLE_COPY_MOVE(ShortcutController)

public:
    // The combination is stored through settings.
    explicit ShortcutController(Settings &settings)
        : m_settings(settings)
    { }

    // Registers the stored combination (or the default, or nothing while off) at once, with
    // the registrar that reports presses to the action.
    void start(HotKeyRegistrar &registrar, std::function<void()> action);
    // Drops the registration and forgets the registrar.
    void stop();
    bool isStarted() const { return m_registrar != nullptr; }

    static KeyCombination defaultShortcut();

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
    static std::optional<KeyCombination> storedShortcut();
    static bool isShortcutOff();

private:
    Settings &m_settings;
    HotKeyRegistrar *m_registrar = nullptr;
    std::function<void()> m_action;
    std::optional<KeyCombination> m_shortcut;
};
