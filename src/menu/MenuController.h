#pragma once

#include "menu/MenuPlugin.h"
#include "platform/SharingServices.h"
#include "store/HistoryModel.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class ClipMenu;
class KeyInjector;
class Pasteboard;
class QAction;
class QMenu;
class SyncEngine;

// The status menu: the newest clips, the favourites submenu and the commands, rebuilt from
// the history store whenever the data changes, and the actions of its items. The menu is
// never patched; every change rebuilds it. Main thread only.
class MenuController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MenuController)

public:
    explicit MenuController(SyncEngine &sync, QObject *parent = nullptr);
    ~MenuController() override;

    // The desktop services the actions use. Each may be absent; its actions then do nothing.
    struct Platform {
        Pasteboard *pasteboard = nullptr;
        KeyInjector *keyInjector = nullptr;
        SharingServices *sharing = nullptr;
    };
    void setPlatform(const Platform &platform) { m_platform = platform; }
    void setPluginSource(MenuPluginSource source) { m_plugins = std::move(source); }
    // The settings window, opened at a pane (1 account, 3 about) or at its current one, and
    // the plugin window. Until the windows exist their commands open nothing.
    void setSettingsWindow(std::function<void(std::optional<int> pane)> show)
    {
        m_showSettings = std::move(show);
    }
    void setPluginWindow(std::function<void()> show) { m_showPlugins = std::move(show); }
    // Where "保存到下载文件夹" writes; the desktop's download folder unless set.
    void setDownloadsFolder(const QString &folder) { m_downloadsFolder = folder; }
    QString downloadsFolder() const;
    // Runs after a clip was saved to the downloads folder, with the new file's path; the
    // desktop's recently-used list unless set.
    void setDownloadNotice(std::function<void(const QString &path)> notice)
    {
        m_downloadNotice = std::move(notice);
    }

    QMenu *mainMenu() const;
    QMenu *favMenu() const;

    // Rebuilds the main menu (and with it the favourites submenu) from the store.
    QMenu *buildMenu();
    void buildFavouriteMenu();
    // Queues a rebuild on the main thread; several requests before it runs give one rebuild.
    void scheduleBuild();
    // A new action submenu for the clip (the caller owns it), or none for an unknown family.
    // A new sharing submenu for the clip: the services for its family, or one disabled item that
    // says why there is nothing to choose (no service installed, the payload gone).
    QMenu *share(const HistoryModel &clip, QWidget *parent = nullptr);
    // Pops the main menu up at the pointer and returns when it has closed.
    void showMenu();

    // A menu title for a clip's text: on one line (tabs and line breaks as spaces) and, from 26
    // characters on, its first 20 characters and " …"; cut between characters, never inside one.
    static QString reasonablySizedVersionOfString(const QString &text);
    // "1" … "0", "q" … "p", "a" … ";": the keys of the clips at positions 0 to 29.
    static const QStringList &keyEquivalents();

    bool isRefresh() const { return m_isRefresh; }
    bool isSyncFavourite() const { return m_isSyncFavourite; }

    // The actions of the items.
    void clickItem(const HistoryModel &clip);
    void plugin(const MenuPlugin &plugin, const HistoryModel &clip);
    void favourite(const HistoryModel &clip);
    void shareClicked(const ShareService &service, const HistoryModel &clip);
    void save(const HistoryModel &clip);
    void unlockSecert(const HistoryModel &clip);
    void deleteClip(const HistoryModel &clip);
    void push();
    void syncFavourite();
    void login();
    void setting();
    void plugins();
    void quit();

private:
    void addClipItems(ClipMenu *menu, const QList<HistoryModel> &records);
    QAction *addCommand(QMenu *menu, const QString &title, const char *image,
                        void (MenuController::*action)());
    bool fillSubMenu(QMenu *menu, const HistoryModel &clip);
    void clearMenu(QMenu *menu);

    SyncEngine &m_sync;
    ClipMenu *m_mainMenu = nullptr;
    ClipMenu *m_favMenu = nullptr;
    bool m_isRefresh = false;
    bool m_isSyncFavourite = false;
    bool m_buildQueued = false;
    Platform m_platform;
    MenuPluginSource m_plugins;
    std::function<void(std::optional<int>)> m_showSettings;
    std::function<void()> m_showPlugins;
    std::function<void(const QString &)> m_downloadNotice;
    QString m_downloadsFolder;
};
