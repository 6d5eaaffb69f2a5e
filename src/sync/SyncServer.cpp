#include "sync/SyncServer.h"

#include "BuildInfo.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"

#include <QSslCertificate>
#include <QUrl>

namespace {

QString withoutTrailingSlash(QString url)
{
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

} // namespace

namespace SyncServer {

bool isAddressFromEnvironment()
{
    return !qEnvironmentVariable("QUILLET_API_URL").trimmed().isEmpty();
}

QString storedAddress()
{
    return ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::syncServerURL)).value_or(QString());
}

QString baseURL()
{
    if (isAddressFromEnvironment())
        return withoutTrailingSlash(qEnvironmentVariable("QUILLET_API_URL").trimmed());
    if (const auto stored = normalizedAddress(storedAddress()))
        return *stored;
    return withoutTrailingSlash(QLatin1String(BuildInfo::apiUrl));
}

std::optional<QString> normalizedAddress(const QString &typed)
{
    const QString text = typed.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        || url.host().isEmpty() || url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return std::nullopt;
    QString result = withoutTrailingSlash(url.toString(QUrl::FullyEncoded));
    if (url.path().isEmpty() || url.path() == QLatin1String("/"))
        result += QStringLiteral("/api");
    return result;
}

bool setStoredAddress(const QString &typed)
{
    const QString key = QLatin1String(SettingsKeys::syncServerURL);
    if (typed.trimmed().isEmpty()) {
        ClipUserDefaults::remove(key);
        return true;
    }
    const auto address = normalizedAddress(typed);
    if (!address)
        return false;
    ClipUserDefaults::setValue(key, *address);
    return true;
}

bool isCAFileFromEnvironment()
{
    return !qEnvironmentVariable("QUILLET_CA_FILE").isEmpty();
}

QString storedCAFile()
{
    return ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::syncCAFile)).value_or(QString());
}

QString caFile()
{
    return isCAFileFromEnvironment() ? qEnvironmentVariable("QUILLET_CA_FILE") : storedCAFile();
}

bool setStoredCAFile(const QString &path)
{
    const QString key = QLatin1String(SettingsKeys::syncCAFile);
    const QString trimmed = path.trimmed();
    if (trimmed.isEmpty()) {
        ClipUserDefaults::remove(key);
        return true;
    }
    if (QSslCertificate::fromPath(trimmed, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString).isEmpty())
        return false;
    ClipUserDefaults::setValue(key, trimmed);
    return true;
}

} // namespace SyncServer
