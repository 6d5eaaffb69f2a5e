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
#include "sync/ClipRequests.h"
#include "sync/FavouriteService.h"
#include "sync/HistoryService.h"
#include "sync/PushClipsManager.h"
#include "sync/ServiceRequests.h"
#include "sync/SetFavouriteRequestManager.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QImage>

namespace {

// The menu keeps its clips as they were when it was built; the sync lanes may have changed
// them since (a push gives a clip its service id, a reconciliation its favourite mark). The
// actions that depend on those fields work on the row as it is now.
HistoryModel asStoredNow(const HistoryModel &clip)
{
    HistoryModel current = clip;
    current.fetch();
    return current;
}

} // namespace

void MenuController::clickItem(const HistoryModel &clip)
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

void MenuController::favourite(const HistoryModel &shown)
{
    const HistoryModel clip = asStoredNow(shown);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (clip.isFavourite() && ConfigureManager::sharedInstance().isSignedIn()) {
        // Signed in, the removal goes to the service, and the rows change when it answers.
        HistoryModel record = clip;
        const std::optional<qint64> remembered = record.favourite;
        record.favourite = -now;
        SetFavouriteRequestManager::sharedInstance().setFavourite(
            record, [this](const std::optional<QJsonObject> &, const std::optional<RequestError> &) {
                scheduleBuild();
            });
        record.favourite = remembered;
        record.category = Category::history;
        record.save();
    } else {
        ClipEditing::toggleFavourite(clip, now);
    }
    scheduleBuild();
    FavouriteService::sharedInstance().process();
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
    ClipEditing::unlockSecret(asStoredNow(clip));
    // Its change mark from the capture is still set, so the history service may now push it.
    HistoryService::sharedInstance().process();
    scheduleBuild();
}

void MenuController::deleteClip(const HistoryModel &shown)
{
    const HistoryModel clip = asStoredNow(shown);
    // Signed in, a clip the service knows is deleted there first and here once it confirms;
    // otherwise every row of the clip goes at once.
    if (!ConfigureManager::sharedInstance().isSignedIn() || clip.history_id.value_or(0) == 0) {
        ClipEditing::deleteLocally(clip);
        scheduleBuild();
        return;
    }
    PushClipsManager::sharedInstance().Del(
        clip,
        [this](const std::optional<QJsonObject> &, const std::optional<RequestError> &) { scheduleBuild(); });
}

void MenuController::push()
{
    if (m_isRefresh || !ConfigureManager::sharedInstance().isSignedIn())
        return;
    m_isRefresh = true;
    pullToCurrent(this, [this] {
        buildMenu();
        m_isRefresh = false;
    });
}

void MenuController::syncFavourite()
{
    if (m_isSyncFavourite || !ConfigureManager::sharedInstance().isSignedIn())
        return;
    m_isSyncFavourite = true;
    auto reconcile = std::make_shared<GetFavouriteRequestManager>();
    reconcile->request(
        [this](const RequestResult &, int, const std::optional<RequestError> &) {
            buildFavouriteMenu();
            m_isSyncFavourite = false;
        },
        this);
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
