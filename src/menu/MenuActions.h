#pragma once

#include "menu/MenuPlugin.h"
#include "platform/SharingServices.h"
#include "store/HistoryModel.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class KeyInjector;
class Pasteboard;
class SyncEngine;

// What the status menu's items do: paste a clip, run a plugin on it, favourite, share, save,
// un-secret or delete it, and the commands (sync, sign in, plugins, settings, quit). What an
// action means for the service is sync's to decide; this class only carries it out and says
// when the menu should show the store anew. Main thread only.
class MenuActions final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MenuActions)

public:
    explicit MenuActions(SyncEngine &sync, QObject *parent = nullptr);

    // The desktop services the actions use. Each may be absent; its actions then do nothing.
    struct Platform {
        Pasteboard *pasteboard = nullptr;
        KeyInjector *keyInjector = nullptr;
        SharingServices *sharing = nullptr;
    };
    void setPlatform(const Platform &platform) { m_platform = platform; }
    const Platform &platform() const { return m_platform; }
    void setPluginSource(MenuPluginSource source) { m_plugins = std::move(source); }
    const MenuPluginSource &pluginSource() const { return m_plugins; }
    // The settings window, opened at a pane (1 account, 3 about) or at its current one, and
    // the plugin window. Until the windows exist their commands open nothing.
    void setSettingsWindow(std::function<void(std::optional<int> pane)> show)
    {
        m_showSettings = std::move(show);
    }
    void setPluginWindow(std::function<void()> show) { m_showPlugins = std::move(show); }
    // The window with the whole history and its search.
    void setHistoryWindow(std::function<void()> show) { m_showHistory = std::move(show); }
    // Where "保存到下载文件夹" writes; the desktop's download folder unless set.
    void setDownloadsFolder(const QString &folder) { m_downloadsFolder = folder; }
    QString downloadsFolder() const;
    // Runs after a clip was saved to the downloads folder, with the new file's path; the
    // desktop's recently-used list unless set.
    void setDownloadNotice(std::function<void(const QString &path)> notice)
    {
        m_downloadNotice = std::move(notice);
    }

    bool isRefresh() const { return m_isRefresh; }
    bool isSyncFavourite() const { return m_isSyncFavourite; }

    void clickItem(const HistoryModel &clip);
    void plugin(const MenuPlugin &plugin, const HistoryModel &clip);
    void favourite(const HistoryModel &clip);
    void shareClicked(const ShareService &service, const HistoryModel &clip);
    void save(const HistoryModel &clip);
    void unlockSecret(const HistoryModel &clip);
    void deleteClip(const HistoryModel &clip);
    // "重试": the clip's transfer, failed for good, is tried again.
    void retryTransfer(const HistoryModel &clip);
    // "同步历史记录": pulls until current (one pull at a time, only while signed in).
    void push();
    // "同步收藏": reconciles the favourites (one at a time, only while signed in).
    void syncFavourite();
    void login();
    void setting();
    void plugins();
    void history();
    void quit();

signals:
    // The rows changed: the menu is rebuilt soon.
    void changed();
    // A pull or a reconciliation ended: the menu, or its favourites, are rebuilt at once.
    void pulled();
    void favouritesReconciled();

private:
    SyncEngine &m_sync;
    bool m_isRefresh = false;
    bool m_isSyncFavourite = false;
    Platform m_platform;
    MenuPluginSource m_plugins;
    std::function<void(std::optional<int>)> m_showSettings;
    std::function<void()> m_showPlugins;
    std::function<void()> m_showHistory;
    std::function<void(const QString &)> m_downloadNotice;
    QString m_downloadsFolder;
};
