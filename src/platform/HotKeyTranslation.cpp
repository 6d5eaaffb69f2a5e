#include "platform/HotKeyTranslation.h"

#include "platform/KeyCodeTable.h"

namespace HotKeyTranslation {

std::optional<std::uint32_t> keysymForKeyCode(unsigned keyCode)
{
    for (const KeyCodeEntry &entry : kKeyCodeTable) {
        if (entry.code == keyCode)
            return entry.keysym;
    }
    return std::nullopt;
}

unsigned modifiersForFlags(unsigned modifierFlags)
{
    unsigned modifiers = 0;
    if (modifierFlags & KeyCombination::Shift)
        modifiers |= ShiftModifier;
    if (modifierFlags & KeyCombination::Control)
        modifiers |= ControlModifier;
    if (modifierFlags & KeyCombination::Option)
        modifiers |= AltModifier;
    if (modifierFlags & KeyCombination::Command)
        modifiers |= SuperModifier;
    return modifiers;
}

std::optional<X11Combination> translate(const KeyCombination &combination)
{
    const std::optional<std::uint32_t> keysym = keysymForKeyCode(combination.keyCode);
    if (!keysym)
        return std::nullopt;
    return X11Combination{*keysym, modifiersForFlags(combination.modifierFlags)};
}

} // namespace HotKeyTranslation
