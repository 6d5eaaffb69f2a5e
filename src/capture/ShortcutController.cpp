#include "capture/ShortcutController.h"

#include "platform/HotKeyTranslation.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"
#include "support/Log.h"

#include <limits>

namespace {

QString keyCodeKey()
{
    return QLatin1String(SettingsKeys::keyCode);
}

QString modifierFlagsKey()
{
    return QLatin1String(SettingsKeys::modifierFlags);
}

// A stored value as a 32-bit signed integer: the off marker -8192 may also have been written
// as its unsigned bits 0xFFFFE000. None when the value is absent or does not parse as a whole
// number of 32 bits (a damaged settings file).
std::optional<qint32> storedInt32(const QString &key)
{
    bool ok = false;
    const qlonglong value = ClipUserDefaults::value(key).toLongLong(&ok);
    if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<quint32>::max())
        return std::nullopt;
    return static_cast<qint32>(static_cast<quint32>(value));
}

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
    if (isShortcutOff())
        setShortcut(std::nullopt);
    else
        setShortcut(storedShortcut().value_or(defaultShortcut()));
}

void ShortcutController::stop()
{
    if (m_registrar)
        m_registrar->unregisterAll();
    m_registrar = nullptr;
    m_action = nullptr;
    m_shortcut.reset();
}

KeyCombination ShortcutController::defaultShortcut()
{
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
    ClipUserDefaults::setValue(keyCodeKey(), m_shortcut->keyCode);
    ClipUserDefaults::setValue(modifierFlagsKey(), m_shortcut->modifierFlags);
}

void ShortcutController::shortcutOff()
{
    setShortcut(std::nullopt);
    ClipUserDefaults::setValue(keyCodeKey(), SettingsDefaults::shortcutOff);
    ClipUserDefaults::setValue(modifierFlagsKey(), SettingsDefaults::shortcutOff);
}

std::optional<KeyCombination> ShortcutController::storedShortcut()
{
    const std::optional<qint32> keyCode = storedInt32(keyCodeKey());
    const std::optional<qint32> modifierFlags = storedInt32(modifierFlagsKey());
    if (!keyCode || !modifierFlags)
        return std::nullopt;
    return KeyCombination{static_cast<unsigned>(*keyCode), static_cast<unsigned>(*modifierFlags)};
}

bool ShortcutController::isShortcutOff()
{
    return storedInt32(keyCodeKey()) == SettingsDefaults::shortcutOff
           || storedInt32(modifierFlagsKey()) == SettingsDefaults::shortcutOff;
}
