#include "store/ConfigureManager.h"

#include "store/ClipFileManager.h"
#include "store/ClipUserDefaults.h"
#include "store/DBKeeper.h"
#include "store/SettingsKeys.h"
#include "support/NotificationCenter.h"
#include "support/Notifications.h"

namespace {

void writeOrRemove(const char *key, const std::optional<QString> &value)
{
    if (value)
        ClipUserDefaults::setValue(QLatin1String(key), *value);
    else
        ClipUserDefaults::remove(QLatin1String(key));
}

QString stored(const char *key)
{
    return ClipUserDefaults::stringValue(QLatin1String(key)).value_or(QString());
}

} // namespace

ConfigureManager &ConfigureManager::sharedInstance()
{
    static ConfigureManager manager;
    return manager;
}

ConfigureManager::ConfigureManager()
    : m_loginUserToken(stored(SettingsKeys::loginUserToken))
    , m_loginUserId(stored(SettingsKeys::loginUserId))
    , m_loginUserEmail(stored(SettingsKeys::loginUserEmail))
{
}

bool ConfigureManager::isLogined() const
{
    QMutexLocker lock(&m_mutex);
    return !m_loginUserToken.isEmpty();
}

QString ConfigureManager::loginUserToken() const
{
    QMutexLocker lock(&m_mutex);
    return m_loginUserToken;
}

QString ConfigureManager::loginUserId() const
{
    QMutexLocker lock(&m_mutex);
    return m_loginUserId;
}

QString ConfigureManager::loginUserEmail() const
{
    QMutexLocker lock(&m_mutex);
    return m_loginUserEmail;
}

void ConfigureManager::setLoginUserId(const std::optional<QString> &userId)
{
    {
        QMutexLocker lock(&m_mutex);
        m_loginUserId = userId.value_or(QString());
    }
    writeOrRemove(SettingsKeys::loginUserId, userId);
}

void ConfigureManager::setLoginUserEmail(const std::optional<QString> &email)
{
    {
        QMutexLocker lock(&m_mutex);
        m_loginUserEmail = email.value_or(QString());
    }
    writeOrRemove(SettingsKeys::loginUserEmail, email);
}

void ConfigureManager::setLoginUserToken(const std::optional<QString> &token)
{
    {
        QMutexLocker lock(&m_mutex);
        m_loginUserToken = token.value_or(QString());
    }
    writeOrRemove(SettingsKeys::loginUserToken, token);
    if (!token) {
        userLogoutProcess();
        NotificationCenter::sharedInstance().postOnMain(QLatin1String(Notifications::USER_LOGOUTED));
    } else {
        NotificationCenter::sharedInstance().postOnMain(QLatin1String(Notifications::USER_LOGINED));
    }
}

void ConfigureManager::userLogoutProcess()
{
    ClipFileManager::sharedInstance().deleteFilesWithHashArray(DBKeeper::removeAllData());
    ClipUserDefaults::remove(QLatin1String(SettingsKeys::categories));
}
