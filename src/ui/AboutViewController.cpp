#include "ui/AboutViewController.h"

#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "ui/SettingImages.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

AboutViewController::AboutViewController(QWidget *parent)
    : QWidget(parent)
    , m_versionLable(new QPushButton(this))
    , m_homepageButton(new QPushButton(QStringLiteral("访问主页"), this))
    , m_checkUpdate(new QPushButton(QStringLiteral("检查更新"), this))
{
    setObjectName(QStringLiteral("AboutViewController"));

    auto *logo = new QLabel(this);
    logo->setPixmap(settingImage(QStringLiteral("about-gray")));
    logo->setAlignment(Qt::AlignCenter);

    m_versionLable->setObjectName(QStringLiteral("versionLable"));
    m_versionLable->setFlat(true);
    m_versionLable->setText(QStringLiteral("Quillet ") + Utils::appVersion());
    QFont font = m_versionLable->font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    font.setBold(true);
    m_versionLable->setFont(font);

    m_homepageButton->setObjectName(QStringLiteral("homepageButton"));
    m_homepageButton->setFlat(true);
    m_homepageButton->setCursor(Qt::PointingHandCursor);
    m_homepageButton->setToolTip(homepage().toString());
    connect(m_homepageButton, &QPushButton::clicked, this, &AboutViewController::openHomepage);
    connect(m_versionLable, &QPushButton::clicked, this, &AboutViewController::openHomepage);

    // The service's version check is not part of this build yet; the button stays out of
    // sight until it has an action.
    m_checkUpdate->setObjectName(QStringLiteral("checkUpdate"));
    m_checkUpdate->setVisible(false);

    auto *layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(logo, 0, Qt::AlignHCenter);
    layout->addWidget(m_versionLable, 0, Qt::AlignHCenter);
    layout->addWidget(m_homepageButton, 0, Qt::AlignHCenter);
    layout->addWidget(m_checkUpdate, 0, Qt::AlignHCenter);
    layout->addStretch();
}

QUrl AboutViewController::homepage()
{
    // The stored page comes from the service.
    return Utils::webPageSetting(SettingsKeys::homepage, SettingsDefaults::homepage);
}

void AboutViewController::openHomepage()
{
    QDesktopServices::openUrl(homepage());
}
