#pragma once

#include "platform/HotKeyRegistrar.h"

#include <cstdint>
#include <optional>

// Translates a stored combination (ANSI virtual key code, modifier bits) into the X11 terms
// of a key grab: the keysym the key types on a US layout, and the modifiers Command → Super,
// Control → Control, Option → Alt, Shift → Shift.
namespace HotKeyTranslation {

enum Modifier : unsigned {
    ShiftModifier = 1U << 0,
    ControlModifier = 1U << 1,
    AltModifier = 1U << 2,
    SuperModifier = 1U << 3,
};

struct X11Combination {
    std::uint32_t keysym = 0;
    unsigned modifiers = 0; // Modifier bits
};

// The keysym of an ANSI key code; none for codes without a key here.
std::optional<std::uint32_t> keysymForKeyCode(unsigned keyCode);
unsigned modifiersForFlags(unsigned modifierFlags);
std::optional<X11Combination> translate(const KeyCombination &combination);

} // namespace HotKeyTranslation
