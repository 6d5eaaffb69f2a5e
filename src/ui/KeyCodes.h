#pragma once

#include "platform/HotKeyRegistrar.h"

#include <QString>
#include <Qt>

#include <optional>

// Translation between Qt's key events and the stored form of a global shortcut: ANSI virtual
// key codes and the modifier bits Shift, Control, Option (Alt) and Command (Super).
namespace KeyCodes {

// The ANSI key code of the key that types Qt's key on a US layout; shifted symbols count as
// their unshifted key ("!" is the key of "1"). None for keys without a code.
std::optional<unsigned> keyCodeForQtKey(int key);
unsigned modifierFlagsForQt(Qt::KeyboardModifiers modifiers);
// A readable form such as "Ctrl+Shift+V" or "Super+F5"; empty for an unknown key code.
QString shortcutText(const KeyCombination &combination);

} // namespace KeyCodes
