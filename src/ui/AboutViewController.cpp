#include "ui/AboutViewController.h"

#include "store/ClipUserDefaults.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "support/WebUrl.h"
#include "sync/ServiceRequests.h"
#include "sync/SyncEngine.h"
#include "ui/SettingImages.h"
#include "ui/Sheets.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

AboutViewController::AboutViewController(SyncEngine &sync, QWidget *parent)
    : QWidget(parent)
    , m_sync(sync)
    , m_versionLabel(new QPushButton(this))
    , m_homepageButton(new QPushButton(tr("访问主页"), this))
    , m_checkUpdate(new QPushButton(tr("检查更新"), this))
{
    setObjectName(QStringLiteral("AboutViewController"));

    auto *logo = new QLabel(this);
    logo->setPixmap(settingImage(QStringLiteral("about-gray")));
    logo->setAlignment(Qt::AlignCenter);

    m_versionLabel->setObjectName(QStringLiteral("versionLabel"));
    m_versionLabel->setFlat(true);
    m_versionLabel->setText(QStringLiteral("Quillet ") + Utils::appVersion());
    QFont font = m_versionLabel->font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    font.setBold(true);
    m_versionLabel->setFont(font);

    m_homepageButton->setObjectName(QStringLiteral("homepageButton"));
    m_homepageButton->setFlat(true);
    m_homepageButton->setCursor(Qt::PointingHandCursor);
    m_homepageButton->setToolTip(homepage().toString());
    connect(m_homepageButton, &QPushButton::clicked, this, &AboutViewController::openHomepage);
    connect(m_versionLabel, &QPushButton::clicked, this, &AboutViewController::openHomepage);

    m_checkUpdate->setObjectName(QStringLiteral("checkUpdate"));
    connect(m_checkUpdate, &QPushButton::clicked, this, &AboutViewController::check_update);

    auto *layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(logo, 0, Qt::AlignHCenter);
    layout->addWidget(m_versionLabel, 0, Qt::AlignHCenter);
    layout->addWidget(m_homepageButton, 0, Qt::AlignHCenter);
    layout->addWidget(m_checkUpdate, 0, Qt::AlignHCenter);
    layout->addStretch();

    if (Utils::isNeedShowUpdate())
        check_update();
}

QUrl AboutViewController::homepage()
{
    // The stored page comes from the service.
    return Settings::homepage();
}

void AboutViewController::openHomepage()
{
    QDesktopServices::openUrl(homepage());
}

void AboutViewController::check_update()
{
    m_checkUpdate->setEnabled(false);
    // The completion is dropped when the pane has been replaced in the meantime.
    m_sync.send(
        std::make_shared<CheckUpdateRequestManager>(),
        [this](const RequestResult &result, int, const std::optional<RequestError> &error) {
            m_checkUpdate->setEnabled(true);
            const std::optional<QString> offered =
                CheckUpdateRequestManager::storeOfferedVersion(m_sync.settings(), result, error);
            if (!offered)
                return;
            showVersionSheet(*offered, result->value(QStringLiteral("data")).toObject());
        },
        this);
}

void AboutViewController::showVersionSheet(const QString &offered, const QJsonObject &data)
{
    const QString running = Utils::appVersion();
    const std::optional<QString> larger = Utils::largeVersion(running, offered);
    if (!larger || *larger == running) {
        Sheets::beginSheet(this, {tr("您当前的版本是最新版"), {}, {tr("知道了")}});
        return;
    }
    const QString message = tr("新版本：%1").arg(offered);
    const QString updateInfo = data.value(QStringLiteral("update_info")).toString();
    // The desktop opens whatever it is given, local files and programs included; only a web
    // address is offered for download. Without one the sheet just names the new version.
    const QUrl download(data.value(QStringLiteral("download_url")).toString(), QUrl::StrictMode);
    if (!isWebUrl(download)) {
        Sheets::beginSheet(this, {message, updateInfo, {tr("知道了")}});
        return;
    }
    Sheets::beginSheet(this, {message, updateInfo, {tr("去下载"), tr("取消")}}, [download](int returnCode) {
        if (returnCode == Sheets::FirstButtonReturn)
            QDesktopServices::openUrl(download);
    });
}
