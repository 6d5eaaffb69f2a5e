#include "platform/X11HotKeyRegistrar.h"

#include "platform/HotKeyTranslation.h"
#include "platform/X11Display.h"
#include "support/Log.h"
#include "support/MainQueue.h"

#include <QCoreApplication>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

namespace {

// Set by the error handler while a grab is checked; another client's grab yields BadAccess.
bool g_grabFailed = false;

int recordGrabError(Display *, XErrorEvent *event)
{
    if (event->error_code == BadAccess || event->error_code == BadValue || event->error_code == BadWindow)
        g_grabFailed = true;
    return 0;
}

unsigned x11Modifiers(unsigned modifiers)
{
    unsigned mask = 0;
    if (modifiers & HotKeyTranslation::ShiftModifier)
        mask |= ShiftMask;
    if (modifiers & HotKeyTranslation::ControlModifier)
        mask |= ControlMask;
    if (modifiers & HotKeyTranslation::AltModifier)
        mask |= Mod1Mask;
    if (modifiers & HotKeyTranslation::SuperModifier)
        mask |= Mod4Mask;
    return mask;
}

// The modifier bit that Num Lock sets on this display (usually Mod2).
unsigned numLockMask(Display *display)
{
    unsigned mask = 0;
    const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    XModifierKeymap *map = XGetModifierMapping(display);
    if (!map)
        return Mod2Mask;
    for (int modifier = 0; modifier < 8 && numLock != 0; ++modifier) {
        for (int k = 0; k < map->max_keypermod; ++k) {
            if (map->modifiermap[modifier * map->max_keypermod + k] == numLock)
                mask = 1U << modifier;
        }
    }
    XFreeModifiermap(map);
    return mask ? mask : Mod2Mask;
}

std::vector<unsigned> lockVariants(Display *display)
{
    const unsigned numLock = numLockMask(display);
    return {0U, LockMask, numLock, LockMask | numLock};
}

constexpr unsigned kComparedModifiers = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;

} // namespace

X11HotKeyRegistrar::X11HotKeyRegistrar()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installNativeEventFilter(this);
}

X11HotKeyRegistrar::~X11HotKeyRegistrar()
{
    unregisterAll();
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
}

bool X11HotKeyRegistrar::registerHotKey(const KeyCombination &combination, std::function<void()> action)
{
    Display *display = qtX11Display();
    const std::optional<HotKeyTranslation::X11Combination> translated =
        HotKeyTranslation::translate(combination);
    if (!display || !translated)
        return false;
    const KeyCode keyCode = XKeysymToKeycode(display, translated->keysym);
    if (keyCode == 0)
        return false;
    const unsigned modifiers = x11Modifiers(translated->modifiers);
    const Window root = DefaultRootWindow(display);

    XSync(display, False);
    g_grabFailed = false;
    XErrorHandler previous = XSetErrorHandler(recordGrabError);
    for (const unsigned variant : lockVariants(display))
        XGrabKey(display, keyCode, modifiers | variant, root, True, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    XSetErrorHandler(previous);

    Grab grab{keyCode, modifiers, std::move(action)};
    if (g_grabFailed) {
        qCInfo(lcPlatform) << "hot key is taken by another program" << combination.keyCode
                           << combination.modifierFlags;
        ungrab(grab);
        return false;
    }
    m_grabs.push_back(std::move(grab));
    return true;
}

void X11HotKeyRegistrar::ungrab(const Grab &grab)
{
    Display *display = qtX11Display();
    if (!display)
        return;
    const Window root = DefaultRootWindow(display);
    for (const unsigned variant : lockVariants(display))
        XUngrabKey(display, static_cast<int>(grab.keyCode), grab.modifiers | variant, root);
    XFlush(display);
}

void X11HotKeyRegistrar::unregisterAll()
{
    for (const Grab &grab : m_grabs)
        ungrab(grab);
    m_grabs.clear();
}

bool X11HotKeyRegistrar::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (m_grabs.empty() || eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto *press = static_cast<const xcb_key_press_event_t *>(message);
    const unsigned state = press->state & kComparedModifiers;
    for (const Grab &grab : m_grabs) {
        if (grab.keyCode == press->detail && grab.modifiers == state) {
            // The action may open a menu with its own event loop; run it after this event. The
            // event goes on to Qt, which takes its time stamp: the menu's keyboard grab must
            // not be older than the grab this key press started, or the server refuses it.
            dispatchMain(grab.action);
            return false;
        }
    }
    return false;
}
