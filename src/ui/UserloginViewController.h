#pragma once

#include "sync/RequestManager.h"

#include <QWidget>

#include <memory>
#include <optional>

class FindPwdRequestManager;
class LoginRequestManager;
class QComboBox;
class QLabel;
class QLineEdit;
class SyncEngine;
class QPushButton;
class RegisterRequestManager;

// The account pane of a signed-out user: the sync service's address, its notice broker's
// address and the CA file of their certificates (for a self-hosted service), and the form to sign in,
// register or ask for a password-reset mail. Tab and Shift-Tab move between the e-mail and
// password fields and select the whole text of the field they reach. The main button stays
// disabled while its request is under way.
class UserloginViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UserloginViewController)

public:
    enum Mode { SignIn = 0, Register = 1, FindPassword = 2 };

    explicit UserloginViewController(SyncEngine &sync, QWidget *parent = nullptr);
    ~UserloginViewController() override;

    QComboBox *selectPopUpButton() const { return m_selectPopUpButton; }
    QLineEdit *serverField() const { return m_serverField; }
    QLineEdit *brokerField() const { return m_brokerField; }
    QLineEdit *caFileField() const { return m_caFileField; }
    QLineEdit *nameField() const { return m_nameField; }
    QLineEdit *pwdField() const { return m_pwdField; }
    // The password again, shown while registering.
    QLineEdit *repeatField() const { return m_repeatField; }
    QPushButton *loginButton() const { return m_loginButton; }

    // The main button: checks the fields, then signs in, registers or asks for the mail.
    void login();

    // The e-mail check of the form, ignoring case.
    static bool isValidEmail(const QString &email);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    SyncEngine &m_sync;
    void modeChanged(int mode);
    bool acceptServiceSettings();
    void signIn(const QString &email);
    void registerAccount(const QString &email);
    void findPassword(const QString &email);
    // Shows why a request got no answer from the service (not reached, certificate not
    // trusted, too many attempts, a failing service); false for the service's own refusal.
    bool showConnectionFailure(int status, const std::optional<RequestError> &error);

    QComboBox *m_selectPopUpButton = nullptr;
    QLineEdit *m_serverField = nullptr;
    QLineEdit *m_brokerField = nullptr;
    QLineEdit *m_caFileField = nullptr;
    QLineEdit *m_nameField = nullptr;
    QLineEdit *m_pwdField = nullptr;
    QLineEdit *m_repeatField = nullptr;
    QLabel *m_repeatLabel = nullptr;
    QPushButton *m_loginButton = nullptr;
    std::shared_ptr<LoginRequestManager> m_login;
    std::shared_ptr<RegisterRequestManager> m_regis;
    std::shared_ptr<FindPwdRequestManager> m_findPwdManager;
};
