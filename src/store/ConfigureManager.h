#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class ClipFileManager;
class Settings;

// The signed-in account and the privacy keywords, kept in memory and written through to the
// settings file. Both are read once, when the object is created.
class ConfigureManager final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConfigureManager)

public:
    // Reads the account and the keywords from the settings file.
    ConfigureManager(Settings &settings, ClipFileManager &files, QObject *parent = nullptr);

    // The settings through which the account's keys are stored.
    Settings &settings() const { return m_settings; }

    bool isSignedIn() const;
    QString loginUserToken() const;
    QString loginUserId() const;
    QString loginUserEmail() const;

    void setLoginUserId(const std::optional<QString> &userId);
    void setLoginUserEmail(const std::optional<QString> &email);
    // Signs in (any token, then signedIn) or out as the user chose to (none: every account key
    // goes, then the local history and its files, then signedOut). Both signals are queued:
    // they reach their receivers after the work that changed the token, on the main thread.
    void setLoginUserToken(const std::optional<QString> &token);
    // The service ended the sign-in (the token expired or was withdrawn): every account key
    // goes as at any sign-out, but the local history stays, clips that never left this
    // computer included. Queues signInEnded, then signedOut. Nothing happens while signed out,
    // so several refusals of one ended sign-in tell the user once.
    void endSignInByService();
    void userLogoutProcess();

    // Privacy keywords: ten fixed system keywords followed by up to 25 of the user's own,
    // joined with "|" into the pattern that the keyword analysis of text clips matches.
    // Keywords are pattern fragments in their own right and are not escaped.
    static constexpr qsizetype kMaxCustomKeyWords = 25;
    QStringList sysKeyWords() const;
    QStringList customKeyWords() const;
    QString keyWordsRegPattern() const;
    // False, changing nothing, when the list is full. An empty word is accepted but not added.
    bool addNewWord(const QString &word);
    // Ignored for an empty word or an index past the end.
    void setKeyWord(const QString &word, qsizetype index);
    void removeKeyWordAtIndex(qsizetype index);
    void saveKeyWords();
    void buildPattern();

signals:
    void signedIn();
    void signedOut();
    // The service ended the sign-in, not the user (see endSignInByService).
    void signInEnded();

private:
    // Removes every key of the signed-in account: the token, the user's id and e-mail, where
    // the last pull ended (the next sign-in pulls from the start), the broker credentials and
    // the menu categories. The device token and the service's addresses stay.
    void forgetAccount();

    Settings &m_settings;
    ClipFileManager &m_files;
    mutable QMutex m_mutex;
    QString m_loginUserToken;
    QString m_loginUserId;
    QString m_loginUserEmail;
    QStringList m_keyWords;
    QString m_pattern;
};
