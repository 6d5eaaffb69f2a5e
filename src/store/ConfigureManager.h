#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

#include <optional>

// The signed-in account, kept in memory and written through to the settings file. The
// account values are read once, when the object is created.
class ConfigureManager final
{
    Q_DISABLE_COPY_MOVE(ConfigureManager)

public:
    static ConfigureManager &sharedInstance();

    bool isLogined() const;
    QString loginUserToken() const;
    QString loginUserId() const;
    QString loginUserEmail() const;

    void setLoginUserId(const std::optional<QString> &userId);
    void setLoginUserEmail(const std::optional<QString> &email);
    // Signs in (any token, posting USER_LOGINED) or out (none: wipes the local history and
    // its files, then posts USER_LOGOUTED). Both notifications arrive on the main thread.
    void setLoginUserToken(const std::optional<QString> &token);
    void userLogoutProcess();

private:
    ConfigureManager();

    mutable QMutex m_mutex;
    QString m_loginUserToken;
    QString m_loginUserId;
    QString m_loginUserEmail;
};
