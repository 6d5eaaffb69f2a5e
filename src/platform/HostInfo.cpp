#include "platform/HostInfo.h"

#include <QFile>
#include <QSysInfo>

namespace HostInfo {

QString prettyHostNameFromMachineInfo(const QString &machineInfo)
{
    const QStringList lines = machineInfo.split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (!line.startsWith(QLatin1String("PRETTY_HOSTNAME=")))
            continue;
        QString value = line.mid(16).trimmed();
        // The file uses shell quoting; the common forms are plain or quoted values.
        if (value.size() >= 2 && (value.startsWith(QLatin1Char('"')) || value.startsWith(QLatin1Char('\'')))
            && value.endsWith(value.front()))
            value = value.mid(1, value.size() - 2);
        value.replace(QLatin1String("\\\""), QLatin1String("\""));
        return value;
    }
    return {};
}

QString localizedName()
{
    static const QString name = [] {
        QFile file(QStringLiteral("/etc/machine-info"));
        if (file.open(QIODevice::ReadOnly)) {
            const QString pretty = prettyHostNameFromMachineInfo(QString::fromUtf8(file.readAll()));
            if (!pretty.isEmpty())
                return pretty;
        }
        return QSysInfo::machineHostName();
    }();
    return name;
}

} // namespace HostInfo
