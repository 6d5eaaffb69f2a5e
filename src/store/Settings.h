#pragma once

#include "platform/HotKeyRegistrar.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// Every preference and every piece of remembered state in the settings file, each with its
// key, its default and the check its stored value must pass: the one place that knows them.
// A value that is absent or does not pass its check reads as the default. The file itself is
// ClipUserDefaults'.
//
// Reading needs no object and is safe from any thread. Every change goes through the one
// Settings object the application owns, which announces it with changed(), so that a part that
// depends on a setting follows it without being told by the part that changed it.
class Settings final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Settings)

public:
    // What changed() names: one value per group of keys that change together.
    enum class Key {
        PollInterval,
        HotKey,
        AnalyseSecret,
        FileAsSecret,
        AdvancePrivacy,
        PrivacyScript,
        UserKeyWords,
        Account,
        ServiceAddress,
        BrokerCredentials,
        Categories,
        PullCursor,
        OfferedVersion,
        ServicePages,
        Language,
        HistoryLength,
        HistoryHotKey,
    };
    Q_ENUM(Key)

    // The interface language the user chose; System follows the locale.
    enum class Language { System, Chinese, English };
    Q_ENUM(Language)

    explicit Settings(QObject *parent = nullptr)
        : QObject(parent)
    { }

    // Capture: the fallback poll's interval in seconds ("CLIP_MONITOR_SPEED"), 0.6 by default;
    // anything but a finite number above 0 and at most an hour counts as absent.
    static double pollIntervalSeconds();
    void setPollIntervalSeconds(double seconds);

    // The global hot key ("keyCode", "modifierFlags"): none while either value is missing or
    // damaged (the default then applies). Off while either holds the marker -8192.
    static std::optional<KeyCombination> storedHotKey();
    static bool isHotKeyOff();
    void setHotKey(const KeyCombination &combination);
    void setHotKeyOff();
    // The hot key of the history window ("historyKeyCode", "historyModifierFlags"), kept the
    // same way.
    static std::optional<KeyCombination> storedHistoryHotKey();
    static bool isHistoryHotKeyOff();
    void setHistoryHotKey(const KeyCombination &combination);
    void setHistoryHotKeyOff();

    // Privacy: keyword analysis ("analyseSecert", on by default), copied files as secrets
    // ("fileAsSecert", on), the advanced mode ("advancePrivacy", off), the script
    // ("privacy_script") and the user's own keywords ("userKeyWords", never an empty one).
    static bool analyseSecret();
    void setAnalyseSecret(bool on);
    static bool fileAsSecret();
    void setFileAsSecret(bool on);
    static bool advancePrivacy();
    void setAdvancePrivacy(bool on);
    static std::optional<QString> privacyScript();
    void setPrivacyScript(const QString &script);
    static QStringList userKeyWords();
    void setUserKeyWords(const QStringList &words);

    // Paste-back: the window classes that paste with Control+Shift+V ("terminalClasses"); none
    // when unset (the built-in list applies).
    static std::optional<QStringList> terminalClasses();

    // A text kept as it is given: the account ("loginUserToken", "loginUserId",
    // "loginUserEmail") and the addresses of a self-hosted service ("syncServerURL",
    // "syncCAFile", "mqttServerURL", checked where they are typed); empty when none. None removes
    // the key.
    static QString text(const char *key);
    void setText(const char *key, const std::optional<QString> &value);
    // The account's broker credentials ("mqttUserName", "mqttPassword"), and the stored menu
    // categories ("categories").
    static std::optional<QString> brokerUser();
    static std::optional<QString> brokerPassword();
    void setBrokerCredentials(const std::optional<std::pair<QString, QString>> &credentials);
    void forgetCategories();

    // This device's random token ("deviceToken"); empty until one was stored. It is stored
    // once, when first needed, before anything could listen: the change is announced to nobody.
    static QString deviceToken();
    static void setDeviceToken(const QString &token);

    // Where the last pull ended ("lastPullRequestTime"), "0" before the first. Only a whole
    // number of 0 or more is ever stored; false, storing nothing, for any other.
    static QString pullCursor();
    bool setPullCursor(qint64 cursor);

    // The newest version the service offered ("newversion"), empty when none.
    static QString offeredVersion();
    void setOfferedVersion(const QString &version);
    // The service's pages ("homepage", "developerPage"): an http(s) URL with a host, else the
    // build's default. Storing none, or no such URL, removes the stored one.
    static QUrl homepage();
    static QUrl developerPage();
    void setServicePages(const QString &homepage, const QString &developerPage);

    // The interface language ("interfaceLanguage"): System when unset or unknown.
    static Language language();
    void setLanguage(Language language);

    // How many history clips are kept ("historyLength"), 60 by default; a stored number outside
    // 10 to 10,000 is brought to the nearer bound, anything else reads as the default.
    static int historyLength();
    void setHistoryLength(int clips);

signals:
    // A value was stored (also when it equals the one before).
    void changed(Settings::Key key);
};
