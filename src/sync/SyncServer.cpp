#include "sync/SyncServer.h"

#include "BuildInfo.h"
#include "store/SettingsKeys.h"
#include "sync/ConfiguredAddress.h"

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
    return ConfiguredAddress::isFromEnvironment("QUILLET_API_URL");
}

QString storedAddress()
{
    return ConfiguredAddress::stored(SettingsKeys::syncServerURL);
}

QString baseURL()
{
    if (isAddressFromEnvironment())
        return withoutTrailingSlash(ConfiguredAddress::fromEnvironment("QUILLET_API_URL"));
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

bool setStoredAddress(Settings &settings, const QString &typed)
{
    return ConfiguredAddress::store(settings, SettingsKeys::syncServerURL, typed, normalizedAddress);
}

bool isCAFileFromEnvironment()
{
    return !qEnvironmentVariable("QUILLET_CA_FILE").isEmpty();
}

QString storedCAFile()
{
    return ConfiguredAddress::stored(SettingsKeys::syncCAFile);
}

QString caFile()
{
    return isCAFileFromEnvironment() ? qEnvironmentVariable("QUILLET_CA_FILE") : storedCAFile();
}

bool setStoredCAFile(Settings &settings, const QString &path)
{
    // A file that holds no PEM certificate is no authority.
    return ConfiguredAddress::store(
        settings, SettingsKeys::syncCAFile, path, [](const QString &typed) -> std::optional<QString> {
            const QString trimmed = typed.trimmed();
            if (QSslCertificate::fromPath(trimmed, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString)
                    .isEmpty())
                return std::nullopt;
            return trimmed;
        });
}

} // namespace SyncServer
