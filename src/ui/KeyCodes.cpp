#include "ui/KeyCodes.h"

#include "platform/KeyCodeTable.h"

#include <QKeySequence>
#include <QStringList>

#include <utility>

namespace {

// Symbols typed with Shift on a US layout and the keys that carry them.
constexpr std::pair<int, int> kShifted[] = {
    {Qt::Key_Exclam, Qt::Key_1},
    {Qt::Key_At, Qt::Key_2},
    {Qt::Key_NumberSign, Qt::Key_3},
    {Qt::Key_Dollar, Qt::Key_4},
    {Qt::Key_Percent, Qt::Key_5},
    {Qt::Key_AsciiCircum, Qt::Key_6},
    {Qt::Key_Ampersand, Qt::Key_7},
    {Qt::Key_Asterisk, Qt::Key_8},
    {Qt::Key_ParenLeft, Qt::Key_9},
    {Qt::Key_ParenRight, Qt::Key_0},
    {Qt::Key_Underscore, Qt::Key_Minus},
    {Qt::Key_Plus, Qt::Key_Equal},
    {Qt::Key_BraceLeft, Qt::Key_BracketLeft},
    {Qt::Key_BraceRight, Qt::Key_BracketRight},
    {Qt::Key_Bar, Qt::Key_Backslash},
    {Qt::Key_Colon, Qt::Key_Semicolon},
    {Qt::Key_QuoteDbl, Qt::Key_Apostrophe},
    {Qt::Key_Less, Qt::Key_Comma},
    {Qt::Key_Greater, Qt::Key_Period},
    {Qt::Key_Question, Qt::Key_Slash},
    {Qt::Key_AsciiTilde, Qt::Key_QuoteLeft},
    {Qt::Key_Backtab, Qt::Key_Tab},
    {Qt::Key_Enter, Qt::Key_Return},
};

} // namespace

namespace KeyCodes {

std::optional<unsigned> keyCodeForQtKey(int key)
{
    for (const auto &[shifted, base] : kShifted) {
        if (shifted == key)
            key = base;
    }
    for (const KeyCodeEntry &entry : kKeyCodeTable) {
        if (entry.qtKey == key)
            return entry.code;
    }
    return std::nullopt;
}

unsigned modifierFlagsForQt(Qt::KeyboardModifiers modifiers)
{
    unsigned flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= KeyCombination::Shift;
    if (modifiers & Qt::ControlModifier)
        flags |= KeyCombination::Control;
    if (modifiers & Qt::AltModifier)
        flags |= KeyCombination::Option;
    if (modifiers & Qt::MetaModifier)
        flags |= KeyCombination::Command;
    return flags;
}

QString shortcutText(const KeyCombination &combination)
{
    for (const KeyCodeEntry &entry : kKeyCodeTable) {
        if (entry.code != combination.keyCode)
            continue;
        QStringList parts;
        if (combination.modifierFlags & KeyCombination::Control)
            parts << QStringLiteral("Ctrl");
        if (combination.modifierFlags & KeyCombination::Option)
            parts << QStringLiteral("Alt");
        if (combination.modifierFlags & KeyCombination::Shift)
            parts << QStringLiteral("Shift");
        if (combination.modifierFlags & KeyCombination::Command)
            parts << QStringLiteral("Super");
        parts << QKeySequence(entry.qtKey).toString(QKeySequence::PortableText);
        return parts.join(QLatin1Char('+'));
    }
    return {};
}

} // namespace KeyCodes
