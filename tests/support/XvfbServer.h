#pragma once

#include <QProcess>
#include <QString>

// Ends a program a test started, by its own handle: asked first, killed when it does not go.
void endProcess(QProcess &process);

// A private X server for one test executable: started on a free display number, stopped (by
// its own PID) when the object goes. start() also points DISPLAY at it for this process and
// the programs it starts (xclip, xdotool).
class XvfbServer final
{
public:
    XvfbServer() = default;
    ~XvfbServer();

    bool start();
    void stop();
    QString display() const { return m_display; }

private:
    QProcess m_process;
    QString m_display;
};
