#include "platform/HotKeyTranslation.h"

#include <utility>

namespace {

// ANSI virtual key codes and the keysyms of the keys they name.
constexpr std::pair<unsigned, std::uint32_t> kKeys[] = {
    {0, 'a'},      {1, 's'},      {2, 'd'},      {3, 'f'},      {4, 'h'},      {5, 'g'},      {6, 'z'},
    {7, 'x'},      {8, 'c'},      {9, 'v'},      {11, 'b'},     {12, 'q'},     {13, 'w'},     {14, 'e'},
    {15, 'r'},     {16, 'y'},     {17, 't'},     {18, '1'},     {19, '2'},     {20, '3'},     {21, '4'},
    {22, '6'},     {23, '5'},     {24, '='},     {25, '9'},     {26, '7'},     {27, '-'},     {28, '8'},
    {29, '0'},     {30, ']'},     {31, 'o'},     {32, 'u'},     {33, '['},     {34, 'i'},     {35, 'p'},
    {36, 0xff0d},  {37, 'l'},     {38, 'j'},     {39, '\''},    {40, 'k'},     {41, ';'},     {42, '\\'},
    {43, ','},     {44, '/'},     {45, 'n'},     {46, 'm'},     {47, '.'},     {48, 0xff09},  {49, ' '},
    {50, '`'},     {51, 0xff08},  {53, 0xff1b},  {96, 0xffc2},  {97, 0xffc3},  {98, 0xffc4},  {99, 0xffc0},
    {100, 0xffc5}, {101, 0xffc6}, {103, 0xffc8}, {109, 0xffc7}, {111, 0xffc9}, {115, 0xff50}, {116, 0xff55},
    {117, 0xffff}, {118, 0xffc1}, {119, 0xff57}, {120, 0xffbf}, {121, 0xff56}, {122, 0xffbe}, {123, 0xff51},
    {124, 0xff53}, {125, 0xff54}, {126, 0xff52},
};

} // namespace

namespace HotKeyTranslation {

std::optional<std::uint32_t> keysymForKeyCode(unsigned keyCode)
{
    for (const auto &[code, keysym] : kKeys) {
        if (code == keyCode)
            return keysym;
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
