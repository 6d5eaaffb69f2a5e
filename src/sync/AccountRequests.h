#pragma once

#include "sync/RequestManager.h"

#include <functional>

// The four requests a device makes without a signed-in user: announcing itself, signing in,
// registering and asking for a password-reset mail. Each parse() returns the whole reply so
// that the caller reads its "code".

// "/init/": sent at start and at every wake. A reply that reports the token expired signs out.
class Settings;

class InitRequestManager final : public RequestManager
{
public:
    InitRequestManager();

    // The escaped device name sent with the request.
    QString device_name() const { return m_device_name; }
    void setDeviceName(const QString &escapedName) { m_device_name = escapedName; }

    QString methodURL() const override;
    QString requestURL() const override;
    bool isContinueRequest() const override { return true; }
    RequestResult parse(const QByteArray &body) override;

    // Keeps the pages of a successful reply as "homepage" and "developerPage"; a page that is
    // missing or not an http(s) URL leaves the built-in default in place.
    static void storePages(Settings &settings, const QJsonObject &reply);

private:
    QString m_device_name;
};

// "/login/": a successful reply stores the account (and the broker credentials) and signs in.
class LoginRequestManager final : public RequestManager
{
public:
    QString user() const { return m_user; }
    void setUser(const QString &email) { m_user = email; }
    void setPasswd(const QString &password) { m_passwd = password; }
    // The unsalted MD5 of the password, which the protocol carries.
    QString password_hash() const;

    QString methodURL() const override;
    QString requestURL() const override;
    bool isContinueRequest() const override { return true; }
    RequestResult parse(const QByteArray &body) override;

private:
    QString m_user;
    QString m_passwd;
};

// "/register/": creates the account; a successful reply signs in as login's does.
class RegisterRequestManager final : public RequestManager
{
public:
    QString username() const { return m_username; }
    void setUsername(const QString &email) { m_username = email; }
    QString pwd_hash() const { return m_pwd_hash; }
    void setPwdHash(const QString &hash) { m_pwd_hash = hash; }

    QString methodURL() const override;
    QString requestURL() const override;
    bool isContinueRequest() const override { return true; }
    RequestResult parse(const QByteArray &body) override;

private:
    QString m_username;
    QString m_pwd_hash;
};

// "/forget_pwd/": asks the service to mail a password reset.
class FindPwdRequestManager : public RequestManager
{
public:
    QString user_email() const { return m_user_email; }
    void setUserEmail(const QString &email) { m_user_email = email; }

    QString methodURL() const override;
    QString requestURL() const override;
    bool isContinueRequest() const override { return true; }
    RequestResult parse(const QByteArray &body) override;

private:
    QString m_user_email;
};

// "/logout/": asks the service to end this device's sign-in token and its broker connection.
// Runs only while signed in; a service without the endpoint answers 404.
class LogoutRequestManager final : public RequestManager
{
public:
    QString methodURL() const override;
    QString requestURL() const override;
};

// The sign-out the user chose: first the service is asked to end the token (the answer is
// awaited at most waitMs: an unreachable service or one without "/logout/" does not keep the
// user waiting or signed in), then the account is signed out here, which empties the local
// history. done runs after that, on the main thread.
inline constexpr int kLogoutWaitMs = 5000;
void signOutOfService(SyncEngine &sync, std::function<void()> done = {}, int waitMs = kLogoutWaitMs);

// Reply codes the account pane acts on.
namespace AccountCodes {
inline constexpr int emailTaken = 1001;
inline constexpr int emailUnknown = 1002;
} // namespace AccountCodes
