#pragma once

#include <QWidget>

class QLabel;
class SyncEngine;
class QLineEdit;
class QPushButton;

// The account pane of a signed-in user: who is signed in, the notice broker's address (which
// can move without signing out, so the local history stays), and signing out.
class UserInfoViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UserInfoViewController)

public:
    explicit UserInfoViewController(SyncEngine &sync, QWidget *parent = nullptr);

    QLabel *userName() const { return m_userName; }
    QPushButton *logoutButton() const { return m_logoutButton; }
    QLineEdit *brokerField() const { return m_brokerField; }
    QPushButton *brokerButton() const { return m_brokerButton; }

    // Asks whether to sign out; if so, the service ends the sign-in, the local history and its
    // files go, and the window shows the sign-in pane.
    void loginout();
    // Stores the broker field's address and connects the notices to that broker.
    void applyBroker();

private:
    SyncEngine &m_sync;
    QLabel *m_userName = nullptr;
    QPushButton *m_logoutButton = nullptr;
    QLineEdit *m_brokerField = nullptr;
    QPushButton *m_brokerButton = nullptr;
};
