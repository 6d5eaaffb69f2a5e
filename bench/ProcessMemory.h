#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A memory figure of a process from /proc/PID/status ("VmRSS:", "VmHWM:"), in KiB; -1 when it
// cannot be read.
inline qint64 processMemoryKib(qint64 pid, const char *field = "VmRSS:")
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}
