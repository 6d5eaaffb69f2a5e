#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// The account pane of a signed-in user: who is signed in, and signing out.
class UserInfoViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UserInfoViewController)

public:
    explicit UserInfoViewController(QWidget *parent = nullptr);

    QLabel *userName() const { return m_userName; }
    QPushButton *logoutButton() const { return m_logoutButton; }

    // Signs out: the local history and its files go, and the window shows the sign-in pane.
    void loginout();

private:
    QLabel *m_userName = nullptr;
    QPushButton *m_logoutButton = nullptr;
};
