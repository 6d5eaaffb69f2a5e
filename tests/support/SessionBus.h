#pragma once

#include <QProcess>
#include <QString>

// A private D-Bus daemon (session configuration) for one test or one test device. A program on
// an X display that finds no bus address in its environment asks libdbus to autolaunch one,
// which forks dbus-launch from a running, threaded program and leaves a bus behind; the
// display's programs talk to this one instead. Ended with the object, and with the test
// process if that crashes.
class SessionBus final
{
public:
    SessionBus() = default;
    ~SessionBus();

    bool start();
    void stop();
    // The address the programs put into DBUS_SESSION_BUS_ADDRESS (or DBUS_SYSTEM_BUS_ADDRESS).
    QString address() const { return m_address; }

private:
    QProcess m_process;
    QString m_address;
};
