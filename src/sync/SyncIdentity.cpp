#include "sync/SyncIdentity.h"

#include "BuildInfo.h"
#include "platform/HostInfo.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSysInfo>

QString makeDeviceToken()
{
    if (const QString stored = Settings::deviceToken(); !stored.isEmpty())
        return stored;
    // Nothing of the machine goes in: two users of one computer, two Quillets with their own
    // folders and computers cloned from one image would otherwise share a token, and the
    // broker would let each of their connections push the other off.
    quint32 bits[4];
    QRandomGenerator::system()->fillRange(bits);
    const QString token =
        QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bits), sizeof bits).toHex());
    Settings::setDeviceToken(token);
    return token;
}

QString currentDeviceToken()
{
    static const QString token = makeDeviceToken();
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
