#include "XvfbServer.h"

using namespace Qt::StringLiterals;

XvfbServer::~XvfbServer()
{
    stop();
}

bool XvfbServer::start()
{
    // -displayfd 1: Xvfb picks a free display and writes its number to standard output.
    m_process.start(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"1280x1024x24"_s,
                                u"-nolisten"_s, u"tcp"_s, u"-noreset"_s});
    if (!m_process.waitForStarted(5000))
        return false;
    QByteArray number;
    while (!number.contains('\n')) {
        if (!m_process.waitForReadyRead(10000))
            return false;
        number += m_process.readAllStandardOutput();
    }
    m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    qputenv("DISPLAY", m_display.toLatin1());
    if (!m_bus.start())
        return false;
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
    return true;
}

void XvfbServer::stop()
{
    m_bus.stop();
    endProcess(m_process);
}

void endProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(2000);
    }
}
