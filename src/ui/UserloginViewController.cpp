#include "ui/UserloginViewController.h"

#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

UserloginViewController::UserloginViewController(QWidget *parent)
    : QWidget(parent)
    , m_selectPopUpButton(new QComboBox(this))
    , m_nameField(new QLineEdit(this))
    , m_pwdField(new QLineEdit(this))
    , m_loginButton(new QPushButton(this))
{
    setObjectName(QStringLiteral("UserloginViewController"));
    m_selectPopUpButton->setObjectName(QStringLiteral("selectPopUpButton"));
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_pwdField->setObjectName(QStringLiteral("pwdField"));
    m_loginButton->setObjectName(QStringLiteral("loginButton"));

    m_selectPopUpButton->addItems({QStringLiteral("登录"), QStringLiteral("注册"), QStringLiteral("找回密码")});
    m_nameField->setPlaceholderText(QStringLiteral("邮箱"));
    m_pwdField->setPlaceholderText(QStringLiteral("密码"));
    m_pwdField->setEchoMode(QLineEdit::Password);
    m_nameField->installEventFilter(this);
    m_pwdField->installEventFilter(this);
    m_loginButton->setEnabled(false);
    m_loginButton->setToolTip(QStringLiteral("同步服务暂不可用"));
    connect(m_selectPopUpButton, &QComboBox::currentIndexChanged, this, &UserloginViewController::modeChanged);
    m_selectPopUpButton->setCurrentIndex(SignIn);
    modeChanged(SignIn);

    auto *form = new QFormLayout;
    form->addRow(QString(), m_selectPopUpButton);
    form->addRow(QStringLiteral("邮箱："), m_nameField);
    form->addRow(QStringLiteral("密码："), m_pwdField);
    form->addRow(QString(), m_loginButton);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(60, 40, 60, 40);
    layout->addStretch();
    layout->addLayout(form);
    layout->addStretch();
}

void UserloginViewController::modeChanged(int mode)
{
    static const QString titles[] = {QStringLiteral("登录"), QStringLiteral("注册"), QStringLiteral("发送重置邮件")};
    m_loginButton->setText(titles[mode >= SignIn && mode <= FindPassword ? mode : SignIn]);
    // Asking for a new password needs only the address.
    m_pwdField->setVisible(mode != FindPassword);
}

bool UserloginViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *keyEvent = static_cast<QKeyEvent *>(event);
    const bool back = keyEvent->key() == Qt::Key_Backtab;
    if (keyEvent->key() != Qt::Key_Tab && !back)
        return QWidget::eventFilter(watched, event);
    QLineEdit *next = watched == m_nameField ? m_pwdField : m_nameField;
    if (!next->isVisible())
        next = static_cast<QLineEdit *>(watched);
    next->setFocus(back ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    next->selectAll();
    return true;
}
