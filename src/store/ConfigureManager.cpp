#include "store/ConfigureManager.h"

#include "store/ClipFileManager.h"
#include "store/DBKeeper.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"

ConfigureManager::ConfigureManager(Settings &settings, ClipFileManager &files, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_files(files)
    , m_loginUserToken(Settings::text(SettingsKeys::loginUserToken))
    , m_loginUserId(Settings::text(SettingsKeys::loginUserId))
    , m_loginUserEmail(Settings::text(SettingsKeys::loginUserEmail))
    , m_keyWords(Settings::userKeyWords())
{
    buildPattern();
}

bool ConfigureManager::isSignedIn() const
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
    m_settings.setText(SettingsKeys::loginUserId, userId);
}

void ConfigureManager::setLoginUserEmail(const std::optional<QString> &email)
{
    {
        QMutexLocker lock(&m_mutex);
        m_loginUserEmail = email.value_or(QString());
    }
    m_settings.setText(SettingsKeys::loginUserEmail, email);
}

void ConfigureManager::setLoginUserToken(const std::optional<QString> &token)
{
    if (!token) {
        forgetAccount();
        userLogoutProcess();
        QMetaObject::invokeMethod(this, &ConfigureManager::signedOut, Qt::QueuedConnection);
        return;
    }
    {
        QMutexLocker lock(&m_mutex);
        m_loginUserToken = *token;
    }
    m_settings.setText(SettingsKeys::loginUserToken, token);
    QMetaObject::invokeMethod(this, &ConfigureManager::signedIn, Qt::QueuedConnection);
}

void ConfigureManager::endSignInByService()
{
    if (!isSignedIn())
        return;
    forgetAccount();
    QMetaObject::invokeMethod(this, &ConfigureManager::signInEnded, Qt::QueuedConnection);
    QMetaObject::invokeMethod(this, &ConfigureManager::signedOut, Qt::QueuedConnection);
}

void ConfigureManager::forgetAccount()
{
    {
        QMutexLocker lock(&m_mutex);
        m_loginUserToken.clear();
        m_loginUserId.clear();
        m_loginUserEmail.clear();
    }
    for (const char *key : {SettingsKeys::loginUserToken, SettingsKeys::loginUserId,
                            SettingsKeys::loginUserEmail, SettingsKeys::lastPullRequestTime})
        m_settings.setText(key, std::nullopt);
    m_settings.setBrokerCredentials(std::nullopt);
    m_settings.forgetCategories();
}

void ConfigureManager::userLogoutProcess()
{
    m_files.deleteFilesWithHashArray(DBKeeper::removeAllData());
}

QStringList ConfigureManager::sysKeyWords() const
{
    return {QStringLiteral("密码"),    QStringLiteral("用户名"),   QStringLiteral("卡号"),
            QStringLiteral("账户"),    QStringLiteral("账号"),     QStringLiteral("银行卡"),
            QStringLiteral("验证码"),  QStringLiteral("password"), QStringLiteral("account"),
            QStringLiteral("username")};
}

QStringList ConfigureManager::customKeyWords() const
{
    QMutexLocker lock(&m_mutex);
    return m_keyWords;
}

QString ConfigureManager::keyWordsRegPattern() const
{
    QMutexLocker lock(&m_mutex);
    return m_pattern;
}

bool ConfigureManager::addNewWord(const QString &word)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_keyWords.size() >= kMaxCustomKeyWords)
            return false;
        if (word.isEmpty())
            return true;
        m_keyWords.append(word);
    }
    saveKeyWords();
    buildPattern();
    return true;
}

void ConfigureManager::setKeyWord(const QString &word, qsizetype index)
{
    if (word.isEmpty())
        return;
    {
        QMutexLocker lock(&m_mutex);
        if (index < 0 || index >= m_keyWords.size())
            return;
        m_keyWords[index] = word;
    }
    saveKeyWords();
    buildPattern();
}

void ConfigureManager::removeKeyWordAtIndex(qsizetype index)
{
    {
        QMutexLocker lock(&m_mutex);
        if (index < 0 || index >= m_keyWords.size())
            return;
        m_keyWords.removeAt(index);
    }
    saveKeyWords();
    buildPattern();
}

void ConfigureManager::saveKeyWords()
{
    m_settings.setUserKeyWords(customKeyWords());
}

void ConfigureManager::buildPattern()
{
    const QString pattern = (sysKeyWords() + customKeyWords()).join(QLatin1Char('|'));
    QMutexLocker lock(&m_mutex);
    m_pattern = pattern;
}
