#include "store/ConfigureManager.h"

#include "store/ClipFileManager.h"
#include "store/ClipUserDefaults.h"
#include "store/DBKeeper.h"
#include "store/SettingsKeys.h"

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

// An empty entry would make the pattern match every text, so a hand-edited settings file
// cannot turn every clip secret that way.
QStringList storedKeyWords()
{
    QStringList words = ClipUserDefaults::stringList(QLatin1String(SettingsKeys::userKeyWords));
    words.removeAll(QString());
    return words;
}

} // namespace

ConfigureManager::ConfigureManager(ClipFileManager &files, QObject *parent)
    : QObject(parent)
    , m_files(files)
    , m_loginUserToken(stored(SettingsKeys::loginUserToken))
    , m_loginUserId(stored(SettingsKeys::loginUserId))
    , m_loginUserEmail(stored(SettingsKeys::loginUserEmail))
    , m_keyWords(storedKeyWords())
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
        QMetaObject::invokeMethod(this, &ConfigureManager::signedOut, Qt::QueuedConnection);
    } else {
        QMetaObject::invokeMethod(this, &ConfigureManager::signedIn, Qt::QueuedConnection);
    }
}

void ConfigureManager::userLogoutProcess()
{
    m_files.deleteFilesWithHashArray(DBKeeper::removeAllData());
    ClipUserDefaults::remove(QLatin1String(SettingsKeys::categories));
    // The broker credentials belong to the signed-out user.
    ClipUserDefaults::remove(QLatin1String(SettingsKeys::mqttUserName));
    ClipUserDefaults::remove(QLatin1String(SettingsKeys::mqttPassword));
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
    ClipUserDefaults::setValue(QLatin1String(SettingsKeys::userKeyWords), customKeyWords());
}

void ConfigureManager::buildPattern()
{
    const QString pattern = (sysKeyWords() + customKeyWords()).join(QLatin1Char('|'));
    QMutexLocker lock(&m_mutex);
    m_pattern = pattern;
}
