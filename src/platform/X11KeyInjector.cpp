#include "platform/X11KeyInjector.h"

#include "platform/X11Display.h"
#include "support/Log.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// The key code that types "v" without modifiers in the current layout group; a later key code
// replaces an earlier one that types the same. 0 when no key does.
unsigned findKeyCodeTypingV(Display *display)
{
    int group = 0;
    XkbStateRec state;
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success)
        group = state.group;
    int minKeyCode = 0;
    int maxKeyCode = 0;
    XDisplayKeycodes(display, &minKeyCode, &maxKeyCode);
    unsigned found = 0;
    for (int keyCode = minKeyCode; keyCode <= maxKeyCode; ++keyCode) {
        const KeySym symbol = XkbKeycodeToKeysym(display, static_cast<KeyCode>(keyCode), group, 0);
        if (symbol == XK_v || symbol == XK_V)
            found = static_cast<unsigned>(keyCode);
    }
    return found;
}

// Both parts of WM_CLASS (instance and class name) of the window that has the keyboard focus,
// or of its nearest ancestor that has one; empty when there is none.
QStringList focusedWindowClass(Display *display)
{
    Window window = None;
    int revert = 0;
    XGetInputFocus(display, &window, &revert);
    const Window root = DefaultRootWindow(display);
    while (window != None && window != PointerRoot && window != root) {
        XClassHint hint{};
        if (XGetClassHint(display, window, &hint) != 0) {
            const QStringList names{QString::fromLocal8Bit(hint.res_name),
                                    QString::fromLocal8Bit(hint.res_class)};
            XFree(hint.res_name);
            XFree(hint.res_class);
            return names;
        }
        Window parent = None;
        Window queryRoot = None;
        Window *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display, window, &queryRoot, &parent, &children, &count) == 0)
            break;
        if (children)
            XFree(children);
        window = parent;
    }
    return {};
}

} // namespace

X11KeyInjector::X11KeyInjector() = default;

X11KeyInjector::~X11KeyInjector()
{
    if (m_ownDisplay)
        XCloseDisplay(m_ownDisplay);
}

_XDisplay *X11KeyInjector::display()
{
    if (Display *shared = qtX11Display())
        return shared;
    if (!m_ownDisplay)
        m_ownDisplay = XOpenDisplay(nullptr);
    return m_ownDisplay;
}

bool X11KeyInjector::postPasteKeystroke()
{
    Display *dpy = display();
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!dpy || !XTestQueryExtension(dpy, &eventBase, &errorBase, &major, &minor)) {
        qCWarning(lcPlatform) << "No event source";
        return false;
    }
    if (m_pasteKeyCode == 0)
        m_pasteKeyCode = findKeyCodeTypingV(dpy);
    if (m_pasteKeyCode == 0)
        return false;
    const KeyCode control = XKeysymToKeycode(dpy, XK_Control_L);
    if (control == 0)
        return false;
    const KeyCode shift = isTerminal(focusedWindowClass(dpy)) ? XKeysymToKeycode(dpy, XK_Shift_L) : 0;
    XTestFakeKeyEvent(dpy, control, True, CurrentTime);
    if (shift != 0)
        XTestFakeKeyEvent(dpy, shift, True, CurrentTime);
    XTestFakeKeyEvent(dpy, m_pasteKeyCode, True, CurrentTime);
    XTestFakeKeyEvent(dpy, m_pasteKeyCode, False, CurrentTime);
    if (shift != 0)
        XTestFakeKeyEvent(dpy, shift, False, CurrentTime);
    XTestFakeKeyEvent(dpy, control, False, CurrentTime);
    XFlush(dpy);
    return true;
}
