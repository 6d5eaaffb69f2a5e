#pragma once

#include "platform/HotKeyRegistrar.h"

#include <QAbstractNativeEventFilter>

#include <vector>

// Global hot keys as passive key grabs on the root window of the application's X display,
// one grab per Num Lock / Caps Lock state so that the key works with either lock on. Key
// presses reach the application's event stream and are picked out by a native event filter.
class X11HotKeyRegistrar final : public HotKeyRegistrar, public QAbstractNativeEventFilter
{
public:
    X11HotKeyRegistrar();
    ~X11HotKeyRegistrar() override;
    X11HotKeyRegistrar(const X11HotKeyRegistrar &) = delete;
    X11HotKeyRegistrar &operator=(const X11HotKeyRegistrar &) = delete;

    bool registerHotKey(const KeyCombination &combination, std::function<void()> action) override;
    void unregisterAll() override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    struct Grab {
        unsigned keyCode;
        unsigned modifiers; // X11 modifier mask without the lock bits
        std::function<void()> action;
    };

    void ungrab(const Grab &grab);

    std::vector<Grab> m_grabs;
};
