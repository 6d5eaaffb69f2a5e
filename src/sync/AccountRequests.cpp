#include "sync/AccountRequests.h"

#include "store/ConfigureManager.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "support/Log.h"
#include "support/Md5.h"
#include "support/WebUrl.h"
#include "sync/SyncEngine.h"
#include "sync/SyncIdentity.h"

#include <QTimer>
#include <QUrl>

#include <cctype>

namespace {

// A successful sign-in or registration. The token comes last: setting it announces the
// sign-in on the main thread, where the account pane and the broker client read the e-mail,
// the id and the broker credentials at once, so those must be stored by then. A reply without
// a token is no sign-in.
RequestResult signIn(const QByteArray &body, const QString &email, ConfigureManager &account)
{
    RequestResult reply = RequestManager::jsonObject(body);
    if (!reply || RequestManager::replyCode(*reply) != 0)
        return reply;
    const QString token = reply->value(QStringLiteral("token")).toString();
    if (token.isEmpty())
        return std::nullopt;
    const QString mqttUser = reply->value(QStringLiteral("mqtt_username")).toString();
    const QString mqttPassword = reply->value(QStringLiteral("mqtt_password")).toString();
    // A service without per-user credentials: the broker client uses its fixed pair.
    if (!mqttUser.isEmpty() && !mqttPassword.isEmpty())
        account.settings().setBrokerCredentials(std::pair(mqttUser, mqttPassword));
    else
        account.settings().setBrokerCredentials(std::nullopt);
    account.setLoginUserId(QString::number(reply->value(QStringLiteral("user_id")).toInteger()));
    account.setLoginUserEmail(email);
    account.setLoginUserToken(token);
    return reply;
}

// An e-mail address goes into the query as typed, except for what a query would misread: "+"
// (a space), "%" (an escape) and anything else outside letters, digits and "@._-".
QString emailValue(const QString &email)
{
    QString out;
    for (const char c : email.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || byte == '@' || byte == '.' || byte == '_' || byte == '-')
            out += QLatin1Char(char(byte));
        else
            out += QLatin1Char('%') + QStringLiteral("%1").arg(uint(byte), 2, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

QString deviceNamePair()
{
    return QStringLiteral("&device_name=") + urlencode(localDeviceName());
}

} // namespace

InitRequestManager::InitRequestManager()
    : m_device_name(urlencode(localDeviceName()))
{ }

QString InitRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/init/");
}

QString InitRequestManager::requestURL() const
{
    QString url = RequestManager::requestURL() + QStringLiteral("&device_name=") + m_device_name;
    if (hasSync() && sync().account().isSignedIn())
        url += tokenPair();
    return url;
}

RequestResult InitRequestManager::parse(const QByteArray &body)
{
    RequestResult reply = jsonObject(body);
    if (reply && replyCode(*reply) != 0 && reply->value(QStringLiteral("token_expire")).toInteger() == 1)
        sync().account().endSignInByService();
    return reply;
}

void InitRequestManager::storePages(Settings &settings, const QJsonObject &reply)
{
    const QJsonObject data = reply.value(QStringLiteral("data")).toObject();
    settings.setServicePages(data.value(QStringLiteral("homepage")).toString(),
                             data.value(QStringLiteral("developer")).toString());
}

QString LoginRequestManager::password_hash() const
{
    return md5_hex(m_passwd);
}

QString LoginRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/login/");
}

QString LoginRequestManager::requestURL() const
{
    return RequestManager::requestURL() + deviceNamePair() + QStringLiteral("&username=") + emailValue(m_user)
           + QStringLiteral("&pwd_hash=") + password_hash();
}

RequestResult LoginRequestManager::parse(const QByteArray &body)
{
    return signIn(body, m_user, sync().account());
}

QString RegisterRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/register/");
}

QString RegisterRequestManager::requestURL() const
{
    return RequestManager::requestURL() + deviceNamePair() + QStringLiteral("&username=")
           + emailValue(m_username) + QStringLiteral("&pwd_hash=") + m_pwd_hash;
}

RequestResult RegisterRequestManager::parse(const QByteArray &body)
{
    return signIn(body, m_username, sync().account());
}

QString LogoutRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/logout/");
}

QString LogoutRequestManager::requestURL() const
{
    return RequestManager::requestURL() + tokenPair();
}

void signOutOfService(SyncEngine &sync, std::function<void()> done, int waitMs)
{
    // Whichever comes first, the answer or the end of the wait, signs out; the other finds the
    // work done. The engine lives as long as the program, so neither is dropped.
    auto finished = std::make_shared<bool>(false);
    auto finish = [&sync, finished, done = std::move(done)] {
        if (*finished)
            return;
        *finished = true;
        sync.account().setLoginUserToken(std::nullopt);
        if (done)
            done();
    };
    if (!sync.account().isSignedIn()) {
        finish();
        return;
    }
    QTimer::singleShot(waitMs, &sync, finish);
    sync.send(
        std::make_shared<LogoutRequestManager>(),
        [finish](const RequestResult &, int status, const std::optional<RequestError> &error) {
            if (error && status != 404)
                qCInfo(lcSync) << "the service did not confirm the sign-out:" << status;
            finish();
        },
        &sync);
}

QString FindPwdRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/forget_pwd/");
}

QString FindPwdRequestManager::requestURL() const
{
    return RequestManager::requestURL() + QStringLiteral("&user_email=") + emailValue(m_user_email);
}

RequestResult FindPwdRequestManager::parse(const QByteArray &body)
{
    return jsonObject(body);
}
