#include "ui/UserInfoViewController.h"

#include "store/ConfigureManager.h"
#include "ui/SettingImages.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

UserInfoViewController::UserInfoViewController(QWidget *parent)
    : QWidget(parent)
    , m_userName(new QLabel(this))
    , m_logoutButton(new QPushButton(QStringLiteral("退出登录"), this))
{
    setObjectName(QStringLiteral("UserInfoViewController"));
    m_userName->setObjectName(QStringLiteral("userName"));
    m_logoutButton->setObjectName(QStringLiteral("LogoutButton"));
    m_userName->setText(
        QStringLiteral("当前用户：%1").arg(ConfigureManager::sharedInstance().loginUserEmail()));
    connect(m_logoutButton, &QPushButton::clicked, this, &UserInfoViewController::loginout);

    auto *picture = new QLabel(this);
    picture->setPixmap(settingImage(QStringLiteral("icon1-gray")));

    auto *layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(picture, 0, Qt::AlignHCenter);
    layout->addWidget(m_userName, 0, Qt::AlignHCenter);
    layout->addWidget(m_logoutButton, 0, Qt::AlignHCenter);
    layout->addStretch();
}

void UserInfoViewController::loginout()
{
    // The sign-out notification makes the settings window show the sign-in pane.
    ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
}
