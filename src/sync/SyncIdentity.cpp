#include "sync/SyncIdentity.h"

#include "BuildInfo.h"
#include "platform/HostInfo.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "support/Md5.h"

#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUuid>

QString makeDeviceToken(const QString &machineIdPath)
{
    if (const QString stored = Settings::deviceToken(); !stored.isEmpty())
        return stored;
    QString machineId;
    QFile file(machineIdPath);
    if (file.open(QIODevice::ReadOnly))
        machineId = QString::fromUtf8(file.read(256)).trimmed();
    const QString token = md5_hex(
        machineId.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() : machineId);
    Settings::setDeviceToken(token);
    return token;
}

QString currentDeviceToken()
{
    static const QString token = makeDeviceToken(QStringLiteral("/etc/machine-id"));
    return token;
}

QString deviceTypeFromKernelRelease(const QString &release)
{
    static const QRegularExpression leadingDigits(QStringLiteral("^\\d+"));
    const QStringList parts = release.split(QLatin1Char('.'));
    long numbers[3] = {0, 0, 0};
    for (int i = 0; i < 3 && i < parts.size(); ++i) {
        const QRegularExpressionMatch match = leadingDigits.match(parts.at(i));
        if (!match.hasMatch())
            break;
        numbers[i] = match.captured().toLong();
    }
    return QStringLiteral("linux_%1.%2.%3").arg(numbers[0]).arg(numbers[1]).arg(numbers[2]);
}

QString deviceTypeString()
{
    return deviceTypeFromKernelRelease(QSysInfo::kernelVersion());
}

QString appVersionString()
{
    return QLatin1String(BuildInfo::version) + QLatin1Char('_') + QLatin1String(BuildInfo::buildNumber);
}

QString localDeviceName()
{
    return HostInfo::localizedName();
}

QString urlencode(const QString &text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    QString out;
    const QByteArray bytes = text.toUtf8();
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')
            || byte == '-' || byte == '.' || byte == '_' || byte == '~') {
            out += QLatin1Char(char(byte));
        } else if (byte == ' ') {
            out += QLatin1Char('+');
        } else {
            out += QLatin1Char('%');
            out += QLatin1Char(hex[byte >> 4]);
            out += QLatin1Char(hex[byte & 0xF]);
        }
    }
    return out;
}
