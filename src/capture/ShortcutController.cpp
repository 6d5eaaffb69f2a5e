#include "capture/ShortcutController.h"

#include "platform/HotKeyTranslation.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "support/Log.h"

namespace {

// A global hot key without Command, Control or Option would swallow plain typing everywhere.
bool hasModifier(const KeyCombination &combination)
{
    const unsigned modifiers = HotKeyTranslation::modifiersForFlags(combination.modifierFlags);
    return (modifiers & ~unsigned(HotKeyTranslation::ShiftModifier)) != 0;
}

} // namespace

void ShortcutController::start(HotKeyRegistrar &registrar, std::function<void()> action)
{
    stop();
    m_registrar = &registrar;
    m_action = std::move(action);
    if (isShortcutOff(m_role))
        setShortcut(std::nullopt);
    else
        setShortcut(storedShortcut(m_role).value_or(defaultShortcut(m_role)));
}

void ShortcutController::stop()
{
    if (m_registrar)
        m_registrar->unregisterAll();
    m_registrar = nullptr;
    m_action = nullptr;
    m_shortcut.reset();
}

KeyCombination ShortcutController::defaultShortcut(Role role)
{
    if (role == Role::History)
        return {static_cast<unsigned>(SettingsDefaults::historyKeyCode),
                static_cast<unsigned>(SettingsDefaults::historyModifierFlags)};
    return {static_cast<unsigned>(SettingsDefaults::keyCode),
            static_cast<unsigned>(SettingsDefaults::modifierFlags)};
}

void ShortcutController::setShortcut(const std::optional<KeyCombination> &combination)
{
    m_shortcut = combination;
    if (m_registrar)
        m_registrar->unregisterAll();
    if (!combination)
        return;
    saveShortcut();
    if (!hasModifier(*combination)) {
        qCWarning(lcApp) << "a hot key without a modifier is not registered" << combination->keyCode
                         << combination->modifierFlags;
        return;
    }
    if (m_registrar && !m_registrar->registerHotKey(*combination, m_action))
        qCInfo(lcApp) << "the hot key could not be registered" << combination->keyCode
                      << combination->modifierFlags;
}

void ShortcutController::saveShortcut() const
{
    if (!m_shortcut)
        return;
    if (m_role == Role::History)
        m_settings.setHistoryHotKey(*m_shortcut);
    else
        m_settings.setHotKey(*m_shortcut);
}

void ShortcutController::shortcutOff()
{
    setShortcut(std::nullopt);
    if (m_role == Role::History)
        m_settings.setHistoryHotKeyOff();
    else
        m_settings.setHotKeyOff();
}

std::optional<KeyCombination> ShortcutController::storedShortcut(Role role)
{
    return role == Role::History ? Settings::storedHistoryHotKey() : Settings::storedHotKey();
}

bool ShortcutController::isShortcutOff(Role role)
{
    return role == Role::History ? Settings::isHistoryHotKeyOff() : Settings::isHotKeyOff();
}
