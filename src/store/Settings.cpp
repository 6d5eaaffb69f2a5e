#include "store/Settings.h"

#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"
#include "support/WebUrl.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString key(const char *name)
{
    return QLatin1String(name);
}

bool readSwitch(const char *name, bool fallback)
{
    return ClipUserDefaults::boolValue(key(name), fallback);
}

void writeOrRemove(const char *name, const std::optional<QString> &value)
{
    if (value)
        ClipUserDefaults::setValue(key(name), *value);
    else
        ClipUserDefaults::remove(key(name));
}

std::optional<QString> nonEmpty(const char *name)
{
    std::optional<QString> value = ClipUserDefaults::stringValue(key(name));
    if (value && value->isEmpty())
        return std::nullopt;
    return value;
}

// A stored value as a 32-bit signed integer: the off marker -8192 may also have been written
// as its unsigned bits 0xFFFFE000. None when the value is absent or does not parse as a whole
// number of 32 bits (a damaged settings file).
std::optional<qint32> storedInt32(const char *name)
{
    bool ok = false;
    const qlonglong value = ClipUserDefaults::value(key(name)).toLongLong(&ok);
    if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<quint32>::max())
        return std::nullopt;
    return static_cast<qint32>(static_cast<quint32>(value));
}

bool isWebPage(const QString &text)
{
    return !text.isEmpty() && isWebUrl(QUrl(text, QUrl::StrictMode));
}

QUrl webPage(const char *name, const char *fallback)
{
    const std::optional<QString> stored = nonEmpty(name);
    if (stored && isWebPage(*stored))
        return QUrl(*stored, QUrl::StrictMode);
    return QUrl(QString::fromLatin1(fallback));
}

} // namespace

double Settings::pollIntervalSeconds()
{
    const double seconds = ClipUserDefaults::doubleValue(key(SettingsKeys::CLIP_MONITOR_SPEED),
                                                         SettingsDefaults::clipMonitorSpeed);
    // A value that would poll without pause, or hardly ever, is no interval.
    if (!std::isfinite(seconds) || seconds <= 0.0 || seconds > 3600.0)
        return SettingsDefaults::clipMonitorSpeed;
    return seconds;
}

void Settings::setPollIntervalSeconds(double seconds)
{
    ClipUserDefaults::setValue(key(SettingsKeys::CLIP_MONITOR_SPEED), seconds);
    emit changed(Key::PollInterval);
}

namespace {

std::optional<KeyCombination> storedCombination(const char *codeKey, const char *flagsKey)
{
    const std::optional<qint32> code = storedInt32(codeKey);
    const std::optional<qint32> flags = storedInt32(flagsKey);
    if (!code || !flags)
        return std::nullopt;
    return KeyCombination{unsigned(*code), unsigned(*flags)};
}

bool isOff(const char *codeKey, const char *flagsKey)
{
    return storedInt32(codeKey) == SettingsDefaults::shortcutOff
           || storedInt32(flagsKey) == SettingsDefaults::shortcutOff;
}

} // namespace

std::optional<KeyCombination> Settings::storedHotKey()
{
    return storedCombination(SettingsKeys::keyCode, SettingsKeys::modifierFlags);
}

bool Settings::isHotKeyOff()
{
    return isOff(SettingsKeys::keyCode, SettingsKeys::modifierFlags);
}

std::optional<KeyCombination> Settings::storedHistoryHotKey()
{
    return storedCombination(SettingsKeys::historyKeyCode, SettingsKeys::historyModifierFlags);
}

bool Settings::isHistoryHotKeyOff()
{
    return isOff(SettingsKeys::historyKeyCode, SettingsKeys::historyModifierFlags);
}

void Settings::setHistoryHotKey(const KeyCombination &combination)
{
    ClipUserDefaults::setValue(key(SettingsKeys::historyKeyCode), combination.keyCode);
    ClipUserDefaults::setValue(key(SettingsKeys::historyModifierFlags), combination.modifierFlags);
    emit changed(Key::HistoryHotKey);
}

void Settings::setHistoryHotKeyOff()
{
    ClipUserDefaults::setValue(key(SettingsKeys::historyKeyCode), SettingsDefaults::shortcutOff);
    ClipUserDefaults::setValue(key(SettingsKeys::historyModifierFlags), SettingsDefaults::shortcutOff);
    emit changed(Key::HistoryHotKey);
}

void Settings::setHotKey(const KeyCombination &combination)
{
    ClipUserDefaults::setValue(key(SettingsKeys::keyCode), combination.keyCode);
    ClipUserDefaults::setValue(key(SettingsKeys::modifierFlags), combination.modifierFlags);
    emit changed(Key::HotKey);
}

void Settings::setHotKeyOff()
{
    ClipUserDefaults::setValue(key(SettingsKeys::keyCode), SettingsDefaults::shortcutOff);
    ClipUserDefaults::setValue(key(SettingsKeys::modifierFlags), SettingsDefaults::shortcutOff);
    emit changed(Key::HotKey);
}

bool Settings::analyseSecret()
{
    return readSwitch(SettingsKeys::analyseSecert, true);
}

void Settings::setAnalyseSecret(bool on)
{
    ClipUserDefaults::setValue(key(SettingsKeys::analyseSecert), on);
    emit changed(Key::AnalyseSecret);
}

bool Settings::fileAsSecret()
{
    return readSwitch(SettingsKeys::fileAsSecert, true);
}

void Settings::setFileAsSecret(bool on)
{
    ClipUserDefaults::setValue(key(SettingsKeys::fileAsSecert), on);
    emit changed(Key::FileAsSecret);
}

bool Settings::advancePrivacy()
{
    return readSwitch(SettingsKeys::advancePrivacy, false);
}

void Settings::setAdvancePrivacy(bool on)
{
    ClipUserDefaults::setValue(key(SettingsKeys::advancePrivacy), on);
    emit changed(Key::AdvancePrivacy);
}

std::optional<QString> Settings::privacyScript()
{
    return ClipUserDefaults::stringValue(key(SettingsKeys::privacy_script));
}

void Settings::setPrivacyScript(const QString &script)
{
    ClipUserDefaults::setValue(key(SettingsKeys::privacy_script), script);
    emit changed(Key::PrivacyScript);
}

QStringList Settings::userKeyWords()
{
    // An empty entry would make the pattern match every text, so a hand-edited settings file
    // cannot turn every clip secret that way.
    QStringList words = ClipUserDefaults::stringList(key(SettingsKeys::userKeyWords));
    words.removeAll(QString());
    return words;
}

void Settings::setUserKeyWords(const QStringList &words)
{
    ClipUserDefaults::setValue(key(SettingsKeys::userKeyWords), words);
    emit changed(Key::UserKeyWords);
}

std::optional<QStringList> Settings::terminalClasses()
{
    if (!ClipUserDefaults::contains(key(SettingsKeys::terminalClasses)))
        return std::nullopt;
    return ClipUserDefaults::stringList(key(SettingsKeys::terminalClasses));
}

QString Settings::text(const char *name)
{
    return ClipUserDefaults::stringValue(key(name)).value_or(QString());
}

void Settings::setText(const char *name, const std::optional<QString> &value)
{
    writeOrRemove(name, value);
    const bool account = qstrcmp(name, SettingsKeys::loginUserToken) == 0
                         || qstrcmp(name, SettingsKeys::loginUserId) == 0
                         || qstrcmp(name, SettingsKeys::loginUserEmail) == 0;
    if (account)
        emit changed(Key::Account);
    else if (qstrcmp(name, SettingsKeys::lastPullRequestTime) == 0)
        emit changed(Key::PullCursor);
    else
        emit changed(Key::ServiceAddress);
}

std::optional<QString> Settings::brokerUser()
{
    return nonEmpty(SettingsKeys::mqttUserName);
}

std::optional<QString> Settings::brokerPassword()
{
    return nonEmpty(SettingsKeys::mqttPassword);
}

void Settings::setBrokerCredentials(const std::optional<std::pair<QString, QString>> &credentials)
{
    writeOrRemove(SettingsKeys::mqttUserName, credentials ? std::optional(credentials->first) : std::nullopt);
    writeOrRemove(SettingsKeys::mqttPassword,
                  credentials ? std::optional(credentials->second) : std::nullopt);
    emit changed(Key::BrokerCredentials);
}

void Settings::forgetCategories()
{
    ClipUserDefaults::remove(key(SettingsKeys::categories));
    emit changed(Key::Categories);
}

QString Settings::deviceToken()
{
    return ClipUserDefaults::stringValue(key(SettingsKeys::deviceToken)).value_or(QString());
}

void Settings::setDeviceToken(const QString &token)
{
    ClipUserDefaults::setValue(key(SettingsKeys::deviceToken), token);
}

QString Settings::pullCursor()
{
    const QString stored = ClipUserDefaults::stringValue(key(SettingsKeys::lastPullRequestTime))
                               .value_or(QLatin1String(SettingsDefaults::lastPullRequestTime));
    bool isNumber = false;
    const qint64 cursor = stored.toLongLong(&isNumber);
    // A damaged value would break every later pull: it counts as the start.
    if (!isNumber || cursor < 0)
        return QLatin1String(SettingsDefaults::lastPullRequestTime);
    return stored;
}

bool Settings::setPullCursor(qint64 cursor)
{
    if (cursor < 0)
        return false;
    ClipUserDefaults::setValue(key(SettingsKeys::lastPullRequestTime), QString::number(cursor));
    emit changed(Key::PullCursor);
    return true;
}

QString Settings::offeredVersion()
{
    return ClipUserDefaults::stringValue(key(SettingsKeys::newversion)).value_or(QString());
}

void Settings::setOfferedVersion(const QString &version)
{
    ClipUserDefaults::setValue(key(SettingsKeys::newversion), version);
    emit changed(Key::OfferedVersion);
}

QUrl Settings::homepage()
{
    return webPage(SettingsKeys::homepage, SettingsDefaults::homepage);
}

QUrl Settings::developerPage()
{
    return webPage(SettingsKeys::developerPage, SettingsDefaults::developerPage);
}

void Settings::setServicePages(const QString &homepage, const QString &developerPage)
{
    writeOrRemove(SettingsKeys::homepage, isWebPage(homepage) ? std::optional(homepage) : std::nullopt);
    writeOrRemove(SettingsKeys::developerPage,
                  isWebPage(developerPage) ? std::optional(developerPage) : std::nullopt);
    emit changed(Key::ServicePages);
}

Settings::Language Settings::language()
{
    const std::optional<QString> stored = nonEmpty(SettingsKeys::interfaceLanguage);
    if (stored == QLatin1String("zh_CN"))
        return Language::Chinese;
    if (stored == QLatin1String("en"))
        return Language::English;
    return Language::System;
}

void Settings::setLanguage(Language language)
{
    switch (language) {
    case Language::Chinese:
        writeOrRemove(SettingsKeys::interfaceLanguage, QStringLiteral("zh_CN"));
        break;
    case Language::English:
        writeOrRemove(SettingsKeys::interfaceLanguage, QStringLiteral("en"));
        break;
    case Language::System:
        writeOrRemove(SettingsKeys::interfaceLanguage, std::nullopt);
        break;
    }
    emit changed(Key::Language);
}

int Settings::historyLength()
{
    bool ok = false;
    const qlonglong clips = ClipUserDefaults::value(key(SettingsKeys::historyLength)).toLongLong(&ok);
    if (!ok)
        return SettingsDefaults::historyLength;
    return int(
        std::clamp<qlonglong>(clips, SettingsDefaults::historyLengthMin, SettingsDefaults::historyLengthMax));
}

void Settings::setHistoryLength(int clips)
{
    ClipUserDefaults::setValue(
        key(SettingsKeys::historyLength),
        std::clamp(clips, SettingsDefaults::historyLengthMin, SettingsDefaults::historyLengthMax));
    emit changed(Key::HistoryLength);
}
