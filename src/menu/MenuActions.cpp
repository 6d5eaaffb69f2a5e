// The actions of the status menu's items: paste, plugins, favourites, sharing, saving,
// un-secret, delete and the commands.
#include "menu/MenuController.h"

#include "capture/ClipActions.h"
#include "menu/ClipEditing.h"
#include "platform/Pasteboard.h"
#include "platform/RecentlyUsed.h"
#include "store/ClipFileManager.h"
#include "store/ConfigureManager.h"
#include "store/PathHelper.h"
#include "store/Utils.h"
#include "support/Log.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QImage>

void MenuController::clickIteam(const HistoryModel &clip)
{
    ClipActions::takeIntoHistory(clip);
    if (!m_platform.pasteboard || !m_platform.keyInjector) {
        qCWarning(lcMenu) << "no clipboard to paste into";
        return;
    }
    ClipActions::sendToClipboard(*m_platform.pasteboard, clip);
    ClipActions::paste(*m_platform.keyInjector);
}

void MenuController::plugin(const MenuPlugin &plugin, const HistoryModel &clip)
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
    const std::optional<QString> text = ClipFileManager::sharedInstance().getStringWithMd5(clip.hash());
    if (!text || !m_plugins.process) {
        pasteResult(std::nullopt);
        return;
    }
    m_plugins.process(plugin, *text, this, pasteResult);
}

void MenuController::favourite(const HistoryModel &clip)
{
    ClipEditing::toggleFavourite(clip, QDateTime::currentSecsSinceEpoch());
    scheduleBuild();
    // The favourite service pushes the changed favourite row once the push lands.
}

void MenuController::shareClicked(const ShareService &service, const HistoryModel &clip)
{
    if (!m_platform.sharing || !ClipActions::hasPayloadName(clip))
        return;
    ShareItem item;
    switch (clip.family()) {
    case ClipFamily::Text:
        item.text = ClipFileManager::sharedInstance().getStringWithMd5(clip.hash()).value_or(QString());
        break;
    case ClipFamily::Image: {
        // Programs take pictures as files; the payload has no extension, so a PNG copy goes.
        // It lies with the clip's previews, which deleting the clip (or signing out) removes.
        item.filePath = ClipFileManager::sharedInstance().sharedImageCopy(clip.hash());
        if (item.filePath.isEmpty())
            return;
        break;
    }
    case ClipFamily::File:
        item.filePath = ClipFileManager::sharedInstance().makePreviewLink(clip);
        break;
    case ClipFamily::Other:
        return;
    }
    if (!m_platform.sharing->perform(service.id, item))
        qCInfo(lcMenu) << "sharing did not start" << service.id;
}

void MenuController::save(const HistoryModel &clip)
{
    const std::optional<QString> saved = ClipEditing::saveToFolder(clip, downloadsFolder());
    if (!saved)
        return;
    if (m_downloadNotice)
        m_downloadNotice(*saved);
    else
        RecentlyUsed::addFile(*saved);
}

void MenuController::unlockSecert(const HistoryModel &clip)
{
    ClipEditing::unlockSecret(clip);
    // The history service, which may now push the clip, is started here once the push lands.
    scheduleBuild();
}

void MenuController::deleteClip(const HistoryModel &clip)
{
    // A signed-in deletion of a clip the service knows goes through the service first once
    // the push lands; until then every deletion is the local one.
    ClipEditing::deleteLocally(clip);
    scheduleBuild();
}

void MenuController::push()
{
    if (m_isRefresh || !ConfigureManager::sharedInstance().isLogined())
        return;
    // The pull of remote clips starts here (setting isRefresh until it completes) once it lands.
}

void MenuController::syncFavourite()
{
    if (m_isSyncFavourite || !ConfigureManager::sharedInstance().isLogined())
        return;
    // The favourites pull starts here (setting isSyncFavourite until it completes) once it lands.
}

void MenuController::login()
{
    if (m_showSettings)
        m_showSettings(1);
}

void MenuController::setting()
{
    if (!m_showSettings)
        return;
    if (Utils::isNeedShowUpdate())
        m_showSettings(3);
    else
        m_showSettings(std::nullopt);
}

void MenuController::plugins()
{
    if (m_showPlugins)
        m_showPlugins();
}

void MenuController::quit()
{
    QCoreApplication::quit();
}
