#include "store/Utils.h"

#include "BuildInfo.h"
#include "store/Settings.h"

#include <QStringList>

namespace {

// A component counts as the integer of its leading decimal digits, 0 when it has none.
qint64 leadingNumber(const QString &component)
{
    qint64 value = 0;
    for (const QChar c : component) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

} // namespace

namespace Utils {

QString appVersion()
{
    return QString::fromLatin1(BuildInfo::version);
}

std::optional<QString> largeVersion(const QString &versionOne, const QString &versionTwo)
{
    const QStringList one = versionOne.split(QLatin1Char('.'));
    const QStringList two = versionTwo.split(QLatin1Char('.'));
    const qsizetype shared = std::min(one.size(), two.size());
    for (qsizetype i = 0; i < shared; ++i) {
        const qint64 a = leadingNumber(one[i]);
        const qint64 b = leadingNumber(two[i]);
        if (a != b)
            return a > b ? versionOne : versionTwo;
    }
    qint64 restOne = 0;
    qint64 restTwo = 0;
    for (qsizetype i = shared; i < one.size(); ++i)
        restOne += leadingNumber(one[i]);
    for (qsizetype i = shared; i < two.size(); ++i)
        restTwo += leadingNumber(two[i]);
    if (restOne == restTwo)
        return std::nullopt;
    return restOne > restTwo ? versionOne : versionTwo;
}

bool isNeedShowUpdate()
{
    const QString offered = Settings::offeredVersion();
    if (offered.isEmpty())
        return false;
    const std::optional<QString> larger = largeVersion(offered, appVersion());
    return larger && *larger == offered && *larger != appVersion();
}

} // namespace Utils
