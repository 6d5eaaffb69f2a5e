#pragma once

#include "XvfbServer.h"

#include <QApplication>
#include <QProcess>
#include <QTest>
#include <QWidget>

// Helpers for tests that run against a private X server, and the main() that starts it
// before the application connects.
namespace X11Test {

inline bool xdotool(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

// Shows the window and waits until it is active and has the keyboard focus.
inline bool showFocused(QWidget &window)
{
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window, 10000)
           && QTest::qWaitFor([&] { return window.hasFocus(); }, 10000);
}

inline void stop(QProcess &process)
{
    endProcess(process);
}

} // namespace X11Test

#define QUILLET_XVFB_TEST_MAIN(TestClass)                                                                    \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        XvfbServer xvfb;                                                                                     \
        if (!xvfb.start()) {                                                                                 \
            qWarning("Xvfb or its session bus (dbus-daemon) could not be started");                          \
            return 1;                                                                                        \
        }                                                                                                    \
        qputenv("QT_QPA_PLATFORM", "xcb");                                                                   \
        QApplication app(argc, argv);                                                                        \
        TestClass test;                                                                                      \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
