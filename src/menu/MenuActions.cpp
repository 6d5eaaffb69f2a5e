// The actions of the status menu's items: paste, plugins, favourites, sharing, saving,
// un-secret, delete and the commands.
#include "menu/MenuActions.h"

#include "capture/ClipActions.h"
#include "menu/ClipEditing.h"
#include "platform/Pasteboard.h"
#include "platform/RecentlyUsed.h"
#include "store/ClipFileManager.h"
#include "store/ConfigureManager.h"
#include "store/PathHelper.h"
#include "store/Utils.h"
#include "support/Log.h"
#include "sync/SyncEngine.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>

MenuActions::MenuActions(SyncEngine &sync, QObject *parent)
    : QObject(parent)
    , m_sync(sync)
{ }

QString MenuActions::downloadsFolder() const
{
    if (!m_downloadsFolder.isEmpty())
        return m_downloadsFolder;
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

void MenuActions::clickItem(const HistoryModel &clip)
{
    ClipActions::takeIntoHistory(clip);
    if (!m_platform.pasteboard || !m_platform.keyInjector) {
        qCWarning(lcMenu) << "no clipboard to paste into";
        return;
    }
    ClipActions::sendToClipboard(*m_platform.pasteboard, clip, m_sync.files());
    ClipActions::paste(*m_platform.keyInjector);
}

void MenuActions::plugin(const MenuPlugin &plugin, const HistoryModel &clip)
{
    if (!m_platform.pasteboard || !m_platform.keyInjector || clip.family() != ClipFamily::Text)
        return;
    // The result is pasted when the plugin answers; the menu goes on meanwhile. No result (also
    // a plugin past its time limit) clears the clipboard, so the paste inserts nothing.
    const auto pasteResult = [this](std::optional<QString> result) {
        if (!m_platform.pasteboard || !m_platform.keyInjector)
            return;
        m_platform.pasteboard->writeString(result.value_or(QString()));
        ClipActions::paste(*m_platform.keyInjector);
    };
    const std::optional<QString> text = m_sync.files().getStringWithMd5(clip.hash());
    if (!text || !m_plugins.process) {
        pasteResult(std::nullopt);
        return;
    }
    m_plugins.process(plugin, *text, this, pasteResult);
}

void MenuActions::favourite(const HistoryModel &clip)
{
    m_sync.toggleFavourite(clip, [this] { emit changed(); });
}

void MenuActions::shareClicked(const ShareService &service, const HistoryModel &clip)
{
    if (!m_platform.sharing || !ClipActions::hasPayloadName(clip))
        return;
    ShareItem item;
    switch (clip.family()) {
    case ClipFamily::Text:
        item.text = m_sync.files().getStringWithMd5(clip.hash()).value_or(QString());
        break;
    case ClipFamily::Image: {
        // Programs take pictures as files; the payload has no extension, so a PNG copy goes.
        // It lies with the clip's previews, which deleting the clip (or signing out) removes.
        item.filePath = m_sync.files().sharedImageCopy(clip.hash());
        if (item.filePath.isEmpty())
            return;
        break;
    }
    case ClipFamily::File:
        item.filePath = m_sync.files().makePreviewLink(clip);
        break;
    case ClipFamily::Other:
        return;
    }
    if (!m_platform.sharing->perform(service.id, item))
        qCInfo(lcMenu) << "sharing did not start" << service.id;
}

void MenuActions::save(const HistoryModel &clip)
{
    const std::optional<QString> saved = ClipEditing::saveToFolder(clip, downloadsFolder(), m_sync.files());
    if (!saved)
        return;
    if (m_downloadNotice)
        m_downloadNotice(*saved);
    else
        RecentlyUsed::addFile(*saved);
}

void MenuActions::unlockSecret(const HistoryModel &clip)
{
    HistoryModel current = clip;
    current.fetch();
    ClipEditing::unlockSecret(current);
    // Its change mark from the capture is still set, so the history lane may now push it.
    m_sync.historyLane().process();
    emit changed();
}

void MenuActions::retryTransfer(const HistoryModel &clip)
{
    m_sync.retryClip(clip.hash());
    emit changed();
}

void MenuActions::deleteClip(const HistoryModel &clip)
{
    m_sync.deleteClip(clip, [this] { emit changed(); });
}

void MenuActions::push()
{
    if (m_isRefresh || !m_sync.account().isSignedIn())
        return;
    m_isRefresh = true;
    m_sync.pullHistory(this, [this] {
        emit pulled();
        m_isRefresh = false;
    });
}

void MenuActions::syncFavourite()
{
    if (m_isSyncFavourite || !m_sync.account().isSignedIn())
        return;
    m_isSyncFavourite = true;
    m_sync.reconcileFavourites(this, [this] {
        emit favouritesReconciled();
        m_isSyncFavourite = false;
    });
}

void MenuActions::login()
{
    if (m_showSettings)
        m_showSettings(1);
}

void MenuActions::setting()
{
    if (!m_showSettings)
        return;
    if (Utils::isNeedShowUpdate())
        m_showSettings(3);
    else
        m_showSettings(std::nullopt);
}

void MenuActions::plugins()
{
    if (m_showPlugins)
        m_showPlugins();
}

void MenuActions::history()
{
    if (m_showHistory)
        m_showHistory();
}

void MenuActions::quit()
{
    QCoreApplication::quit();
}
