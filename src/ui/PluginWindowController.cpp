#include "ui/PluginWindowController.h"

#include "platform/UrlOpener.h"
#include "plugins/PluginManager.h"
#include "store/ClipUserDefaults.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "sync/ClipPluginPackageHelper.h"
#include "sync/PluginStoreList.h"
#include "sync/PluginStoreRefresh.h"
#include "sync/ServiceRequests.h"
#include "ui/PluginStoreTableViewCell.h"
#include "ui/ProgressOverlay.h"
#include "ui/WindowRaising.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

enum Column { NameColumn, VersionColumn, DescColumn, AuthorColumn, OptColumn };

QTableWidget *makeTable(QWidget *parent, const QString &name, bool withOpt)
{
    QStringList headers{QCoreApplication::translate("PluginWindowController", "名称"),
                        QCoreApplication::translate("PluginWindowController", "版本"),
                        QCoreApplication::translate("PluginWindowController", "描述"),
                        QCoreApplication::translate("PluginWindowController", "作者")};
    if (withOpt)
        headers << QString();
    auto *table = new QTableWidget(0, int(headers.size()), parent);
    table->setObjectName(name);
    table->setHorizontalHeaderLabels(headers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->setWordWrap(false);
    QHeaderView *header = table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(DescColumn, QHeaderView::Stretch);
    table->setColumnWidth(NameColumn, 140);
    table->setColumnWidth(VersionColumn, 70);
    table->setColumnWidth(AuthorColumn, 110);
    if (withOpt)
        table->setColumnWidth(OptColumn, 80);
    return table;
}

void fillRow(QTableWidget *table, int row, const PluginObject &plugin)
{
    const QString texts[] = {plugin.plugin_name(), plugin.plugin_version(), plugin.plugin_desc(),
                             plugin.plugin_author()};
    for (int column = NameColumn; column <= AuthorColumn; ++column) {
        auto *item = new QTableWidgetItem(texts[column]);
        item->setToolTip(texts[column]);
        table->setItem(row, column, item);
    }
}

} // namespace

PluginWindowController::PluginWindowController(ClipPluginPackageHelper &packages, const UrlOpener &urlOpener,
                                               QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_packages(packages)
    , m_plugins(packages.plugins())
    , m_urlOpener(urlOpener)
    , m_tabView(new QTabWidget(this))
    , m_tableView(makeTable(this, QStringLiteral("tableView"), false))
    , m_storeTableView(makeTable(this, QStringLiteral("storeTableView"), true))
    , m_addButton(new QPushButton(tr("从文件添加..."), this))
    , m_removeButton(new QPushButton(tr("删除"), this))
    , m_helpButton(new QPushButton(tr("开发插件"), this))
    , m_gettingStartButton(new QPushButton(tr("入门指南"), this))
{
    setObjectName(QStringLiteral("PluginWindowController"));
    setWindowTitle(tr("插件"));
    closeOnEscapeAndControlW(*this);
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(680, 420);

    m_tabView->setObjectName(QStringLiteral("tabView"));
    m_addButton->setObjectName(QStringLiteral("addButton"));
    m_removeButton->setObjectName(QStringLiteral("removeButton"));
    m_helpButton->setObjectName(QStringLiteral("helpButton"));
    m_gettingStartButton->setObjectName(QStringLiteral("gettingStartButton"));
    m_tableView->setProperty("tag", 1);

    auto *installedPage = new QWidget(m_tabView);
    auto *installedLayout = new QVBoxLayout(installedPage);
    installedLayout->addWidget(m_tableView, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_removeButton);
    buttons->addStretch();
    buttons->addWidget(m_gettingStartButton);
    buttons->addWidget(m_helpButton);
    installedLayout->addLayout(buttons);
    m_tabView->addTab(installedPage, tr("已安装"));

    auto *storePage = new QWidget(m_tabView);
    auto *storeLayout = new QVBoxLayout(storePage);
    storeLayout->addWidget(m_storeTableView, 1);
    m_tabView->addTab(storePage, tr("插件商店"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabView);

    connect(m_addButton, &QPushButton::clicked, this, &PluginWindowController::addClicked);
    connect(m_removeButton, &QPushButton::clicked, this, &PluginWindowController::removeClicked);
    connect(m_helpButton, &QPushButton::clicked, this, &PluginWindowController::helpClicked);
    connect(m_gettingStartButton, &QPushButton::clicked, this, &PluginWindowController::openGettingStarted);
    connect(m_tableView, &QTableWidget::itemSelectionChanged, this,
            &PluginWindowController::updateRemoveButton);

    windowDidLoad();
    // Installs and removals made anywhere (the store's updates too) show at once.
    connect(&m_plugins, &PluginManager::pluginsChanged, this, &PluginWindowController::reloadTables);
}

QFileDialog *PluginWindowController::openPanel() const
{
    return m_openPanel;
}

ProgressOverlay *PluginWindowController::overlay() const
{
    return m_overlay;
}

void PluginWindowController::windowDidLoad()
{
    m_storeRequestManager = std::make_shared<PluginListRequestManager>();
    reloadInstalledTableView();
    reloadStoreTableView();
}

void PluginWindowController::showWindow()
{
    showInFront(*this, m_placed);
    requestRemoteData();
}

void PluginWindowController::requestRemoteData()
{
    PluginStoreRefresh::requestRemoteData(
        m_storeRequestManager, m_packages, this,
        [this](bool stored) {
            if (stored)
                reloadStoreTableView();
        },
        [this] { reloadTables(); });
}

void PluginWindowController::reloadTables()
{
    reloadInstalledTableView();
    reloadStoreTableView();
}

void PluginWindowController::reloadInstalledTableView()
{
    const PluginManager::PluginDict all = m_plugins.listPlugins();
    const PluginManager::PluginDict user = m_plugins.listUserPlugins();
    m_installed = all.values();
    m_tableView->clearContents();
    m_tableView->setRowCount(int(m_installed.size()));
    for (int row = 0; row < m_installed.size(); ++row) {
        fillRow(m_tableView, row, m_installed[row]);
        // Shipped plugins are part of the program and cannot be removed.
        const bool isUser = user.contains(m_installed[row].plugin_bundle_id());
        m_tableView->item(row, NameColumn)->setData(Qt::UserRole, isUser);
    }
    updateRemoveButton();
}

void PluginWindowController::updateRemoveButton()
{
    const QList<QTableWidgetItem *> selected = m_tableView->selectedItems();
    const int row = selected.isEmpty() ? -1 : selected.first()->row();
    const QTableWidgetItem *name = row >= 0 ? m_tableView->item(row, NameColumn) : nullptr;
    m_removeButton->setEnabled(name && name->data(Qt::UserRole).toBool());
}

void PluginWindowController::reloadStoreTableView()
{
    const std::optional<QJsonObject> list = PluginStoreList::load();
    if (!list) {
        m_storeArray.clear();
        m_pluginURLDict.clear();
    } else {
        m_pluginURLDict = PluginStoreList::urls(*list);
        m_storeArray = PluginStoreList::offered(*list, m_plugins.listPlugins());
    }
    m_storeTableView->clearContents();
    m_storeTableView->setRowCount(int(m_storeArray.size()));
    for (int row = 0; row < m_storeArray.size(); ++row) {
        fillRow(m_storeTableView, row, m_storeArray[row]);
        auto *cell = new PluginStoreTableViewCell(m_storeTableView);
        connect(cell->addButton(), &QPushButton::clicked, this, [this, row] { storeAddClicked(row); });
        m_storeTableView->setCellWidget(row, OptColumn, cell);
    }
}

void PluginWindowController::storeAddClicked(int row)
{
    if (row < 0 || row >= m_storeArray.size() || m_overlay)
        return;
    const PluginObject plugin = m_storeArray.at(row);
    const QString url = m_pluginURLDict.value(plugin.plugin_bundle_id());
    m_overlay = ProgressOverlay::showOn(this, tr("添加中..."));
    const auto done = [this](bool) {
        if (m_overlay) {
            m_overlay->setText(tr("完成中..."));
            m_overlay->dismiss();
        }
        reloadTables();
    };
    if (url.isEmpty()) {
        // Nothing to install; the overlay closes the same way, after this turn of the loop.
        QMetaObject::invokeMethod(
            this, [done] { done(false); }, Qt::QueuedConnection);
        return;
    }
    m_packages.installPackageFromUrl(url, plugin, this, done);
}

void PluginWindowController::addClicked()
{
    if (m_openPanel) {
        m_openPanel->raise();
        return;
    }
    auto *panel = new QFileDialog(this);
    m_openPanel = panel;
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setLabelText(QFileDialog::Accept, tr("选择"));
    panel->setWindowModality(Qt::WindowModal);
    connect(panel, &QFileDialog::filesSelected, this, &PluginWindowController::installFiles);
    panel->open();
}

void PluginWindowController::installFiles(const QStringList &paths)
{
    for (const QString &path : paths) {
        m_plugins.installPlugin(QUrl::fromLocalFile(path), this, [this](bool) { reloadTables(); });
    }
}

void PluginWindowController::removeClicked()
{
    const QList<QTableWidgetItem *> selected = m_tableView->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = selected.first()->row();
    if (row < 0 || row >= m_installed.size() || !m_removeButton->isEnabled())
        return;
    m_plugins.removePlugin(m_installed.at(row), this, [this] { reloadTables(); });
}

QUrl PluginWindowController::developerPage()
{
    // The stored page comes from the service.
    return Settings::developerPage();
}

void PluginWindowController::helpClicked()
{
    m_urlOpener.openURL(developerPage());
}

QString PluginWindowController::gettingStartPath()
{
    const QFileInfo installed(QCoreApplication::applicationDirPath()
                              + QStringLiteral("/" QUILLET_INSTALLED_GUIDE_RELATIVE));
    if (installed.isFile())
        return installed.canonicalFilePath();
    const QFileInfo built(QStringLiteral(QUILLET_BUILD_GUIDE_PATH));
    if (!built.filePath().isEmpty() && built.isFile())
        return built.absoluteFilePath();
    return {};
}

void PluginWindowController::openGettingStarted()
{
    const QString path = gettingStartPath();
    if (!path.isEmpty())
        m_urlOpener.openURL(QUrl::fromLocalFile(path));
}
