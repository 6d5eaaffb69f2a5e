#include "XvfbServer.h"

#include <QStandardPaths>

XvfbServer::~XvfbServer()
{
    stop();
}

bool XvfbServer::start()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        return false;
    // -displayfd 1: Xvfb picks a free display and writes its number to standard output.
    m_process.start(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                     QStringLiteral("tcp"), QStringLiteral("-noreset")});
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
    return true;
}

void XvfbServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}
