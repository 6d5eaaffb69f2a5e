#pragma once

// Types into the program that has the keyboard focus. The paste keystroke is Control plus the
// key that types "v" in the keyboard layout current at the first paste; that key is looked up
// once and kept, so switching layouts later does not change it.
class KeyInjector
{
public:
    virtual ~KeyInjector() = default;

    // Posts the paste keystroke; false when nothing could be posted (no display, or no key of
    // the layout types "v", in which case the next call looks again).
    virtual bool postPasteKeystroke() = 0;
};
