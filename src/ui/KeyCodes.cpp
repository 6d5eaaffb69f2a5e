#include "ui/KeyCodes.h"

#include <QKeySequence>
#include <QStringList>

#include <utility>

namespace {

// ANSI virtual key codes and the Qt keys they type on a US layout.
constexpr std::pair<unsigned, int> kKeys[] = {
    {0, Qt::Key_A},        {1, Qt::Key_S},          {2, Qt::Key_D},
    {3, Qt::Key_F},        {4, Qt::Key_H},          {5, Qt::Key_G},
    {6, Qt::Key_Z},        {7, Qt::Key_X},          {8, Qt::Key_C},
    {9, Qt::Key_V},        {11, Qt::Key_B},         {12, Qt::Key_Q},
    {13, Qt::Key_W},       {14, Qt::Key_E},         {15, Qt::Key_R},
    {16, Qt::Key_Y},       {17, Qt::Key_T},         {18, Qt::Key_1},
    {19, Qt::Key_2},       {20, Qt::Key_3},         {21, Qt::Key_4},
    {22, Qt::Key_6},       {23, Qt::Key_5},         {24, Qt::Key_Equal},
    {25, Qt::Key_9},       {26, Qt::Key_7},         {27, Qt::Key_Minus},
    {28, Qt::Key_8},       {29, Qt::Key_0},         {30, Qt::Key_BracketRight},
    {31, Qt::Key_O},       {32, Qt::Key_U},         {33, Qt::Key_BracketLeft},
    {34, Qt::Key_I},       {35, Qt::Key_P},         {36, Qt::Key_Return},
    {37, Qt::Key_L},       {38, Qt::Key_J},         {39, Qt::Key_Apostrophe},
    {40, Qt::Key_K},       {41, Qt::Key_Semicolon}, {42, Qt::Key_Backslash},
    {43, Qt::Key_Comma},   {44, Qt::Key_Slash},     {45, Qt::Key_N},
    {46, Qt::Key_M},       {47, Qt::Key_Period},    {48, Qt::Key_Tab},
    {49, Qt::Key_Space},   {50, Qt::Key_QuoteLeft}, {51, Qt::Key_Backspace},
    {53, Qt::Key_Escape},  {96, Qt::Key_F5},        {97, Qt::Key_F6},
    {98, Qt::Key_F7},      {99, Qt::Key_F3},        {100, Qt::Key_F8},
    {101, Qt::Key_F9},     {103, Qt::Key_F11},      {109, Qt::Key_F10},
    {111, Qt::Key_F12},    {115, Qt::Key_Home},     {116, Qt::Key_PageUp},
    {117, Qt::Key_Delete}, {118, Qt::Key_F4},       {119, Qt::Key_End},
    {120, Qt::Key_F2},     {121, Qt::Key_PageDown}, {122, Qt::Key_F1},
    {123, Qt::Key_Left},   {124, Qt::Key_Right},    {125, Qt::Key_Down},
    {126, Qt::Key_Up},
};

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
    for (const auto &[code, qtKey] : kKeys) {
        if (qtKey == key)
            return code;
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
    for (const auto &[code, qtKey] : kKeys) {
        if (code != combination.keyCode)
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
        parts << QKeySequence(qtKey).toString(QKeySequence::PortableText);
        return parts.join(QLatin1Char('+'));
    }
    return {};
}

} // namespace KeyCodes
