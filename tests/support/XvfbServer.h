#pragma once

#include "SessionBus.h"

#include <QProcess>
#include <QString>

// Ends a program a test started, by its own handle: asked first, killed when it does not go.
void endProcess(QProcess &process);

// A private X server for one test executable, with a session bus of its own: started on a free
// display number, stopped (by their own PIDs) when the object goes. start() also points DISPLAY
// and DBUS_SESSION_BUS_ADDRESS at them for this process and the programs it starts (xclip,
// xdotool).
class XvfbServer final
{
public:
    XvfbServer() = default;
    ~XvfbServer();

    bool start();
    void stop();
    QString display() const { return m_display; }
    QString busAddress() const { return m_bus.address(); }

private:
    QProcess m_process;
    SessionBus m_bus;
    QString m_display;
};
