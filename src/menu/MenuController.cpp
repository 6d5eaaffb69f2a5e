#include "menu/MenuController.h"

#include "capture/ClipActions.h"
#include "menu/ClipMenu.h"
#include "menu/MenuImages.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryStore.h"
#include "store/PathHelper.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "store/SyncFailures.h"
#include "store/Utils.h"
#include "support/Log.h"
#include "support/MainQueue.h"
#include "support/PayloadLimit.h"
#include "sync/SyncEngine.h"

#include <QCursor>
#include <QFileInfo>
#include <QMenu>
#include <QPixmap>
#include <QStandardPaths>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

constexpr qsizetype kShortTitleLimit = 26;
constexpr qsizetype kAbstractLength = 20;

// Texts are shared as texts; pictures and files as the files that hold them.
std::optional<ShareKind> shareKindOf(ClipFamily family)
{
    switch (family) {
    case ClipFamily::Text:
        return ShareKind::Text;
    case ClipFamily::Image:
    case ClipFamily::File:
        return ShareKind::File;
    case ClipFamily::Other:
        break;
    }
    return std::nullopt;
}

// Menu texts treat "&" as the mark of a mnemonic; clip texts are shown as they are.
QString escaped(const QString &title)
{
    QString text = title;
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

// A clip that this computer still has to bring to the service: its record, or its payload.
bool waitsForService(const HistoryModel &clip)
{
    if (clip.isSecret() || clip.family() == ClipFamily::Other
        || clip.file_size.value_or(0) > kMaxPayloadBytes)
        return false;
    return clip.history_id.value_or(0) == 0 || clip.change_timestamp.value_or(0) > 0
           || (clip.local_file_ok.value_or(0) == 1 && clip.file_ready.value_or(0) == 0);
}

// The marks of the clip's sync state at the end of its menu line.
QString withSyncMark(const QString &title, const HistoryModel &clip, const QSet<QString> &failed)
{
    if (failed.contains(clip.hash()))
        return title + QStringLiteral("  ⚠");
    if (waitsForService(clip))
        return title + QStringLiteral("  ⇡");
    return title;
}

QIcon thumbnailOf(const QString &content)
{
    const auto decoded =
        QByteArray::fromBase64Encoding(content.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return {};
    // Thumbnails are JPEG. Naming the format spares loading every image plugin to guess it,
    // which would cost the idle program a few MiB; another format is still recognised.
    QPixmap pixmap;
    if (!pixmap.loadFromData(decoded.decoded, "JPEG") && !pixmap.loadFromData(decoded.decoded))
        return {};
    return QIcon(pixmap);
}

} // namespace

MenuController::MenuController(SyncEngine &sync, QObject *parent)
    : QObject(parent)
    , m_sync(sync)
    , m_mainMenu(new ClipMenu)
    , m_favMenu(new ClipMenu(m_mainMenu))
    , m_actions(sync)
{
    connect(&m_actions, &MenuActions::changed, this, &MenuController::scheduleBuild);
    connect(&m_actions, &MenuActions::pulled, this, &MenuController::buildMenu);
    connect(&m_actions, &MenuActions::favouritesReconciled, this, &MenuController::buildFavouriteMenu);
    // The menu shows the store: whoever changed the rows, it is rebuilt.
    connect(&m_sync.store(), &HistoryStore::changed, this, &MenuController::scheduleBuild);
    // A sign-in pulls what the account's other computers pushed.
    connect(&m_sync.account(), &ConfigureManager::signedIn, &m_actions, &MenuActions::push);
}

MenuController::~MenuController()
{
    delete m_mainMenu;
}

QMenu *MenuController::mainMenu() const
{
    return m_mainMenu;
}

QMenu *MenuController::favMenu() const
{
    return m_favMenu;
}

const QStringList &MenuController::keyEquivalents()
{
    static const QStringList keys = {
        QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
        QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8"),
        QStringLiteral("9"), QStringLiteral("0"), QStringLiteral("q"), QStringLiteral("w"),
        QStringLiteral("e"), QStringLiteral("r"), QStringLiteral("t"), QStringLiteral("y"),
        QStringLiteral("u"), QStringLiteral("i"), QStringLiteral("o"), QStringLiteral("p"),
        QStringLiteral("a"), QStringLiteral("s"), QStringLiteral("d"), QStringLiteral("f"),
        QStringLiteral("g"), QStringLiteral("h"), QStringLiteral("j"), QStringLiteral("k"),
        QStringLiteral("l"), QStringLiteral(";"),
    };
    return keys;
}

QString MenuController::reasonablySizedVersionOfString(const QString &text)
{
    // One line: a tab would open the shortcut column, a line break a second line.
    QString line = text;
    for (QChar &c : line) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')
            || c == QLatin1Char('\v') || c == QLatin1Char('\f') || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    // Lengths count characters as a reader sees them (grapheme clusters), so a cut never
    // splits an emoji, a surrogate pair or a letter from its accent.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, line);
    qsizetype count = 0;
    qsizetype abstractEnd = 0;
    while (graphemes.toNextBoundary() != -1) {
        ++count;
        if (count == kAbstractLength)
            abstractEnd = graphemes.position();
        if (count >= kShortTitleLimit)
            return line.left(abstractEnd).trimmed() + QStringLiteral(" …");
    }
    return line.trimmed();
}

void MenuController::clearMenu(QMenu *menu)
{
    // The action submenus are kept by their ClipMenu and reused by the next build.
    menu->clear();
}

void MenuController::addClipItems(ClipMenu *menu, const QList<HistoryModel> &records)
{
    const QStringList &keys = keyEquivalents();
    for (qsizetype position = 0; position < records.size(); ++position) {
        const HistoryModel &record = records[position];
        if (!record.content)
            continue;
        const QString content = *record.content;
        const QString key = position < keys.size() ? keys[position] : QString();
        QString title;
        QIcon icon;
        QString toolTip = content;
        bool known = true;
        switch (record.family()) {
        case ClipFamily::Image:
            title = tr("<图片>");
            icon = thumbnailOf(content);
            toolTip.clear();
            if (record.file_size.value_or(0) > kMaxPayloadBytes)
                title = tr("<图片>(大于5M，无法上传)");
            if (record.isSecret())
                title = tr("[*机密*] ") + title;
            break;
        case ClipFamily::Text:
            title = reasonablySizedVersionOfString(content);
            if (record.isSecret()) {
                title = tr("[*机密*] ") + title;
                icon = menuImage("important");
            }
            break;
        case ClipFamily::File:
            title = tr("[文件] ") + reasonablySizedVersionOfString(content);
            icon = menuImage("file_icon");
            // A secret file is marked as a secret text is.
            if (record.isSecret()) {
                title = tr("[*机密*] ") + title;
                icon = menuImage("important");
            }
            break;
        case ClipFamily::Other:
            title = tr("未知类型，请更新客户端");
            known = false;
            break;
        }
        // While signed in, the line says whether the clip is still to go to the service, or
        // failed to.
        if (known && m_showSyncMarks)
            title = withSyncMark(title, record, m_failedTransfers);
        // The key is shown in the item's shortcut column; a disabled item cannot be chosen.
        const bool showKey = known && !key.isEmpty();
        QAction *item =
            menu->addAction(icon, showKey ? escaped(title) + QLatin1Char('\t') + key : escaped(title));
        item->setToolTip(toolTip);
        item->setData(QVariant::fromValue(record));
        if (!known) {
            item->setEnabled(false);
            continue;
        }
        ClipMenu::setClipKey(item, key);
        connect(item, &QAction::triggered, this, [this, record] { m_actions.clickItem(record); });
        QMenu *actions = menu->actionMenu(position);
        item->setMenu(actions);
        // The actions are made when the submenu is first about to show, not for every item.
        actions->disconnect(this);
        connect(actions, &QMenu::aboutToShow, this, [this, actions, record] {
            if (actions->isEmpty())
                fillSubMenu(actions, record);
        });
    }
}

QAction *MenuController::addCommand(QMenu *menu, const QString &title, const char *image,
                                    void (MenuActions::*action)())
{
    QAction *item = menu->addAction(menuImage(image), escaped(title));
    connect(item, &QAction::triggered, &m_actions, action);
    return item;
}

QMenu *MenuController::buildMenu()
{
    const bool signedIn = m_sync.account().isSignedIn();
    m_showSyncMarks = signedIn;
    m_failedTransfers = signedIn ? SyncFailures::failedForGood() : QSet<QString>();
    clearMenu(m_mainMenu);
    m_mainMenu->addAction(tr("历史纪录"))->setEnabled(false);
    addClipItems(m_mainMenu, DBKeeper::getAllHistory());
    // The menu lists the newest clips only; the window finds any of them.
    addCommand(m_mainMenu, tr("全部历史…"), "ic_history_18pt", &MenuActions::history);
    m_mainMenu->addSeparator();
    buildFavouriteMenu();
    m_mainMenu->addMenu(m_favMenu)->setText(tr("收藏"));
    m_mainMenu->addSeparator();
    if (signedIn)
        addCommand(m_mainMenu, tr("同步历史记录"), "ic_sync_18pt", &MenuActions::push);
    else
        addCommand(m_mainMenu, tr("登录/注册"), "user", &MenuActions::login);
    addCommand(m_mainMenu, tr("插件"), "ic_extension_18pt", &MenuActions::plugins);
    if (Utils::isNeedShowUpdate()) {
        const QString offered = Settings::offeredVersion();
        addCommand(m_mainMenu, tr("设置 (!新版本 %1)").arg(offered), "new-version", &MenuActions::setting);
    } else {
        addCommand(m_mainMenu, tr("设置"), "ic_settings_applications_18pt", &MenuActions::setting);
    }
    addCommand(m_mainMenu, tr("退出"), "ic_exit_to_app_18pt", &MenuActions::quit);
    return m_mainMenu;
}

void MenuController::buildFavouriteMenu()
{
    clearMenu(m_favMenu);
    const QList<HistoryModel> favourites = DBKeeper::getAllFavourites();
    m_favMenu->addAction(tr("收藏 (%1个)").arg(favourites.size()))->setEnabled(false);
    addClipItems(m_favMenu, favourites);
    m_favMenu->addSeparator();
    if (m_sync.account().isSignedIn())
        addCommand(m_favMenu, tr("同步收藏"), "ic_sync_18pt", &MenuActions::syncFavourite);
}

void MenuController::scheduleBuild()
{
    // Observers may be told on other threads; the flag is only touched on the main thread.
    dispatchMain(this, [this] {
        if (m_buildQueued)
            return;
        m_buildQueued = true;
        dispatchMain(this, [this] {
            m_buildQueued = false;
            buildMenu();
        });
    });
}

bool MenuController::fillSubMenu(QMenu *menu, const HistoryModel &clip)
{
    const ClipFamily family = clip.family();
    if (family == ClipFamily::Other)
        return false;
    if (family == ClipFamily::Text) {
        QList<MenuPlugin> installed =
            m_actions.pluginSource().list ? m_actions.pluginSource().list() : QList<MenuPlugin>();
        std::stable_sort(installed.begin(), installed.end(),
                         [](const MenuPlugin &a, const MenuPlugin &b) { return a.name < b.name; });
        for (const MenuPlugin &entry : std::as_const(installed)) {
            QAction *item = menu->addAction(menuImage("ic_extension_18pt"), escaped(entry.name));
            item->setToolTip(entry.desc);
            connect(item, &QAction::triggered, this, [this, entry, clip] { m_actions.plugin(entry, clip); });
        }
        menu->addAction(tr("插件列表"))->setEnabled(false);
    } else {
        connect(menu->addAction(tr("保存到下载文件夹")), &QAction::triggered, this,
                [this, clip] { m_actions.save(clip); });
    }
    menu->addSeparator();
    if (m_showSyncMarks && m_failedTransfers.contains(clip.hash())) {
        menu->addAction(tr("同步失败，已停止自动重试"))->setEnabled(false);
        connect(menu->addAction(menuImage("ic_sync_18pt"), tr("重试")), &QAction::triggered, this,
                [this, clip] { m_actions.retryTransfer(clip); });
        menu->addSeparator();
    }
    const QString favouriteTitle = clip.isFavourite() ? tr("取消收藏") : tr("收藏");
    connect(menu->addAction(favouriteTitle), &QAction::triggered, this,
            [this, clip] { m_actions.favourite(clip); });
    menu->addSeparator();
    menu->addMenu(share(clip, menu))->setText(tr("分享"));
    menu->addSeparator();
    if (clip.isSecret()) {
        const QString title = m_sync.account().isSignedIn() ? tr("解除机密并上传") : tr("解除机密");
        connect(menu->addAction(menuImage("unlock"), title), &QAction::triggered, this,
                [this, clip] { m_actions.unlockSecret(clip); });
        menu->addSeparator();
    }
    connect(menu->addAction(tr("删除")), &QAction::triggered, this,
            [this, clip] { m_actions.deleteClip(clip); });
    return true;
}

QMenu *MenuController::share(const HistoryModel &clip, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    if (!ClipActions::hasPayloadName(clip) || !QFileInfo::exists(PathHelper::getBaseFilePath(clip.hash()))) {
        menu->addAction(tr("内容已不在本机，无法分享"))->setEnabled(false);
        return menu;
    }
    const std::optional<ShareKind> kind = shareKindOf(clip.family());
    const QList<ShareService> services = kind && m_actions.platform().sharing
                                             ? m_actions.platform().sharing->servicesFor(*kind)
                                             : QList<ShareService>();
    for (const ShareService &service : services) {
        connect(menu->addAction(service.icon, escaped(service.title)), &QAction::triggered, this,
                [this, service, clip] { m_actions.shareClicked(service, clip); });
    }
    // Never an empty submenu: it would show as an item that opens nothing.
    if (services.isEmpty())
        menu->addAction(tr("没有安装可用的分享服务"))->setEnabled(false);
    return menu;
}

void MenuController::showMenu()
{
    if (m_mainMenu->isVisible())
        return;
    m_mainMenu->exec(QCursor::pos());
}
