#pragma once

#include "platform/KeyInjector.h"

struct _XDisplay;

// Posts the paste keystroke through XTest on the display the application runs on (its own
// connection when the application does not run on X11). Using the application's connection
// orders the keystroke after the release of the menu's keyboard grab.
class X11KeyInjector final : public KeyInjector
{
public:
    X11KeyInjector();
    ~X11KeyInjector() override;
    X11KeyInjector(const X11KeyInjector &) = delete;
    X11KeyInjector &operator=(const X11KeyInjector &) = delete;

    bool postPasteKeystroke() override;
    // The key code that types "v", found at the first paste; 0 before.
    unsigned pasteKeyCode() const { return m_pasteKeyCode; }

private:
    _XDisplay *display();

    _XDisplay *m_ownDisplay = nullptr;
    unsigned m_pasteKeyCode = 0;
};
