#include "ui/UserInfoViewController.h"

#include "sync/SyncEngine.h"

#include "store/ConfigureManager.h"
#include "sync/AccountRequests.h"
#include "sync/MqttManager.h"
#include "ui/BrokerAddressField.h"
#include "ui/SettingImages.h"
#include "ui/Sheets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

UserInfoViewController::UserInfoViewController(SyncEngine &sync, QWidget *parent)
    : QWidget(parent)
    , m_sync(sync)
    , m_userName(new QLabel(this))
    , m_logoutButton(new QPushButton(tr("退出登录"), this))
    , m_brokerField(BrokerAddressField::create(this))
    , m_brokerButton(new QPushButton(tr("应用"), this))
{
    setObjectName(QStringLiteral("UserInfoViewController"));
    m_userName->setObjectName(QStringLiteral("userName"));
    m_logoutButton->setObjectName(QStringLiteral("LogoutButton"));
    m_userName->setText(tr("当前用户：%1").arg(m_sync.account().loginUserEmail()));
    connect(m_logoutButton, &QPushButton::clicked, this, &UserInfoViewController::loginout);
    m_brokerButton->setObjectName(QStringLiteral("brokerButton"));
    m_brokerButton->setEnabled(m_brokerField->isEnabled());
    connect(m_brokerButton, &QPushButton::clicked, this, &UserInfoViewController::applyBroker);
    connect(m_brokerField, &QLineEdit::returnPressed, this, &UserInfoViewController::applyBroker);

    auto *brokerRow = new QHBoxLayout;
    brokerRow->addWidget(new QLabel(tr("消息服务器："), this));
    brokerRow->addWidget(m_brokerField, 1);
    brokerRow->addWidget(m_brokerButton);

    auto *picture = new QLabel(this);
    picture->setPixmap(settingImage(QStringLiteral("icon1-gray")));

    auto *layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(picture, 0, Qt::AlignHCenter);
    layout->addWidget(m_userName, 0, Qt::AlignHCenter);
    layout->addWidget(m_logoutButton, 0, Qt::AlignHCenter);
    layout->addStretch();
    layout->addLayout(brokerRow);
}

void UserInfoViewController::applyBroker()
{
    if (BrokerAddressField::accept(this, m_brokerField, m_sync.settings()))
        m_sync.notices().reconnectIfMoved();
}

void UserInfoViewController::loginout()
{
    // Signing out empties the local history, so it is asked first, as clearing it is.
    Sheets::beginSheet(this,
                       {tr("退出登录？"),
                        tr("退出后本机的历史纪录和收藏将被清空；服务器上的纪录会保留，"
                           "再次登录后重新同步。"),
                        {tr("退出登录"), tr("取消")}},
                       [this](int returnCode) {
                           if (returnCode != Sheets::FirstButtonReturn)
                               return;
                           // The account's signedOut makes the settings window show the sign-in
                           // pane; until the service answered (a few seconds at most) the
                           // button stays pressed.
                           m_logoutButton->setEnabled(false);
                           signOutOfService(m_sync);
                       });
}
