#pragma once

#include <QWidget>

class QComboBox;
class QLineEdit;
class QPushButton;

// The account pane of a signed-out user: the form to sign in, register or ask for a new
// password. Tab and Shift-Tab move between the fields and select the whole text of the
// field they reach. The requests behind the main button join with the account service;
// until then the button stays disabled.
class UserloginViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UserloginViewController)

public:
    enum Mode { SignIn = 0, Register = 1, FindPassword = 2 };

    explicit UserloginViewController(QWidget *parent = nullptr);

    QComboBox *selectPopUpButton() const { return m_selectPopUpButton; }
    QLineEdit *nameField() const { return m_nameField; }
    QLineEdit *pwdField() const { return m_pwdField; }
    QPushButton *loginButton() const { return m_loginButton; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void modeChanged(int mode);

    QComboBox *m_selectPopUpButton = nullptr;
    QLineEdit *m_nameField = nullptr;
    QLineEdit *m_pwdField = nullptr;
    QPushButton *m_loginButton = nullptr;
};
